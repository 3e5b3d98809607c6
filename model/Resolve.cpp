#include "model/Resolve.h"

#include "model/Cause.h"
#include "model/Config.h"
#include "model/Http.h"
#include "model/SiteNode.h"
#include "model/Url.h"
#include "platform/TextUtil.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace sylvix {

bool StatFile(const char *path, FileStatus &st)
{
    struct stat s;
    if (::stat(path, &s) != 0)
        return false;
    st.dev = s.st_dev;
    st.ino = s.st_ino;
    st.mode = s.st_mode;
    st.size = s.st_size;
    st.mtime = s.st_mtime;
    st.mtimeNsec = static_cast<int32_t>(s.st_mtim.tv_nsec);
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

constexpr std::string_view kCannotServe = "The server cannot send ";

// Why the server could not send the file at path with status st, "" when
// it could. A directory is fine only as a directory URL (ending in "/").
std::string cannotServe(const std::string &path, const FileStatus &st)
{
    const mode_t mode = static_cast<mode_t>(st.mode);
    std::string why;
    if (S_ISDIR(mode))
        why = path.empty() || isSep(path.back()) ? "" : "it is a directory";
    else if (S_ISFIFO(mode))
        why = "it is a named pipe";
    else if (S_ISCHR(mode) || S_ISBLK(mode))
        why = "it is a device";
    else if (S_ISSOCK(mode))
        why = "it is a socket";
    else if (!S_ISREG(mode))
        why = "it is not a regular file";
    else if (::access(path.c_str(), R_OK) != 0)
        why = std::string("it cannot be read (") + std::strerror(errno) + ")";
    return why.empty() ? why : std::string(kCannotServe) + path + ": " + why;
}

// Takes the status of the node's file; false when it is missing. A file that
// is there but that the server could not send makes the node BROKEN, with a
// note saying why.
bool takeStatus(SiteNode *node)
{
    // A note from an earlier look goes; a parse's messages stay.
    if (node->diagnostics && !node->diagnostics.pending() && node->diagnostics->size() == 1
        && node->diagnostics->front().message.starts_with(kCannotServe))
        node->diagnostics.reset();
    FileStatus st;
    if (!StatFile(node->localPath.c_str(), st))
        return false;
    node->stat = st;
    const std::string why
        = (node->flags & VIRTUAL) ? std::string() : cannotServe(node->localPath.str(), st);
    if (!why.empty()) {
        node->flags |= BROKEN;
        node->cause = CauseCannotServe;
        node->diagnostics = std::make_shared<const DiagnosticList>(DiagnosticList{{why, 2, 0}});
        return true;
    }
    node->flags &= ~BROKEN;
    return true;
}

// path without "." and ".." segments or repeated separators, by the text
// alone (symbolic links stay as they are); nullopt when ".." climbs above
// its start.
std::optional<std::string> lexicallyClean(std::string_view path)
{
    std::vector<std::string_view> parts;
    size_t i = 0;
    while (i <= path.size()) {
        size_t j = path.find('/', i);
        if (j == std::string_view::npos)
            j = path.size();
        std::string_view seg = path.substr(i, j - i);
        if (seg == "..") {
            if (parts.empty())
                return std::nullopt;
            parts.pop_back();
        } else if (!seg.empty() && seg != ".") {
            parts.push_back(seg);
        }
        i = j + 1;
    }
    std::string out = !path.empty() && path[0] == '/' ? "/" : "";
    for (size_t k = 0; k < parts.size(); ++k) {
        if (k)
            out += '/';
        out += parts[k];
    }
    return out;
}

// Whether path lies in the served directory dir. Decided on the text, so
// that a file outside is never even looked at; a symbolic link inside a
// served directory is followed, as the server follows it.
bool insideServed(const std::string &path, std::string dir)
{
    NormalizeLocalPath(dir);
    auto p = lexicallyClean(path);
    auto d = lexicallyClean(dir);
    if (!p || !d)
        return false;
    if (d->empty() || *d == "/")
        return d->empty() ? (*p)[0] != '/' : (*p)[0] == '/';
    return p->compare(0, d->size(), *d) == 0 && (p->size() == d->size() || (*p)[d->size()] == '/');
}

// FindProgramFile that never looks above dir.
std::optional<std::string> programWithin(const std::string &path, const std::string &dir)
{
    std::string p = path;
    for (;;) {
        size_t cut = p.rfind('/');
        if (cut == std::string::npos)
            return std::nullopt;
        p.resize(cut);
        if (p.empty() || !insideServed(p, dir))
            return std::nullopt;
        if (isReadableRegularFile(p))
            return p;
    }
}

void markOutside(SiteNode *node, const std::string &path)
{
    node->localPath = SharedStr(path);
    node->flags |= BROKEN;
    node->cause = CauseOutsideSite;
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
            if (!insideServed(path, S + "icons/")) {
                markOutside(node, path);
                return 1;
            }
            node->localPath = SharedStr(path);
            if (!takeStatus(node))
                node->flags |= BROKEN;
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
            node->cause = CauseRedirectLoop;
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
        node->cause = CausePathTooLong;
        return 1;
    }
    NormalizeLocalPath(path);
    if (!insideServed(path, B)) {
        markOutside(node, path);
        return 1;
    }
    node->localPath = SharedStr(path);
    KindFromType(node);
    if (startsWithNoCase(node->mimeType.view(), "wwwserver/"))
        node->flags |= VIRTUAL;
    if ((node->flags & VIRTUAL) && !canOpenForReading(path)) {
        if (auto program = programWithin(path, B))
            node->localPath = SharedStr(*program);
    }
    if (takeStatus(node))
        return 1;
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
        if (!enabled) {
            node->flags |= BROKEN;
            node->cause = CauseNoIndex;
        }
        return 1;
    }
    node->flags |= BROKEN;
    node->cause = CauseNoSuchFile;
    return 1;
}

int resolve(SiteNode *node, int redirectsLeft)
{
    PrepareChange(node);
    // A document fetched earlier goes with its last holder.
    if (node->localPath && node->localPath.useCount() == 1)
        DeleteTempFile(node->localPath.str());
    node->localPath.reset();
    node->cause = CauseUnknown;
    node->httpStatus = 0;
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

ResolveResult ResolveNode(SiteNode *node)
{
    ConfigPin pin;
    return resolve(node, kMaxRedirects) ? ResolveResult::Finished : ResolveResult::Stopped;
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
    if (node->fragment()) {
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
    removeDotSegments(path);
}

} // namespace sylvix
