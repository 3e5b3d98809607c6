#include "props/access/AccessStore.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

namespace sylvix {

namespace {

constexpr const char *kAccessBasic = "Access\\Basic";
constexpr const char *kAuthBasic = "Authentication\\Basic";

// How long a name or text may be before an enumeration stops at it, as the
// server's own tools read them.
constexpr size_t kMaxPathName = 1023;
constexpr size_t kMaxName = 62; // realms, users, groups
constexpr size_t kMaxEntryName = 7;
constexpr size_t kMaxEntryText = 1023;
constexpr size_t kMaxDefaultRealm = 254;

// A name that can stand as one key below another: "\" would nest.
bool UsableName(std::string_view name)
{
    return !name.empty() && name.find('\\') == std::string_view::npos;
}

std::vector<std::string> SubkeyNames(ConfigKey *key, size_t maxLength)
{
    std::vector<std::string> names;
    std::string name;
    for (uint32_t i = 0; key && key->enumKey(i, name) && name.size() <= maxLength; ++i)
        names.push_back(name);
    return names;
}

// The texts of a list key's entries, in store order.
std::vector<std::string> EntryTexts(ConfigKey *key)
{
    std::vector<std::string> texts;
    ConfigValue value;
    for (uint32_t i = 0; key && key->enumValue(i, value); ++i) {
        if (value.name.size() > kMaxEntryName || value.data.size() > kMaxEntryText)
            break;
        texts.push_back(value.data);
    }
    return texts;
}

std::string EntryName(uint32_t number)
{
    char name[16];
    std::snprintf(name, sizeof name, "%04u", number);
    return name;
}

std::string JoinKey(std::string_view a, std::string_view b)
{
    std::string path(a);
    path += '\\';
    path += b;
    return path;
}

} // namespace

std::string ShownEntry(std::string_view stored)
{
    if (stored.substr(0, 4) == "user")
        return std::string(stored.size() > 5 ? stored.substr(5) : std::string_view());
    return "[" + std::string(stored.size() > 6 ? stored.substr(6) : std::string_view()) + "]";
}

std::string StoredEntry(std::string_view shown)
{
    if (!shown.empty() && shown.front() == '[') {
        std::string_view name = shown.substr(1);
        if (!name.empty())
            name.remove_suffix(1);
        return "group " + std::string(name);
    }
    return "user " + std::string(shown);
}

bool CoversDir(std::string_view path, std::string_view dir)
{
    if (path.empty() || path.size() > dir.size())
        return false;
    for (size_t i = 0; i < path.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(path[i]))
            != std::tolower(static_cast<unsigned char>(dir[i])))
            return false;
    }
    return true;
}

std::vector<std::string> CandidatePaths(std::string_view dir,
                                        const std::vector<std::string> &existing)
{
    std::vector<std::string> candidates;
    std::string rest(dir);
    for (size_t cut; (cut = rest.rfind('/')) != std::string::npos;) {
        rest.resize(cut);
        if (!rest.empty() && std::find(existing.begin(), existing.end(), rest) == existing.end())
            candidates.push_back(rest);
    }
    return candidates;
}

bool PathDeletable(std::string_view path)
{
    return !path.empty() && path != "/" && !(path.size() >= 3 && path[1] == '~');
}

AccessStore::AccessStore(ConfigStore &store, ConfigKey &serverKey)
    : m_store(store), m_serverKey(serverKey)
{}

std::unique_ptr<ConfigKey> AccessStore::openPath(const std::string &path)
{
    if (!UsableName(path))
        return nullptr;
    return m_serverKey.openKey(JoinKey(kAccessBasic, path));
}

std::vector<std::string> AccessStore::ListProtectedPaths()
{
    return SubkeyNames(m_serverKey.openKey(kAccessBasic).get(), kMaxPathName);
}

std::optional<AccessPath> AccessStore::LoadPath(const std::string &path)
{
    auto key = openPath(path);
    if (!key)
        return std::nullopt;
    AccessPath result;
    for (const std::string &name : SubkeyNames(key.get(), kMaxName)) {
        if (name.front() != '*') {
            result.realm = name;
            break;
        }
    }
    if (!result.realm.empty()) {
        for (const std::string &text : EntryTexts(key->openKey(result.realm).get()))
            result.users.push_back(ShownEntry(text));
    }
    result.allow = EntryTexts(key->openKey(kAllowList).get());
    result.deny = EntryTexts(key->openKey(kDenyList).get());
    uint32_t order = 0;
    if (ReadBinary32(*key, "Order", order))
        result.order = order;
    return result;
}

bool AccessStore::SetOrder(const std::string &path, uint32_t order)
{
    return m_store.transaction([&] {
        auto key = openPath(path);
        return key && WriteBinary32(*key, "Order", order);
    });
}

bool AccessStore::writeEntries(ConfigKey &list, bool classList,
                               const std::vector<std::string> &entries, uint32_t firstNumber)
{
    uint32_t number = firstNumber;
    for (const std::string &entry : entries) {
        if (!step("write entry")
            || !WriteString(list, EntryName(number++), classList ? entry : StoredEntry(entry)))
            return false;
    }
    return true;
}

bool AccessStore::AddEntry(const std::string &path, const std::string &listName,
                           const std::string &entry)
{
    if (!UsableName(listName))
        return false;
    return m_store.transaction([&] {
        auto key = openPath(path);
        auto list = key ? key->createKey(listName) : nullptr;
        if (!list)
            return false;
        // Numbered after the values there; a list that another program left
        // with a gap must not lose an entry to the new one.
        uint32_t number = list->countValues() + 1;
        ConfigValue existing;
        while (list->queryValue(EntryName(number), existing))
            ++number;
        return writeEntries(*list, listName.front() == '*', {entry}, number);
    });
}

bool AccessStore::RewriteList(const std::string &path, const std::string &listName,
                              const std::vector<std::string> &entries)
{
    if (!UsableName(listName))
        return false;
    return m_store.transaction([&] {
        auto key = openPath(path);
        if (!key || !step("delete list"))
            return false;
        if (key->openKey(listName) && !key->deleteKey(listName))
            return false;
        auto list = step("create list") ? key->createKey(listName) : nullptr;
        return list && writeEntries(*list, listName.front() == '*', entries, 1);
    });
}

bool AccessStore::CreatePath(const std::string &path, const std::string &realm)
{
    if (!UsableName(path) || (!realm.empty() && (!UsableName(realm) || realm.front() == '*')))
        return false;
    return m_store.transaction([&] {
        if (openPath(path))
            return false;
        auto key
            = step("create path") ? m_serverKey.createKey(JoinKey(kAccessBasic, path)) : nullptr;
        if (!key || !step("order") || !WriteBinary32(*key, "Order", kOrderAllowDeny))
            return false;
        if (!step("deny") || !key->createKey(kDenyList))
            return false;
        auto allow = step("allow") ? key->createKey(kAllowList) : nullptr;
        if (!allow || !WriteString(*allow, EntryName(1), "all"))
            return false;
        return realm.empty() || (step("realm") && key->createKey(realm));
    });
}

bool AccessStore::DeletePath(const std::string &path, const std::string &realm)
{
    return m_store.transaction([&] {
        auto basic = m_serverKey.openKey(kAccessBasic);
        auto key = basic && UsableName(path) ? basic->openKey(path) : nullptr;
        if (!key)
            return false;
        std::vector<std::string> lists = {kAllowList, kDenyList};
        if (!realm.empty())
            lists.push_back(realm);
        for (const std::string &list : lists) {
            if (!step(list) || (key->openKey(list) && !key->deleteKey(list)))
                return false;
        }
        key.reset();
        return step("path") && basic->deleteKey(path);
    });
}

RealmList AccessStore::ListRealms()
{
    RealmList realms;
    auto key = m_serverKey.openKey(kAuthBasic);
    realms.names = SubkeyNames(key.get(), kMaxName);
    std::string text;
    if (key && ReadString(*key, "DefaultRealm", text, kMaxDefaultRealm))
        realms.defaultRealm = text;
    return realms;
}

std::vector<std::string> AccessStore::ListUsersAndGroups(const std::string &realm)
{
    std::vector<std::string> entries;
    if (!UsableName(realm))
        return entries;
    auto key = m_serverKey.openKey(JoinKey(kAuthBasic, realm));
    if (!key)
        return entries;
    // A user's data (the password) is not needed here, so it limits nothing.
    auto users = key->openKey("Users");
    ConfigValue value;
    for (uint32_t i = 0; users && users->enumValue(i, value) && value.name.size() <= kMaxName; ++i)
        entries.push_back(value.name);
    for (const std::string &group : SubkeyNames(key->openKey("Groups").get(), kMaxName))
        entries.push_back("[" + group + "]");
    return entries;
}

} // namespace sylvix
