#include "model/WatchDirs.h"

#include "model/Config.h"
#include "model/Resolve.h"

namespace sylvix {

namespace {

bool absolute(std::string_view p)
{
    return (!p.empty() && (p[0] == '/' || p[0] == '\\')) || (p.size() > 1 && p[1] == ':');
}

void endWithSeparator(std::string &p)
{
    if (p.empty() || (p.back() != '/' && p.back() != '\\'))
        p += '\\';
}

} // namespace

std::vector<std::string> DirectoriesToWatch()
{
    std::vector<std::string> dirs;
    std::unique_ptr<ConfigKey> docMap = ServerKey ? ServerKey->openKey("DocMap") : nullptr;
    if (!docMap)
        return dirs;
    std::optional<std::string> serverRoot;
    std::string root;
    if (std::string s; ReadString(*ServerKey, "ServerRoot", s))
        serverRoot = s;
    bool haveRoot = ReadString(*docMap, "/", root);
    ConfigValue v;
    for (uint32_t i = 0; dirs.size() < kMaxWatchedDirectories && docMap->enumValue(i, v); ++i) {
        if (v.name.size() > kMaxDocMapText || v.data.size() > kMaxDocMapText)
            break;
        std::string dir = v.data.substr(0, v.data.find('\0'));
        if (!absolute(dir) && serverRoot) {
            std::string prefix = *serverRoot;
            endWithSeparator(prefix);
            if (v.name != "/" && haveRoot) {
                std::string r = root;
                endWithSeparator(r);
                prefix = absolute(r) ? r : prefix + r;
            }
            dir = prefix + dir;
        }
        NormalizeLocalPath(dir);
        dirs.push_back(std::move(dir));
    }
    return dirs;
}

} // namespace sylvix
