#include "model/Resolve.h"

#include "model/Config.h"
#include "model/Http.h"
#include "model/SiteNode.h"
#include "model/Text.h"
#include "model/Url.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace sylvix {

bool StatFile(const char *path, FileStatus &st)
{
    struct stat s;
    if (::stat(path, &s) != 0)
        return false;
    st.dev = s.st_dev;
    st.ino = s.st_ino;
    st.mode = s.st_mode;
    st.nlink = static_cast<uint32_t>(s.st_nlink);
    st.uid = s.st_uid;
    st.gid = s.st_gid;
    st.rdev = s.st_rdev;
    st.size = s.st_size;
    st.atime = s.st_atime;
    st.mtime = s.st_mtime;
    st.mtimeNsec = s.st_mtim.tv_nsec;
    st.ctime = s.st_ctime;
    return true;
}

namespace {

bool isSep(char c)
{
    return c == '/' || c == '\\';
}

// Readable without opening: opening a named pipe for reading would block.
bool canOpenForReading(const std::string &path)
{
    return ::access(path.c_str(), R_OK) == 0;
}

bool isReadableRegularFile(const std::string &path)
{
    struct stat s;
    return ::stat(path.c_str(), &s) == 0 && S_ISREG(s.st_mode) && ::access(path.c_str(), R_OK) == 0;
}

int resolve(SiteNode *node, int redirectsLeft);

void takeStatus(SiteNode *node)
{
    FileStatus st;
    if (StatFile(node->localPath.c_str(), st)) {
        node->stat = st;
        node->flags &= ~BROKEN;
    } else {
        node->flags |= BROKEN;
    }
}

int resolveLocal(SiteNode *node, int redirectsLeft)
{
    PrepareChange(node);
    const ServerSettings &settings = CurrentServerSettings();
    const std::string D(node->dir.view());
    const bool hasFile = node->file.present();
    const std::string F(node->file.view());
    std::string S = settings.serverRoot.value_or(std::string());
    if (!S.empty() && !isSep(S.back()))
        S += '/';

    const bool tilde = D.size() >= 2 && D[0] == '/' && D[1] == '~';
    if (tilde) {
        std::string_view rest = std::string_view(D).substr(2);
        if (equalsNoCase(rest, "imagemap/")) {
            node->kind = ImageMap;
            node->flags |= VIRTUAL;
            node->mimeType = SharedStr("application/imagemap");
            return 1;
        }
        if (equalsNoCase(rest, "icons/")) {
            std::string path = S + "icons/" + F;
            NormalizeLocalPath(path);
            node->localPath = SharedStr(path);
            takeStatus(node);
            KindFromType(node);
            return 1;
        }
    }
    if ((tilde && hasFile) || (D == "/" && !F.empty() && F[0] == '~')) {
        struct Function
        {
            const char *name;
            NodeKind kind;
        };
        static const Function functions[] = {{"stats", Stats},
                                             {"zero-ctrs", ZeroStats},
                                             {"cycle-acc", CycleAccess},
                                             {"cycle-err", CycleErrors},
                                             {"cycle-both", CycleAll}};
        std::string_view name = std::string_view(F).substr(F.empty() ? 0 : 1);
        for (const Function &f : functions)
            if (equalsNoCase(name, f.name)) {
                node->kind = f.kind;
                node->flags |= VIRTUAL;
                return 1;
            }
    }

    if (auto target = LookupRedirect(node)) {
        if (redirectsLeft <= 0) {
            node->flags |= BROKEN;
            return 1;
        }
        ParseUrl(node, *target, nullptr);
        BuildUrl(node);
        return resolve(node, redirectsLeft - 1);
    }

    std::string M;
    size_t L = 0;
    for (const char *map : {"ConsExeMap", "ShellExeMap", "WinExeMap"})
        if (LookupExeMap(map, D, M, L))
            node->flags |= VIRTUAL;
    if (M.empty())
        LookupDocMap(D, M, L);

    std::string R = L <= D.size() ? D.substr(L) : std::string();
    bool absolute = (!M.empty() && isSep(M[0])) || (M.size() > 1 && M[1] == ':');
    std::string B = absolute ? M : S + M;
    std::string I = hasFile ? std::string() : settings.indexDoc.value_or(std::string());

    std::string path = B;
    bool bSep = !path.empty() && isSep(path.back());
    bool rSep = !R.empty() && isSep(R[0]);
    if (bSep && rSep)
        path += R.substr(1);
    else if (!bSep && !rSep) {
        path += '/';
        path += R;
    } else
        path += R;
    if (path.empty() || !isSep(path.back()))
        path += '/';
    path += I.empty() ? F : I;

    if (path.size() > kMaxLocalPath) {
        node->localPath.reset();
        node->flags |= BROKEN;
        return 1;
    }
    NormalizeLocalPath(path);
    node->localPath = SharedStr(path);
    KindFromType(node);
    if (startsWithNoCase(node->mimeType.view(), "wwwserver/"))
        node->flags |= VIRTUAL;
    if ((node->flags & VIRTUAL) && !canOpenForReading(path)) {
        if (auto program = FindProgramFile(path))
            node->localPath = SharedStr(*program);
    }
    FileStatus st;
    if (StatFile(node->localPath.c_str(), st)) {
        node->stat = st;
        node->flags &= ~BROKEN;
        return 1;
    }
    if (!I.empty()) {
        node->file.reset();
        std::string dirPath(node->localPath.view());
        size_t cut = dirPath.rfind('/');
        dirPath.resize(cut == std::string::npos ? 0 : cut);
        node->localPath = SharedStr(dirPath);
        node->kind = HtmlDir;
        node->mimeType = SharedStr("text/html");
        const auto &ei = settings.enableIndexing;
        bool enabled = ei && ei->type == ValueType::Binary
                       && ei->data.find_first_not_of('\0') != std::string::npos;
        if (!enabled)
            node->flags |= BROKEN;
        return 1;
    }
    node->flags |= BROKEN;
    return 1;
}

int resolve(SiteNode *node, int redirectsLeft)
{
    PrepareChange(node);
    // A document fetched earlier goes with its last holder.
    if (node->localPath && node->localPath.useCount() == 1)
        DeleteTempFile(node->localPath.str());
    node->localPath.reset();
    if (!equalsNoCase(node->scheme.view(), "http")) {
        node->flags |= EXTERNAL;
        return CheckExternal(node);
    }
    const ServerSettings &settings = CurrentServerSettings();
    if (!settings.tcpPort || static_cast<int64_t>(*settings.tcpPort) != node->port) {
        node->flags |= EXTERNAL;
        return CheckExternal(node);
    }
    if (node->host.view() == "localhost") {
        node->flags &= ~EXTERNAL;
        return resolveLocal(node, redirectsLeft);
    }
    if (node->host.view() != "127.0.0.1") {
        if (!settings.serverName || !equalsNoCase(*settings.serverName, node->host.view())) {
            node->flags |= EXTERNAL;
            return CheckExternal(node);
        }
    }
    node->flags &= ~EXTERNAL;
    return resolveLocal(node, redirectsLeft);
}

} // namespace

int ResolveNode(SiteNode *node)
{
    ConfigPin pin;
    return resolve(node, kMaxRedirects);
}

int ResolveLocal(SiteNode *node)
{
    ConfigPin pin;
    return resolveLocal(node, kMaxRedirects);
}

int CheckExternal(SiteNode *node)
{
    PrepareChange(node);
    if (equalsNoCase(node->scheme.view(), "http") && verifyExternal)
        return FetchOverHttp(node);
    node->flags |= NOTVER;
    KindFromType(node);
    return 1;
}

void KindFromType(SiteNode *node)
{
    PrepareChange(node);
    std::string_view scheme = node->scheme.view();
    if (equalsNoCase(scheme, "mailto")) {
        node->kind = MailTo;
        return;
    }
    if (equalsNoCase(scheme, "telnet")) {
        node->kind = Telnet;
        return;
    }
    if (equalsNoCase(scheme, "gopher")) {
        node->kind = Gopher;
        return;
    }
    if (equalsNoCase(scheme, "news")) {
        node->kind = News;
        return;
    }
    if (equalsNoCase(scheme, "ftp")) {
        node->kind = Ftp;
        return;
    }
    if (!node->mimeType && !node->localPath) {
        node->kind = Unknown;
        return;
    }
    if (!node->mimeType)
        node->mimeType = SharedStr(TypeForFile(node->localPath.c_str()));
    std::string_view type = node->mimeType.view();
    struct Rule
    {
        const char *prefix;
        NodeKind kind;
    };
    if (startsWithNoCase(type, "image/")) {
        node->kind = Image;
        return;
    }
    if (node->fragment) {
        node->kind = Html;
        node->mimeType = SharedStr("text/html");
        return;
    }
    static const Rule rules[] = {{"text/html", Html},
                                 {"text/plain", TextDoc},
                                 {"video/", Video},
                                 {"audio/", Audio},
                                 {"application/postscript", TextDoc},
                                 {"wwwserver/shellcgi", Program},
                                 {"wwwserver/doscgi", Program},
                                 {"wwwserver/wincgi", Program}};
    for (const Rule &r : rules)
        if (startsWithNoCase(type, r.prefix)) {
            node->kind = r.kind;
            return;
        }
    node->kind = (node->flags & VIRTUAL) ? Program : Unknown;
}

std::optional<std::string> FindProgramFile(const std::string &path)
{
    std::string p = path;
    for (;;) {
        size_t cut = p.rfind('/');
        if (cut == std::string::npos)
            cut = p.rfind('\\');
        if (cut == std::string::npos)
            return std::nullopt;
        p.resize(cut);
        if (!p.empty() && isReadableRegularFile(p))
            return p;
    }
}

void NormalizeLocalPath(std::string &path)
{
    for (char &c : path)
        if (c == '\\')
            c = '/';
    for (;;) {
        size_t m = path.find("/../");
        if (m == std::string::npos || m < 2)
            return;
        size_t from = path.rfind('/', m - 2);
        if (from == std::string::npos)
            return;
        path.erase(from, m + 3 - from);
    }
}

} // namespace sylvix
