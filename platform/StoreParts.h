#pragma once

// What the store's backends share: key paths and names, and the store
// object over a connection that does the work. Internal to platform/.

#include "platform/ConfigStore.h"
#include "platform/TextUtil.h"

#include <algorithm>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace sylvix::store {

// Names compare by their ASCII lower-case form; other bytes stay as they are.
inline std::string AsciiLower(std::string_view s)
{
    return toLowerAscii(s);
}

// Splits a "\"-separated path; false when a part is empty ("a\\b", "\a").
inline bool SplitPath(std::string_view path, std::vector<std::string_view> &parts)
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

inline void AppendPart(std::string &path, std::string_view part)
{
    if (!path.empty())
        path += '\\';
    path += part;
}

inline std::string LastPart(const std::string &path)
{
    size_t slash = path.rfind('\\');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// How deep a key at path sits below the root.
inline size_t KeyDepth(const std::string &path)
{
    return path.empty() ? 0 : static_cast<size_t>(std::count(path.begin(), path.end(), '\\') + 1);
}

// The store over one connection, shared with every key handle opened from
// it so that handles may outlive the store. Connection gives mutex(),
// generation(), write(fn), error(), failure() and readOnly(); Key is made
// from the connection, the root's id and its empty path.
template<typename Connection, typename Key, int64_t RootId>
class ConnectionStore final : public ConfigStore
{
public:
    explicit ConnectionStore(std::shared_ptr<Connection> c) : m_c(std::move(c)) {}

    std::unique_ptr<ConfigKey> root() override
    {
        return std::make_unique<Key>(m_c, RootId, std::string());
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
    std::shared_ptr<Connection> m_c;
};

} // namespace sylvix::store
