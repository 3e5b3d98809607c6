// sylvix-map: builds the site tree without a window and prints it.

#include "cli/MapOptions.h"
#include "cli/MapPrinters.h"
#include "cli/MapRun.h"
#include "cli/MapText.h"
#include "model/Config.h"
#include "model/Events.h"
#include "model/Expand.h"
#include "model/Http.h"
#include "model/Notify.h"
#include "model/Page.h"
#include "model/ParseAhead.h"
#include "model/SiteNode.h"

#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <thread>

using namespace sylvix;
using namespace sylvix::map;

namespace {

void onInterrupt(int)
{
    g_interrupted = 1;
    RequestCancel(1);
    std::signal(SIGINT, SIG_DFL);
}

int usageError(const std::string &msg)
{
    std::fprintf(stderr, "sylvix-map: %s\n(try --help)\n", SafeText(msg).c_str());
    return 2;
}

int fatal(const std::string &msg)
{
    std::fprintf(stderr, "Fatal Error: %s\n", SafeText(msg).c_str());
    return 2;
}

int storeFailed(const std::string &why)
{
    return fatal("the configuration store cannot be read: " + why);
}

// Hooks, store and configuration; 0 when the map can be made, else the
// exit status.
int setUp(const Options &o, StatusLine &status)
{
    NotifyHooks hooks;
    if (!o.whole) // the whole walk shows its own progress
        hooks.status = [&status](const std::string &text) { status.show(text); };
    hooks.askYesNo = [&o, &status](const std::string &text, const std::string &caption) {
        status.clear();
        std::fprintf(stderr, "%s: %s -> %s\n", SafeText(caption).c_str(), SafeText(text).c_str(),
                     o.answerYes ? "Yes" : "No");
        return o.answerYes;
    };
    hooks.errorBox = [&status](const std::string &text, const std::string &caption) {
        status.clear();
        std::fprintf(stderr, "%s: %s\n", SafeText(caption).c_str(), SafeText(text).c_str());
    };
    InstallNotifyHooks(hooks);
    mainThread = std::this_thread::get_id();
    std::signal(SIGINT, onInterrupt);
    SetLiteralMode(o.literal);
    SetLinksOnly(!o.diagnostics);

    if (!o.store.empty()) {
        std::string err;
        auto store = OpenSqliteStore(o.store, &err, StoreOpen::Existing);
        if (!store)
            return fatal("cannot open the configuration store " + o.store + ": " + err);
        UseStores(std::move(store));
    }
    const OpenConfigResult rc = OpenConfiguration(o.machine.empty() ? nullptr : o.machine.c_str());
    if (rc == OpenConfigResult::NoRemote)
        return fatal("Error connecting to remote server registry");
    if (const std::string why = ConfigReadFailure(); !why.empty())
        return storeFailed(why);
    if (rc == OpenConfigResult::NoProgramKey)
        return fatal("The Norvane server must be installed to create a Web window");
    if (o.checkExternal >= 0)
        verifyExternal = o.checkExternal == 1;
    return 0;
}

// The measurements the summary adds to its counts.
std::vector<std::string> measurements(double wall, const Counts &c, const ParseAhead *ahead)
{
    struct rusage ru;
    getrusage(RUSAGE_SELF, &ru);
    const double cpu = static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec)
                       + static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
    const size_t live = LiveNodeCount();
    const auto cs = ConfigStats();
    auto per = [wall](size_t n) { return wall > 0 ? static_cast<double>(n) / wall : 0.0; };
    char buf[256];
    std::vector<std::string> out;
    auto add = [&](const char *format, auto... args) {
        std::snprintf(buf, sizeof buf, format, args...);
        out.emplace_back(buf);
    };
    add("nodes alive: %zu", live);
    add("distinct strings: %zu (%zu bytes)", SharedStr::poolSize(), SharedStr::poolBytes());
    add("wall seconds: %.3f", wall);
    add("cpu seconds: %.3f", cpu);
    add("peak rss KiB: %ld", ru.ru_maxrss);
    add("bytes per node: %.1f", live ? ru.ru_maxrss * 1024.0 / static_cast<double>(live) : 0.0);
    add("pages per second: %.1f", per(c.parsed));
    add("nodes per second: %.1f", per(c.nodes));
    add("configuration lookups: %llu, store checks: %llu, reloads: %llu, seconds in store: %.4f "
        "(%.2f%% of wall)",
        static_cast<unsigned long long>(cs.lookups), static_cast<unsigned long long>(cs.checks),
        static_cast<unsigned long long>(cs.reloads), cs.storeSeconds,
        wall > 0 ? 100.0 * cs.storeSeconds / wall : 0.0);
    if (ahead) {
        auto st = ahead->stats();
        add("parsed ahead: %llu, used: %llu, missed: %llu, evicted: %llu",
            static_cast<unsigned long long>(st.parsed), static_cast<unsigned long long>(st.hits),
            static_cast<unsigned long long>(st.misses),
            static_cast<unsigned long long>(st.evicted));
        add("markup checks on workers: %llu, at once: %llu",
            static_cast<unsigned long long>(st.checksLater),
            static_cast<unsigned long long>(st.checksAtOnce));
    }
    return out;
}

} // namespace

int main(int argc, char **argv)
{
    Options o;
    std::string error;
    switch (ParseOptions(argc, argv, o, error)) {
    case ParseResult::Help: std::fputs(kUsage, stdout); return 0;
    case ParseResult::Error: return usageError(error);
    case ParseResult::Run: break;
    }
    StatusLine status(!o.quiet && isatty(STDERR_FILENO) != 0);
    if (int rc = setUp(o, status))
        return rc;

    const auto t0 = std::chrono::steady_clock::now();
    std::unique_ptr<ParseAhead> ahead;
    if (o.whole && o.jobs > 1) {
        ahead = std::make_unique<ParseAhead>(o.jobs, 4096, ParseAhead::Order::LevelByLevel);
        ahead->setParseMissesWhole(true);
        InstallParseAhead(ahead.get());
    }
    SiteNode *root = CreateRootNode(o.hasUrl ? o.url.c_str() : nullptr);
    if (!root->loaded()) {
        // Only a root that cannot even be examined ends the run; a root
        // that is broken is mapped like any broken link.
        status.clear();
        std::fprintf(stderr, "Fatal Error: Can't interpret URL\n'%s'\n",
                     SafeText(o.hasUrl ? o.url : root->href.str()).c_str());
        FreeNode(root);
        return 2;
    }

    auto printer = MakePrinter(o, stdout);
    Report report;
    report.diagnostics = o.diagnostics;
    printer->begin();
    RunMap(root, o, ahead.get(), *printer, report.counts, status);
    status.clear();
    const double wall
        = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    if (o.format == Format::Summary)
        report.lines = measurements(wall, report.counts, ahead.get());
    printer->end(report);

    InstallParseAhead(nullptr);
    ahead.reset();
    if (std::getenv("SYLVIX_MAP_FREE"))
        FreeNode(root);
    DeleteAllTempFiles();
    // A store that failed mid-walk made the map from what it could read.
    if (const std::string why = ConfigReadFailure(); !why.empty())
        return storeFailed(why);
    if (g_interrupted)
        return 130;
    return report.counts.broken ? 1 : 0;
}
