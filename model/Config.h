#pragma once

// The server's configuration, as the site model reads it from the store.

#include "platform/ConfigStore.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sylvix {

class SiteNode;

inline constexpr const char *kServerKeyPath = "SOFTWARE\\Tavrin\\WebServer\\CurrentVersion";
inline constexpr const char *kProgramKeyPath = "SOFTWARE\\Kelto\\Sylvix\\CurrentVersion";

// The store in use and the two keys opened on it for the whole run.
extern std::unique_ptr<ConfigKey> ServerKey;  // null when the server's key is missing
extern std::unique_ptr<ConfigKey> ProgramKey; // null when the program's key is missing
extern bool verifyExternal;

// The local store (the program's own key always lives there) and, with a
// remote machine, that machine's store. Set by OpenConfiguration, or by a
// test beforehand with UseStores.
ConfigStore *LocalStore();
ConfigStore *ServerStore();
// Why a read of the stores failed (a file damaged after it was opened, a
// lost connection), "" when none did: what was read may be short, and is
// then no answer.
std::string ConfigReadFailure();
void UseStores(std::unique_ptr<ConfigStore> local, std::unique_ptr<ConfigStore> remote = nullptr);
void CloseConfiguration();

enum class OpenConfigResult : int { Ok = 0, NoProgramKey = 1, NoRemote = 2 };
// Opens the two keys (machine null or empty: the local machine); Ok also when
// the server's key is missing.
OpenConfigResult OpenConfiguration(const char *machine);

void InitRootFromServer(SiteNode *node);
std::optional<std::string> LookupRedirect(SiteNode *node);
bool LookupExeMap(const char *mapName, std::string_view dir, std::string &out, size_t &bestLength);
void LookupDocMap(std::string_view dir, std::string &out, size_t &bestLength);
std::string TypeForFile(const char *path); // null: "text/html"
std::string ExtensionForType(std::string_view type);

// The values of the server's key that resolution reads, as they stand in the
// store now. Reads are served from a copy taken at the store's current
// generation, so a change committed by anybody is seen at the next lookup.
struct ImageMapEntry
{
    std::string name;
    std::string data;
};
struct ServerSettings
{
    std::optional<std::string> serverName;
    std::optional<uint32_t> tcpPort;
    std::optional<std::string> serverRoot;
    std::optional<std::string> indexDoc;
    std::optional<ConfigValue> enableIndexing;
};
const ServerSettings &CurrentServerSettings();
// The values of one image map's key, in store order; nullopt when the
// "ImageMaps" key or the map's key is missing.
std::optional<std::vector<ConfigValue>> ImageMapValues(std::string_view mapName);

// While one is alive, lookups reuse the copy they read first instead of
// asking the store again: one resolution sees one state of the store.
class ConfigPin
{
public:
    ConfigPin();
    ~ConfigPin();
    ConfigPin(const ConfigPin &) = delete;
    ConfigPin &operator=(const ConfigPin &) = delete;
};

// How many times the cached copy was rebuilt and how many lookups it served
// (for measurements).
struct ConfigCacheStats
{
    uint64_t reloads = 0;
    uint64_t lookups = 0;
    uint64_t checks = 0; // times the store was asked whether anything changed
    double reloadSeconds = 0;
    double storeSeconds = 0; // all time spent asking the store, reloads included
};
ConfigCacheStats ConfigStats();

} // namespace sylvix
