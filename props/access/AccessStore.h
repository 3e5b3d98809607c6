#pragma once

// The web server's access control as it stands in the configuration store
// under the server's key: protected URL paths with their realm lists, class
// lists and order, and the realms with their users and groups. Free of
// windowing code; the Access Control page is built on it.

#include "platform/ConfigStore.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sylvix {

inline constexpr const char *kAllowList = "*allow";
inline constexpr const char *kDenyList = "*deny";

// Order of a path's class lists.
inline constexpr uint32_t kOrderDenyAllow = 0;
inline constexpr uint32_t kOrderAllowDeny = 1;

// A realm-list entry as the store holds it ("user alice", "group staff") and
// as the lists show it ("alice", "[staff]").
std::string ShownEntry(std::string_view stored);
std::string StoredEntry(std::string_view shown);

// Whether the protected path covers the directory dir: a prefix of it,
// compared without regard to case (so "/" and "/docs/" both cover "/docs/sub/").
bool CoversDir(std::string_view path, std::string_view dir);
// The paths that could newly be protected for dir: dir cut at its last "/"
// again and again, leaving out those in existing and the empty rest.
std::vector<std::string> CandidatePaths(std::string_view dir,
                                        const std::vector<std::string> &existing);
// False for the root "/" and for a user's home such as "/~joe/", whose
// protection the server needs.
bool PathDeletable(std::string_view path);

struct AccessPath
{
    std::string realm;              // "" when the path names none
    std::vector<std::string> users; // realm list, shown form, store order
    std::vector<std::string> allow; // classes, store order
    std::vector<std::string> deny;
    std::optional<uint32_t> order; // absent when "Order" is missing or not binary
};

struct RealmList
{
    std::vector<std::string> names;
    std::optional<std::string> defaultRealm;
};

class AccessStore
{
public:
    // serverKey is the server's configuration key in store; both outlive this.
    AccessStore(ConfigStore &store, ConfigKey &serverKey);

    // Names of the protected paths, in store order.
    std::vector<std::string> ListProtectedPaths();
    // Nullopt when the path is not protected (any more).
    std::optional<AccessPath> LoadPath(const std::string &path);

    // Each change below returns false, and leaves the store as it was, when
    // the path is not protected (another program removed it), a name is
    // unusable, or the store refused a write.
    bool SetOrder(const std::string &path, uint32_t order);
    // listName: kAllowList, kDenyList or the path's realm (then entry is in
    // shown form). Appends one value numbered after the ones there.
    bool AddEntry(const std::string &path, const std::string &listName, const std::string &entry);
    // Replaces the list with entries, numbered "0001"... in the given order.
    bool RewriteList(const std::string &path, const std::string &listName,
                     const std::vector<std::string> &entries);
    // A new protected path: order "Allow, then Deny", allow "all", nobody in
    // the realm. False also when the path is protected already.
    bool CreatePath(const std::string &path, const std::string &realm);
    // Removes the path with its class lists and its realm list.
    bool DeletePath(const std::string &path, const std::string &realm);

    RealmList ListRealms();
    // The realm's users, then its groups as "[name]"; store order.
    std::vector<std::string> ListUsersAndGroups(const std::string &realm);

    // Test seam: called before each step of a multi-step change with the
    // step's name; returning false makes the step fail.
    void setStepCheck(std::function<bool(std::string_view step)> check)
    {
        m_stepCheck = std::move(check);
    }

private:
    bool step(std::string_view name) const { return !m_stepCheck || m_stepCheck(name); }
    std::unique_ptr<ConfigKey> openPath(const std::string &path);
    bool writeEntries(ConfigKey &list, bool classList, const std::vector<std::string> &entries,
                      uint32_t firstNumber);

    ConfigStore &m_store;
    ConfigKey &m_serverKey;
    std::function<bool(std::string_view)> m_stepCheck;
};

} // namespace sylvix
