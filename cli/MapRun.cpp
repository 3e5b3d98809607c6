#include "cli/MapRun.h"

#include "cli/MapText.h"
#include "model/Expand.h"
#include "model/SiteNode.h"
#include "model/Walk.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

namespace sylvix::map {

volatile std::sig_atomic_t g_interrupted = 0;

namespace {

long long nowMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

void count(Counts &c, SiteNode *n)
{
    ++c.nodes;
    if (n->flags & BROKEN)
        ++c.broken;
    if (n->flags & EXTERNAL)
        ++c.external;
    if (n->equivalent)
        ++c.mirrors;
    else if (n->loaded() && (n->kind == Html || n->kind == ImageMap)
             && !(n->flags & (BROKEN | NOTVER)))
        ++c.parsed;
    ++c.byKind[std::min<uint32_t>(n->kind, 20)];
}

// Examines node the way opening its row does.
void examine(SiteNode *node)
{
    if (NeedsReload(node) == ReloadResult::Expand)
        ExpandNode(node);
}

// The first levels, as a person opening rows sees them: the children of
// each shown node are examined before it is printed.
void runDepth(SiteNode *root, const Options &o, Printer &p, Counts &c)
{
    struct Item
    {
        SiteNode *n;
        int d;
    };
    std::vector<Item> stack{{root, 1}};
    while (!stack.empty() && !g_interrupted) {
        Item it = stack.back();
        stack.pop_back();
        bool show = it.d < o.depth;
        if (show)
            for (SiteNode *ch = it.n->firstChild(); ch; ch = ch->nextSibling())
                examine(ch);
        count(c, it.n);
        p.node(it.n, it.d, show && it.n->hasChildren());
        if (!show)
            continue;
        size_t mark = stack.size();
        for (SiteNode *ch = it.n->firstChild(); ch; ch = ch->nextSibling())
            stack.push_back({ch, it.d + 1});
        std::reverse(stack.begin() + static_cast<std::ptrdiff_t>(mark), stack.end());
    }
}

} // namespace

void StatusLine::show(const std::string &text, bool force)
{
    if (!m_on)
        return;
    long long now = nowMs();
    if (!force && now - m_lastMs < 200)
        return;
    m_lastMs = now;
    std::string t = SafeText(text);
    if (t.size() > 110)
        t = t.substr(0, 107) + "...";
    std::fprintf(stderr, "\r\033[K%s", t.c_str());
    std::fflush(stderr);
    m_shown = true;
}

void StatusLine::clear()
{
    if (m_on && m_shown) {
        std::fputs("\r\033[K", stderr);
        std::fflush(stderr);
        m_shown = false;
    }
}

bool RunMap(SiteNode *root, const Options &o, ParseAhead *ahead, Printer &printer, Counts &counts,
            StatusLine &status)
{
    if (!o.whole) {
        runDepth(root, o, printer, counts);
        return !g_interrupted;
    }
    const long long start = nowMs();
    const int shown = o.depthGiven ? o.depth : INT32_MAX;
    WalkOptions w;
    w.ahead = ahead;
    if (status.on())
        w.progress = [&](const WalkProgress &p) {
            double secs = static_cast<double>(nowMs() - start) / 1000.0;
            char line[200];
            std::snprintf(line, sizeof line,
                          "%zu pages parsed, %zu queued, %zu nodes, %zu broken, %.0f pages/s, "
                          "%.1f s",
                          p.parsed, p.queued, p.examined, p.broken,
                          secs > 0 ? static_cast<double>(p.parsed) / secs : 0.0, secs);
            status.show(line);
            return !g_interrupted;
        };
    else
        w.progress = [](const WalkProgress &) { return !g_interrupted; };
    w.visit = [&](SiteNode *n, int depth) {
        status.clear(); // the walk is over: the tree comes now
        count(counts, n);
        if (depth <= shown)
            printer.node(n, depth, depth < shown && WalkDescends(n));
        return !g_interrupted;
    };
    return WalkWholeTree(root, w) && !g_interrupted;
}

} // namespace sylvix::map
