#include "model/Config.h"

#include "model/SiteNode.h"
#include "model/Url.h"
#include "platform/TextUtil.h"

#include <chrono>
#include <unordered_map>

namespace sylvix {

std::unique_ptr<ConfigKey> ServerKey;
std::unique_ptr<ConfigKey> ProgramKey;
bool verifyExternal = true;

namespace {

std::unique_ptr<ConfigStore> g_local;
std::unique_ptr<ConfigStore> g_remote;

// Values longer than this are cut, as the server's own buffers cut them.
constexpr size_t kShortText = 259;

struct Snapshot
{
    bool valid = false;
    uint64_t generation = 0;
    ServerSettings settings;
    std::vector<ConfigValue> redirMap;
    std::vector<ConfigValue> docMap;
    std::vector<ConfigValue> typeMap;
    std::vector<ConfigValue> exeMaps[3];                    // ConsExeMap, ShellExeMap, WinExeMap
    std::optional<std::string> docRoot;                     // the "DocMap" value named "/"
    std::unordered_map<std::string, std::string> typeByExt; // lower-case extension
    std::unordered_map<std::string, std::string> extByType; // lower-case type
    bool hasImageMaps = false;
    std::unordered_map<std::string, std::vector<ConfigValue>> imageMaps; // lower-case name
};

Snapshot g_snap;
ConfigCacheStats g_stats;
int g_pins = 0;
bool g_pinnedFresh = false; // checked against the store since the outermost pin began

std::vector<ConfigValue> readValues(ConfigKey *parent, const char *name, bool *exists = nullptr)
{
    std::vector<ConfigValue> out;
    if (exists)
        *exists = false;
    if (!parent)
        return out;
    auto key = parent->openKey(name);
    if (!key)
        return out;
    if (exists)
        *exists = true;
    ConfigValue v;
    for (uint32_t i = 0; key->enumValue(i, v); ++i)
        out.push_back(v);
    return out;
}

std::optional<std::string> readText(ConfigKey &key, const char *name, size_t maxChars)
{
    std::string s;
    if (ReadString(key, name, s, maxChars))
        return s;
    return std::nullopt;
}

void reload(Snapshot &s)
{
    auto t0 = std::chrono::steady_clock::now();
    s = Snapshot();
    ConfigKey *k = ServerKey.get();
    if (k) {
        s.settings.serverName = readText(*k, "ServerName", 1024);
        uint32_t port = 0;
        if (ReadDword(*k, "TCP Port", port))
            s.settings.tcpPort = port;
        s.settings.serverRoot = readText(*k, "ServerRoot", 4095);
        if (auto di = k->openKey("DirIndex")) {
            s.settings.indexDoc = readText(*di, "IndexDoc", kShortText);
            ConfigValue v;
            if (di->queryValue("EnableIndexing", v))
                s.settings.enableIndexing = v;
        }
        s.redirMap = readValues(k, "RedirMap");
        s.docMap = readValues(k, "DocMap");
        s.typeMap = readValues(k, "TypeMap");
        static const char *const exeNames[3] = {"ConsExeMap", "ShellExeMap", "WinExeMap"};
        for (int i = 0; i < 3; ++i)
            s.exeMaps[i] = readValues(k, exeNames[i]);
        if (auto maps = k->openKey("ImageMaps")) {
            s.hasImageMaps = true;
            std::string name;
            for (uint32_t i = 0; maps->enumKey(i, name); ++i) {
                std::string lc = toLowerAscii(name);
                if (!s.imageMaps.count(lc))
                    s.imageMaps[lc] = readValues(maps.get(), name.c_str());
            }
        }
    }
    for (const auto &v : s.docMap)
        if (v.name == "/" && !s.docRoot && v.type == ValueType::String)
            s.docRoot = v.data;
    for (auto &v : s.typeMap) {
        if (v.data.size() > kShortText)
            v.data.resize(kShortText);
        s.typeByExt.emplace(toLowerAscii(v.name), v.data);
        if (!v.name.empty())
            s.extByType.emplace(toLowerAscii(v.data), v.name);
    }
    for (auto &v : s.redirMap)
        if (v.data.size() > kShortText)
            v.data.resize(kShortText);
    s.valid = true;
    g_stats.reloads++;
    g_stats.reloadSeconds
        += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

const Snapshot &snap()
{
    g_stats.lookups++;
    if (g_pins > 0 && g_pinnedFresh && g_snap.valid)
        return g_snap;
    g_pinnedFresh = g_pins > 0;
    auto t0 = std::chrono::steady_clock::now();
    ConfigStore *store = ServerStore();
    uint64_t gen = store ? store->generation() : 0;
    g_stats.checks++;
    if (!g_snap.valid || gen != g_snap.generation) {
        reload(g_snap);
        g_snap.generation = gen;
    }
    g_stats.storeSeconds
        += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    return g_snap;
}

bool isAbsolutePath(std::string_view p)
{
    return (!p.empty() && (p[0] == '/' || p[0] == '\\')) || (p.size() > 1 && p[1] == ':');
}

} // namespace

ConfigStore *LocalStore()
{
    return g_local.get();
}
ConfigStore *ServerStore()
{
    return g_remote ? g_remote.get() : g_local.get();
}

std::string ConfigReadFailure()
{
    for (ConfigStore *store : {g_remote.get(), g_local.get()})
        if (store && !store->failure().empty())
            return store->failure();
    return {};
}

void UseStores(std::unique_ptr<ConfigStore> local, std::unique_ptr<ConfigStore> remote)
{
    CloseConfiguration();
    g_local = std::move(local);
    g_remote = std::move(remote);
}

void CloseConfiguration()
{
    ServerKey.reset();
    ProgramKey.reset();
    g_snap = Snapshot();
    g_remote.reset();
    g_local.reset();
}

OpenConfigResult OpenConfiguration(const char *machine)
{
    ServerKey.reset();
    ProgramKey.reset();
    g_snap = Snapshot();
    if (machine && *machine) {
        if (!g_remote) {
            g_remote = ConnectRemoteStore(machine);
            if (!g_remote)
                return OpenConfigResult::NoRemote;
        }
    }
    if (!g_local)
        g_local = OpenSqliteStore(DefaultStorePath(), nullptr, StoreOpen::Existing);
    if (!g_local)
        return OpenConfigResult::NoProgramKey;
    ConfigStore *server = ServerStore();
    ServerKey = server->root()->openKey(kServerKeyPath);
    if (!ServerKey)
        return OpenConfigResult::Ok;
    ProgramKey = g_local->root()->openKey(kProgramKeyPath);
    if (!ProgramKey)
        return OpenConfigResult::NoProgramKey;
    uint32_t outBound = 0;
    if (ReadDword(*ProgramKey, "OutBound", outBound))
        verifyExternal = outBound != 0;
    return OpenConfigResult::Ok;
}

const ServerSettings &CurrentServerSettings()
{
    return snap().settings;
}

void InitRootFromServer(SiteNode *node)
{
    const ServerSettings &s = CurrentServerSettings();
    PrepareChange(node);
    node->scheme = SharedStr("http");
    node->host
        = SharedStr(s.serverName ? std::string_view(*s.serverName) : std::string_view("localhost"));
    node->port = s.tcpPort ? static_cast<int32_t>(*s.tcpPort) : 0;
    node->dir = SharedStr("/");
    BuildUrl(node);
    node->href = node->url;
}

std::optional<std::string> LookupRedirect(SiteNode *node)
{
    const Snapshot &s = snap();
    for (const ConfigValue &v : s.redirMap) {
        // Scratch node, so that a name given as a path takes node's host and port.
        SiteNode *scratch = CreateNode();
        ParseUrl(scratch, v.name, node);
        bool match = equalsNoCase(scratch->dir.view(), node->dir.view())
                     && ((!scratch->file && !node->file)
                         || (scratch->file && node->file
                             && equalsNoCase(scratch->file.view(), node->file.view())));
        FreeNode(scratch);
        if (match)
            return v.data;
    }
    return std::nullopt;
}

namespace {
bool prefixSearch(const std::vector<ConfigValue> &values, std::string_view dir, std::string &out,
                  size_t &bestLength, bool rootGivesEmpty)
{
    bool grew = false;
    for (const ConfigValue &v : values) {
        size_t n = v.name.size();
        if (n > bestLength && dir.size() >= n && equalsNoCase(dir.substr(0, n), v.name)) {
            out = (rootGivesEmpty && v.name == "/") ? std::string() : v.data;
            bestLength = n;
            grew = true;
        }
    }
    return grew;
}
} // namespace

bool LookupExeMap(const char *mapName, std::string_view dir, std::string &out, size_t &bestLength)
{
    const Snapshot &s = snap();
    const std::vector<ConfigValue> *values = nullptr;
    if (equalsNoCase(mapName, "ConsExeMap"))
        values = &s.exeMaps[0];
    else if (equalsNoCase(mapName, "ShellExeMap"))
        values = &s.exeMaps[1];
    else if (equalsNoCase(mapName, "WinExeMap"))
        values = &s.exeMaps[2];
    if (values)
        return prefixSearch(*values, dir, out, bestLength, false);
    // Another map: read it as it stands.
    std::vector<ConfigValue> other = readValues(ServerKey.get(), mapName);
    return prefixSearch(other, dir, out, bestLength, false);
}

void LookupDocMap(std::string_view dir, std::string &out, size_t &bestLength)
{
    const Snapshot &s = snap();
    std::string root = s.docRoot.value_or(std::string());
    if (dir == "/") {
        out = root;
        return;
    }
    std::string m;
    if (!prefixSearch(s.docMap, dir, m, bestLength, true)) {
        out = root; // nothing matched: the document root
        return;
    }
    out = isAbsolutePath(m) ? m : root + m;
}

std::string TypeForFile(const char *path)
{
    if (!path)
        return "text/html";
    std::string_view p(path);
    size_t dot = p.rfind('.');
    std::string ext = dot == std::string_view::npos ? std::string() : toLowerAscii(p.substr(dot));
    const Snapshot &s = snap();
    auto it = s.typeByExt.find(ext);
    if (it != s.typeByExt.end())
        return it->second;
    return "application/octet-stream";
}

std::string ExtensionForType(std::string_view type)
{
    const Snapshot &s = snap();
    auto it = s.extByType.find(toLowerAscii(type));
    return it != s.extByType.end() ? it->second : std::string();
}

std::optional<std::vector<ConfigValue>> ImageMapValues(std::string_view mapName)
{
    const Snapshot &s = snap();
    if (!s.hasImageMaps)
        return std::nullopt;
    auto it = s.imageMaps.find(toLowerAscii(mapName));
    if (it == s.imageMaps.end())
        return std::nullopt;
    return it->second;
}

ConfigCacheStats ConfigStats()
{
    return g_stats;
}

ConfigPin::ConfigPin()
{
    ++g_pins;
}
ConfigPin::~ConfigPin()
{
    if (--g_pins == 0)
        g_pinnedFresh = false;
}

} // namespace sylvix
