// Key handles and the store object over any backend's connection.

#include "platform/StoreParts.h"

#include "platform/TextUtil.h"

#include <algorithm>
#include <vector>

namespace sylvix::store {

namespace {

// Splits a "\"-separated path; false when a part is empty ("a\\b", "\a").
bool SplitPath(std::string_view path, std::vector<std::string_view> &parts)
{
    parts.clear();
    if (path.empty())
        return true;
    size_t start = 0;
    for (;;) {
        size_t end = path.find('\\', start);
        std::string_view part
            = path.substr(start, end == std::string_view::npos ? path.npos : end - start);
        if (part.empty())
            return false;
        parts.push_back(part);
        if (end == std::string_view::npos)
            return true;
        start = end + 1;
    }
}

void AppendPart(std::string &path, std::string_view part)
{
    if (!path.empty())
        path += '\\';
    path += part;
}

// How deep a key at path sits below the root.
size_t KeyDepth(const std::string &path)
{
    return path.empty() ? 0 : static_cast<size_t>(std::count(path.begin(), path.end(), '\\') + 1);
}

class StoreKey final : public ConfigKey
{
public:
    StoreKey(std::shared_ptr<StoreConnection> c, int64_t id, std::string path)
        : m_c(std::move(c)), m_id(id), m_path(std::move(path))
    {}

    std::unique_ptr<ConfigKey> openKey(std::string_view path) override
    {
        std::lock_guard lock(m_c->mutex());
        int64_t id = 0;
        std::string full;
        if (!resolve(path, id, full))
            return nullptr;
        return std::make_unique<StoreKey>(m_c, id, std::move(full));
    }

    std::unique_ptr<ConfigKey> createKey(std::string_view path) override
    {
        std::lock_guard lock(m_c->mutex());
        std::vector<std::string_view> parts;
        if (!SplitPath(path, parts)) {
            m_c->setError("invalid key path: " + std::string(path));
            return nullptr;
        }
        int64_t id = m_id;
        std::string full = m_path;
        // Opening an existing key needs no write lock and changes nothing.
        if (resolve(path, id, full))
            return std::make_unique<StoreKey>(m_c, id, std::move(full));
        if (KeyDepth(m_path) + parts.size() > static_cast<size_t>(kMaxKeyDepth)) {
            m_c->setError("keys nest at most " + std::to_string(kMaxKeyDepth) + " deep");
            return nullptr;
        }
        bool ok = m_c->write([&] {
            // A transaction that lost a conflict runs again from the start.
            id = m_id;
            full = m_path;
            if (!exists())
                return false;
            for (std::string_view part : parts) {
                const std::string lower = toLowerAscii(part);
                StoredKey child;
                Found found = m_c->findChild(id, lower, child);
                if (found == Found::No)
                    found = m_c->insertKey(id, part, lower, child);
                if (found == Found::No)
                    m_c->setError("key was deleted: " + full);
                if (found != Found::Yes)
                    return false;
                id = child.id;
                AppendPart(full, child.name);
            }
            return true;
        });
        if (!ok)
            return nullptr;
        return std::make_unique<StoreKey>(m_c, id, std::move(full));
    }

    bool deleteKey(std::string_view name) override
    {
        std::lock_guard lock(m_c->mutex());
        if (name.empty()) {
            m_c->setError("no subkey named to delete");
            return false;
        }
        return m_c->write([&] {
            int64_t id = 0;
            std::string full;
            if (!resolve(name, id, full))
                return false;
            Found children = m_c->hasSubkeys(id);
            if (children == Found::Yes)
                m_c->setError("key has subkeys: " + full);
            return children == Found::No && remove(id);
        });
    }

    bool deleteTree(std::string_view path) override
    {
        std::lock_guard lock(m_c->mutex());
        return m_c->write([&] {
            int64_t id = 0;
            std::string full;
            if (!resolve(path, id, full))
                return false;
            // With no path the key itself stays; only what it holds goes.
            return path.empty() ? m_c->emptyKey(id) : remove(id);
        });
    }

    bool enumKey(uint32_t index, std::string &name) override
    {
        std::lock_guard lock(m_c->mutex());
        return m_c->keyAt(m_id, index, m_keyCursor, name);
    }

    bool enumValue(uint32_t index, ConfigValue &value) override
    {
        std::lock_guard lock(m_c->mutex());
        return m_c->valueAt(m_id, index, m_valueCursor, value);
    }

    uint32_t countValues() override
    {
        std::lock_guard lock(m_c->mutex());
        return m_c->countValues(m_id);
    }

    uint32_t countKeys() override
    {
        std::lock_guard lock(m_c->mutex());
        return m_c->countKeys(m_id);
    }

    bool queryValue(std::string_view name, ConfigValue &value, size_t maxData) override
    {
        std::lock_guard lock(m_c->mutex());
        ConfigValue found;
        switch (m_c->findValue(m_id, toLowerAscii(name), found)) {
        case Found::Yes: break;
        case Found::No: m_c->setError("value not found: " + std::string(name)); return false;
        case Found::Failed: return false;
        }
        // Strings count their terminating zero.
        size_t needed = found.data.size() + (found.type == ValueType::String ? 1 : 0);
        if (needed > maxData) {
            m_c->setError("value too large: " + std::string(name));
            return false;
        }
        value = std::move(found);
        return true;
    }

    bool setValue(std::string_view name, ValueType type, std::string_view data) override
    {
        std::lock_guard lock(m_c->mutex());
        return m_c->write([&] {
            Found done = m_c->setValue(m_id, name, toLowerAscii(name), type, data);
            if (done == Found::No)
                m_c->setError("key was deleted: " + m_path);
            return done == Found::Yes;
        });
    }

    bool deleteValue(std::string_view name) override
    {
        std::lock_guard lock(m_c->mutex());
        return m_c->write([&] {
            Found done = m_c->deleteValue(m_id, toLowerAscii(name));
            if (done == Found::No)
                m_c->setError("value not found: " + std::string(name));
            return done == Found::Yes;
        });
    }

    std::string name() const override
    {
        size_t slash = m_path.rfind('\\');
        return slash == std::string::npos ? m_path : m_path.substr(slash + 1);
    }
    std::string path() const override { return m_path; }

private:
    bool exists()
    {
        Found found = m_c->keyExists(m_id);
        if (found == Found::No)
            m_c->setError("key was deleted: " + m_path);
        return found == Found::Yes;
    }

    // Finds the key at path below this one, with its path in stored case.
    bool resolve(std::string_view path, int64_t &id, std::string &full)
    {
        std::vector<std::string_view> parts;
        if (!SplitPath(path, parts)) {
            m_c->setError("invalid key path: " + std::string(path));
            return false;
        }
        if (!exists())
            return false;
        id = m_id;
        full = m_path;
        for (std::string_view part : parts) {
            StoredKey child;
            Found found = m_c->findChild(id, toLowerAscii(part), child);
            if (found == Found::No) {
                std::string missing = full;
                AppendPart(missing, part);
                m_c->setError("key not found: " + missing);
            }
            if (found != Found::Yes)
                return false;
            id = child.id;
            AppendPart(full, child.name);
        }
        return true;
    }

    bool remove(int64_t id)
    {
        if (id == kRootKeyId) {
            m_c->setError("the root key cannot be deleted");
            return false;
        }
        return m_c->removeKey(id);
    }

    std::shared_ptr<StoreConnection> m_c;
    int64_t m_id;
    std::string m_path;
    EnumCursor m_keyCursor;
    EnumCursor m_valueCursor;
};

class SharedStore final : public ConfigStore
{
public:
    explicit SharedStore(std::shared_ptr<StoreConnection> c) : m_c(std::move(c)) {}

    std::unique_ptr<ConfigKey> root() override
    {
        return std::make_unique<StoreKey>(m_c, kRootKeyId, std::string());
    }

    uint64_t generation() override
    {
        std::lock_guard lock(m_c->mutex());
        return m_c->generation();
    }

    bool transaction(const std::function<bool()> &fn) override
    {
        std::lock_guard lock(m_c->mutex());
        return m_c->write(fn);
    }

    std::string lastError() const override
    {
        std::lock_guard lock(m_c->mutex());
        return m_c->error();
    }

    std::string failure() const override
    {
        std::lock_guard lock(m_c->mutex());
        return m_c->failure();
    }

    bool readOnly() const override { return m_c->readOnly(); }

private:
    std::shared_ptr<StoreConnection> m_c;
};

} // namespace

std::unique_ptr<ConfigStore> MakeStore(std::shared_ptr<StoreConnection> connection)
{
    return std::make_unique<SharedStore>(std::move(connection));
}

} // namespace sylvix::store
