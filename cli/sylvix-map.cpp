// sylvix-map: builds the site tree without a window and prints it.

#include "model/Config.h"
#include "model/Events.h"
#include "model/Expand.h"
#include "model/Http.h"
#include "model/Notify.h"
#include "model/ParseAhead.h"
#include "model/SiteNode.h"
#include "model/Walk.h"

#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

using namespace sylvix;

namespace {

enum class Format { Tree, Json, Csv, Summary };

struct Options
{
    std::string url;
    bool hasUrl = false;
    bool whole = false;
    int depth = 2;
    int mode = 4; // 0 hyperlink, 1 file name, 2 title, 3 label, 4 URL
    Format format = Format::Tree;
    bool brokenOnly = false;
    unsigned jobs = 0;
    std::string machine;
    std::string store;
    int checkExternal = -1; // -1: as configured
    bool answerYes = false;
    bool progress = false;
    bool literal = false;
};

const char *kUsage
    = "usage: sylvix-map [options] [URL]\n"
      "Builds the site tree of URL (default: the server's home page) from the\n"
      "server configuration in the store ($NORVANE_REGISTRY) and prints it.\n"
      "\n"
      "  -d, --depth N         examine the tree N levels deep (default 2)\n"
      "  -w, --whole           the whole tree, as a search walks it\n"
      "  -s, --show MODE       row text: hyperlink, file, title, label, url (default url)\n"
      "  -f, --format FORMAT   tree, json, csv or summary (default tree)\n"
      "  -b, --broken          list only broken links, with the page linking them\n"
      "  -j, --jobs N          parse documents ahead on N threads (default: cores)\n"
      "  -x, --check-external  check external http links over HTTP\n"
      "      --no-check-external  never touch the network\n"
      "      --answer yes|no   answer to questions asked while checking (default no)\n"
      "  -r, --remote MACHINE  read the server configuration of another machine\n"
      "      --store PATH      configuration store to use\n"
      "  -q, --quiet           no progress on stderr\n"
      "  -h, --help            this text\n"
      "\n"
      "Exit status: 0 nothing broken, 1 broken links found, 2 usage or configuration error.\n";

volatile std::sig_atomic_t g_interrupted = 0;

void onInterrupt(int)
{
    g_interrupted = 1;
    RequestCancel(1);
    std::signal(SIGINT, SIG_DFL);
}

bool parseMode(const std::string &s, int &mode)
{
    static const char *const names[] = {"hyperlink", "file", "title", "label", "url"};
    for (int i = 0; i < 5; ++i)
        if (s == names[i] || (i == 1 && s == "filename")) {
            mode = i;
            return true;
        }
    return false;
}

int usageError(const std::string &msg)
{
    std::fprintf(stderr, "sylvix-map: %s\n(try --help)\n", msg.c_str());
    return 2;
}

std::string flagMarks(uint32_t f)
{
    std::string s;
    s += (f & EXTERNAL) ? 'E' : '-';
    s += (f & VIRTUAL) ? 'V' : '-';
    s += (f & ISMAP) ? 'M' : '-';
    s += (f & NOTVER) ? 'N' : '-';
    s += (f & BROKEN) ? 'B' : '-';
    s += (f & INLINED) ? 'I' : '-';
    return s;
}

std::string flagNames(uint32_t f)
{
    std::string s;
    auto add = [&](uint32_t bit, const char *name) {
        if (f & bit) {
            if (!s.empty())
                s += '|';
            s += name;
        }
    };
    add(ISMAP, "ISMAP");
    add(BROKEN, "BROKEN");
    add(EXTERNAL, "EXTERNAL");
    add(NOTVER, "NOTVER");
    add(VIRTUAL, "VIRTUAL");
    add(INLINED, "INLINED");
    return s;
}

const SharedStr &textFor(const SiteNode *n, int mode)
{
    switch (mode) {
    case 0: return n->href;
    case 1: return n->localPath;
    case 2: return n->title;
    case 3: return n->label;
    default: return n->url;
    }
}

void jsonString(std::string &out, std::string_view s)
{
    out += '"';
    for (unsigned char c : s) {
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (c < 0x20) {
                char buf[8];
                std::snprintf(buf, sizeof buf, "\\u%04x", c);
                out += buf;
            } else {
                out += static_cast<char>(c);
            }
        }
    }
    out += '"';
}

void csvField(std::string &out, std::string_view s)
{
    bool quote = s.find_first_of(",\"\n\r") != std::string_view::npos;
    if (!quote) {
        out += s;
        return;
    }
    out += '"';
    for (char c : s) {
        if (c == '"')
            out += '"';
        out += c;
    }
    out += '"';
}

struct Counts
{
    size_t nodes = 0, parsed = 0, broken = 0, external = 0, mirrors = 0;
    size_t byKind[21] = {};
};

class Printer
{
public:
    Printer(const Options &o) : m_o(o) {}

    void begin()
    {
        if (m_o.format == Format::Csv)
            m_out = "depth,kind,flags,url,href,file,title,label,type,mirror,messages\n";
        else if (m_o.format == Format::Json)
            m_out = "[";
    }

    void node(SiteNode *n, int depth, bool descends)
    {
        bool mirror = n->equivalent != nullptr;
        if (m_o.brokenOnly) {
            descends = false; // a flat list
            if (!(n->flags & BROKEN))
                return;
            if (m_o.format == Format::Tree) {
                const SharedStr &t = textFor(n, m_o.mode);
                m_out += t.empty() ? std::string_view("(none)") : t.view();
                if (SiteNode *p = n->parent()) {
                    m_out += "  <- ";
                    m_out += p->url.view();
                }
                m_out += '\n';
                flush(false);
                return;
            }
        }
        switch (m_o.format) {
        case Format::Tree: {
            m_out.append(static_cast<size_t>(depth - 1) * 2, ' ');
            const SharedStr &t = textFor(n, m_o.mode);
            m_out += t.empty() ? std::string_view("(none)") : t.view();
            m_out += "  [";
            m_out += KindDisplayText(n->kind);
            m_out += ' ';
            m_out += flagMarks(n->flags);
            m_out += ']';
            if (m_o.mode != 1 && n->localPath) {
                m_out += "  ";
                m_out += n->localPath.view();
            }
            if (mirror)
                m_out += "  (mirror)";
            m_out += '\n';
            break;
        }
        case Format::Csv: {
            m_out += std::to_string(depth);
            m_out += ',';
            m_out += KindDisplayText(n->kind);
            m_out += ',';
            m_out += flagNames(n->flags);
            for (const SharedStr *s :
                 {&n->url, &n->href, &n->localPath, &n->title, &n->label, &n->mimeType}) {
                m_out += ',';
                csvField(m_out, s->view());
            }
            m_out += mirror ? ",1," : ",0,";
            m_out += std::to_string(n->diagnostics ? n->diagnostics->size() : 0);
            m_out += '\n';
            break;
        }
        case Format::Json: {
            // Nested: open children when the walk descends, close on the way up.
            closeTo(depth);
            if (m_needComma)
                m_out += ',';
            m_out += "\n{\"depth\":" + std::to_string(depth);
            m_out += ",\"kind\":";
            jsonString(m_out, KindDisplayText(n->kind));
            m_out += ",\"flags\":";
            jsonString(m_out, flagNames(n->flags));
            static const char *const keys[] = {"url", "href", "file", "title", "label", "type"};
            const SharedStr *vals[]
                = {&n->url, &n->href, &n->localPath, &n->title, &n->label, &n->mimeType};
            for (int i = 0; i < 6; ++i) {
                if (!vals[i]->present())
                    continue;
                m_out += ",\"";
                m_out += keys[i];
                m_out += "\":";
                jsonString(m_out, vals[i]->view());
            }
            if (mirror)
                m_out += ",\"mirror\":true";
            if (n->diagnostics)
                m_out += ",\"messages\":" + std::to_string(n->diagnostics->size());
            if (descends) {
                m_out += ",\"children\":[";
                m_open.push_back(depth);
                m_needComma = false;
            } else {
                m_out += '}';
                m_needComma = true;
            }
            break;
        }
        case Format::Summary: break;
        }
        flush(false);
    }

    void end()
    {
        if (m_o.format == Format::Json) {
            closeTo(1);
            m_out += "\n]\n";
        }
        flush(true);
    }

private:
    void closeTo(int depth)
    {
        while (!m_open.empty() && m_open.back() >= depth) {
            m_out += "]}";
            m_open.pop_back();
            m_needComma = true;
        }
    }
    void flush(bool all)
    {
        if (all || m_out.size() > (1 << 16)) {
            std::fwrite(m_out.data(), 1, m_out.size(), stdout);
            m_out.clear();
        }
    }

    const Options &m_o;
    std::string m_out;
    std::vector<int> m_open;
    bool m_needComma = false;
};

// Examines node the way opening its row does: each child is examined and,
// when that says so, expanded.
void examine(SiteNode *node)
{
    if (NeedsReload(node) == 0)
        ExpandNode(node);
}

void printDepth(SiteNode *node, int depth, const Options &o, Printer &p, Counts &c)
{
    // Iterative: pre-order with an explicit stack.
    struct Item
    {
        SiteNode *n;
        int d;
    };
    std::vector<Item> stack{{node, depth}};
    while (!stack.empty() && !g_interrupted) {
        Item it = stack.back();
        stack.pop_back();
        ++c.nodes;
        bool show = it.d < o.depth;
        if (show)
            for (SiteNode *ch = it.n->firstChild(); ch; ch = ch->nextSibling())
                examine(ch);
        p.node(it.n, it.d, show && it.n->hasChildren());
        if (!show)
            continue;
        size_t mark = stack.size();
        for (SiteNode *ch = it.n->firstChild(); ch; ch = ch->nextSibling())
            stack.push_back({ch, it.d + 1});
        std::reverse(stack.begin() + static_cast<std::ptrdiff_t>(mark), stack.end());
    }
}

long peakRssKiB()
{
    struct rusage ru;
    getrusage(RUSAGE_SELF, &ru);
    return ru.ru_maxrss;
}

double cpuSeconds()
{
    struct rusage ru;
    getrusage(RUSAGE_SELF, &ru);
    return static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec)
           + static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

} // namespace

int main(int argc, char **argv)
{
    Options o;
    o.progress = isatty(STDERR_FILENO) != 0;
    bool depthGiven = false;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto next = [&](std::string &out) {
            size_t eq = a.find('=');
            if (a.rfind("--", 0) == 0 && eq != std::string::npos) {
                out = a.substr(eq + 1);
                a = a.substr(0, eq);
                return true;
            }
            if (i + 1 >= argc)
                return false;
            out = argv[++i];
            return true;
        };
        std::string v;
        std::string key = a.substr(0, a.find('='));
        if (key == "-h" || key == "--help") {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (key == "-w" || key == "--whole") {
            o.whole = true;
        } else if (key == "-d" || key == "--depth") {
            if (!next(v))
                return usageError("--depth needs a number");
            char *end = nullptr;
            long d = std::strtol(v.c_str(), &end, 10);
            if (!end || *end || d < 1 || d > 100000)
                return usageError("--depth needs a number from 1 up, not '" + v + "'");
            o.depth = static_cast<int>(d);
            depthGiven = true;
        } else if (key == "-s" || key == "--show") {
            if (!next(v) || !parseMode(v, o.mode))
                return usageError("--show takes hyperlink, file, title, label or url");
        } else if (key == "-f" || key == "--format") {
            if (!next(v))
                return usageError("--format needs a value");
            if (v == "tree")
                o.format = Format::Tree;
            else if (v == "json")
                o.format = Format::Json;
            else if (v == "csv")
                o.format = Format::Csv;
            else if (v == "summary")
                o.format = Format::Summary;
            else
                return usageError("--format takes tree, json, csv or summary, not '" + v + "'");
        } else if (key == "-b" || key == "--broken") {
            o.brokenOnly = true;
        } else if (key == "-j" || key == "--jobs") {
            if (!next(v))
                return usageError("--jobs needs a number");
            char *end = nullptr;
            long j = std::strtol(v.c_str(), &end, 10);
            if (!end || *end || j < 1 || j > 256)
                return usageError("--jobs needs a number from 1 to 256, not '" + v + "'");
            o.jobs = static_cast<unsigned>(j);
        } else if (key == "-x" || key == "--check-external") {
            o.checkExternal = 1;
        } else if (key == "--no-check-external") {
            o.checkExternal = 0;
        } else if (key == "--answer") {
            if (!next(v) || (v != "yes" && v != "no"))
                return usageError("--answer takes yes or no");
            o.answerYes = v == "yes";
        } else if (key == "-r" || key == "--remote" || a.rfind("-r", 0) == 0
                   || a.rfind("/r", 0) == 0) {
            if (i + 1 >= argc)
                return usageError("No remote server registry supplied for -r switch");
            o.machine = argv[++i];
        } else if (key == "--store") {
            if (!next(v))
                return usageError("--store needs a path");
            o.store = v;
        } else if (key == "-q" || key == "--quiet") {
            o.progress = false;
        } else if (key == "--literal") {
            o.literal = true; // checks: mirrors copied at once, equivalents by walking
        } else if (!a.empty() && a[0] == '-' && a != "-") {
            return usageError("unknown option '" + a + "'");
        } else {
            if (o.hasUrl)
                return usageError("only one URL, please");
            o.url = a;
            o.hasUrl = true;
        }
    }
    (void)depthGiven;
    if (o.jobs == 0)
        o.jobs = std::max(1u, std::thread::hardware_concurrency());
    SetLiteralMode(o.literal);

    NotifyHooks hooks;
    auto lastStatus = std::chrono::steady_clock::now();
    if (o.progress) {
        hooks.status = [&](const std::string &text) {
            auto now = std::chrono::steady_clock::now();
            if (now - lastStatus < std::chrono::milliseconds(100))
                return;
            lastStatus = now;
            std::string t = text.size() > 100 ? text.substr(0, 97) + "..." : text;
            std::fprintf(stderr, "\r\033[K%s", t.c_str());
        };
    }
    hooks.askYesNo = [&](const std::string &text, const std::string &caption) {
        std::fprintf(stderr, "%s%s: %s -> %s\n", o.progress ? "\r\033[K" : "", caption.c_str(),
                     text.c_str(), o.answerYes ? "Yes" : "No");
        return o.answerYes;
    };
    hooks.errorBox = [&](const std::string &text, const std::string &caption) {
        std::fprintf(stderr, "%s%s: %s\n", o.progress ? "\r\033[K" : "", caption.c_str(),
                     text.c_str());
    };
    InstallNotifyHooks(hooks);
    mainThread = std::this_thread::get_id();
    std::signal(SIGINT, onInterrupt);

    if (!o.store.empty()) {
        std::string err;
        auto store = OpenSqliteStore(o.store, &err);
        if (!store) {
            std::fprintf(stderr, "Fatal Error: cannot open the configuration store %s: %s\n",
                         o.store.c_str(), err.c_str());
            return 2;
        }
        UseStores(std::move(store));
    }
    int rc = OpenConfiguration(o.machine.empty() ? nullptr : o.machine.c_str());
    if (rc == ConfigNoRemote) {
        std::fprintf(stderr, "Fatal Error: Error connecting to remote server registry\n");
        return 2;
    }
    if (rc == ConfigNoProgramKey) {
        std::fprintf(stderr,
                     "Fatal Error: The Norvane server must be installed to create a Web window\n");
        return 2;
    }
    if (o.checkExternal >= 0)
        verifyExternal = o.checkExternal == 1;

    auto t0 = std::chrono::steady_clock::now();
    std::unique_ptr<ParseAhead> ahead;
    if (o.whole && o.jobs > 1) {
        ahead = std::make_unique<ParseAhead>(o.jobs);
        InstallParseAhead(ahead.get());
    }
    SiteNode *root = CreateRootNode(o.hasUrl ? o.url.c_str() : nullptr);
    if (root->flags & BROKEN) {
        // As the windowed program does: a tree needs a root to stand on.
        std::fprintf(stderr, "Fatal Error: Can't interpret URL\n'%s'\n",
                     o.hasUrl ? o.url.c_str() : root->href.c_str());
        FreeNode(root);
        return 2;
    }

    Printer printer(o);
    Counts counts;
    printer.begin();
    if (o.whole) {
        WalkOptions w;
        w.ahead = ahead.get();
        w.visit = [&](SiteNode *n, int depth) {
            ++counts.nodes;
            if (n->flags & BROKEN)
                ++counts.broken;
            if (n->flags & EXTERNAL)
                ++counts.external;
            if (n->equivalent)
                ++counts.mirrors;
            else if (n->loaded() && (n->kind == Html || n->kind == ImageMap)
                     && !(n->flags & (BROKEN | NOTVER)))
                ++counts.parsed;
            ++counts.byKind[n->kind < 20 ? n->kind : 20];
            printer.node(n, depth, depth < kMaxWalkDepth && WalkDescends(n));
            return g_interrupted == 0;
        };
        WalkWholeTree(root, w);
    } else {
        Counts dummy;
        printDepth(root, 1, o, printer, counts);
        (void)dummy;
    }
    printer.end();
    if (o.progress)
        std::fprintf(stderr, "\r\033[K");

    if (!o.whole) {
        // Count what was examined, for the exit status.
        counts.broken = 0;
        std::vector<SiteNode *> stack{root};
        while (!stack.empty()) {
            SiteNode *n = stack.back();
            stack.pop_back();
            if (n->flags & BROKEN)
                ++counts.broken;
            for (SiteNode *c = n->mirrorPending() ? nullptr : n->firstChild(); c;
                 c = c->nextSibling())
                if (c->loaded() || c->equivalent)
                    stack.push_back(c);
        }
    }

    double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    if (o.format == Format::Summary) {
        size_t live = LiveNodeCount();
        long rss = peakRssKiB();
        auto cs = ConfigStats();
        std::printf("nodes visited: %zu\n", counts.nodes);
        std::printf("nodes alive: %zu\n", live);
        std::printf("documents parsed: %zu\n", counts.parsed);
        std::printf("mirrors: %zu\n", counts.mirrors);
        std::printf("broken: %zu\n", counts.broken);
        std::printf("external: %zu\n", counts.external);
        for (int k = 0; k <= 20; ++k)
            if (counts.byKind[k])
                std::printf("kind %s: %zu\n", KindDisplayText(static_cast<uint32_t>(k)),
                            counts.byKind[k]);
        std::printf("distinct strings: %zu (%zu bytes)\n", SharedStr::poolSize(),
                    SharedStr::poolBytes());
        std::printf("wall seconds: %.3f\n", wall);
        std::printf("cpu seconds: %.3f\n", cpuSeconds());
        std::printf("peak rss KiB: %ld\n", rss);
        std::printf("bytes per node: %.1f\n",
                    live ? rss * 1024.0 / static_cast<double>(live) : 0.0);
        std::printf("pages per second: %.1f\n",
                    wall > 0 ? static_cast<double>(counts.parsed) / wall : 0.0);
        std::printf("nodes per second: %.1f\n",
                    wall > 0 ? static_cast<double>(counts.nodes) / wall : 0.0);
        std::printf("configuration lookups: %llu, store checks: %llu, reloads: %llu, seconds in "
                    "store: %.4f "
                    "(%.2f%% of wall)\n",
                    static_cast<unsigned long long>(cs.lookups),
                    static_cast<unsigned long long>(cs.checks),
                    static_cast<unsigned long long>(cs.reloads), cs.storeSeconds,
                    wall > 0 ? 100.0 * cs.storeSeconds / wall : 0.0);
        if (ahead) {
            auto st = ahead->stats();
            std::printf("parsed ahead: %llu, used: %llu, missed: %llu, evicted: %llu\n",
                        static_cast<unsigned long long>(st.parsed),
                        static_cast<unsigned long long>(st.hits),
                        static_cast<unsigned long long>(st.misses),
                        static_cast<unsigned long long>(st.evicted));
            std::printf("markup checks on workers: %llu, at once: %llu\n",
                        static_cast<unsigned long long>(st.checksLater),
                        static_cast<unsigned long long>(st.checksAtOnce));
        }
        std::fflush(stdout);
    }
    InstallParseAhead(nullptr);
    ahead.reset();
    if (std::getenv("SYLVIX_MAP_FREE"))
        FreeNode(root);
    DeleteAllTempFiles();
    if (g_interrupted)
        return 130;
    return counts.broken ? 1 : 0;
}
