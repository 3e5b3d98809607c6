// Times opening one row with many distinct HTML children, the way the
// window does it: each child examined and parsed, with the markup checks at
// once and on first read.
//
// usage: expandrow DIR [CHILDREN] [at-once|first-read]
//   (CHILDREN defaults to 5000; both modes run unless one is named)
//   Writes the pages and a configuration store under DIR (which must not
//   exist yet) and removes DIR afterwards.

#include "bench/BenchPage.h"
#include "model/Config.h"
#include "model/Expand.h"
#include "model/SiteNode.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/resource.h>

using namespace sylvix;
using bench::cpuSeconds;
using bench::ordinaryPage;
namespace fs = std::filesystem;

namespace {

// Wall seconds; cpu receives the CPU seconds.
double openRow(const std::string &url, MarkupChecks mode, size_t &children, double &cpu)
{
    SetMarkupChecks(mode);
    SiteNode *root = CreateRootNode(url.c_str());
    const double cpu0 = cpuSeconds();
    auto t0 = std::chrono::steady_clock::now();
    children = 0;
    for (SiteNode *c = root->firstChild(); c; c = c->nextSibling(), ++children)
        if (NeedsReload(c) == ReloadResult::Expand)
            ExpandNode(c);
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    cpu = cpuSeconds() - cpu0;
    FreeNode(root);
    return seconds;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 2 || fs::exists(argv[1])) {
        std::fprintf(stderr, "usage: expandrow NEW_DIR [CHILDREN]\n");
        return 2;
    }
    const fs::path dir = argv[1];
    const int count = argc > 2 ? std::atoi(argv[2]) : 5000;
    fs::create_directories(dir / "docs");
    std::string index = "<html><body>\n";
    for (int i = 0; i < count; ++i) {
        std::string name = "p" + std::to_string(i) + ".html";
        std::ofstream(dir / "docs" / name) << ordinaryPage(i);
        index += "<a href=\"" + name + "\">" + name + "</a>\n";
    }
    std::ofstream(dir / "docs/index.html") << index << "</body></html>\n";

    auto store = OpenSqliteStore((dir / "registry.db").string());
    auto server = store ? store->root()->createKey(kServerKeyPath) : nullptr;
    if (!server || !store->root()->createKey(kProgramKeyPath)) {
        std::fprintf(stderr, "expandrow: cannot make a store in %s\n", argv[1]);
        return 1;
    }
    WriteString(*server, "ServerName", "www.example.org");
    WriteDword(*server, "TCP Port", 80);
    WriteString(*server->createKey("DocMap"), "/", (dir / "docs").string());
    WriteString(*server->createKey("TypeMap"), ".html", "text/html");
    server.reset();
    UseStores(std::move(store));
    if (OpenConfiguration(nullptr) != OpenConfigResult::Ok)
        return 1;
    verifyExternal = false;

    const std::string url = "http://www.example.org/index.html";
    size_t n = 0;
    double cpu = 0;
    const std::string only = argc > 3 ? argv[3] : "";
    if (only != "first-read") {
        double atOnce = openRow(url, MarkupChecks::AtOnce, n, cpu);
        std::printf("%zu children, checks at once:       %.2f s (CPU %.2f s)\n", n, atOnce, cpu);
    }
    if (only != "at-once") {
        double later = openRow(url, MarkupChecks::OnFirstRead, n, cpu);
        std::printf("%zu children, checks on first read: %.2f s (CPU %.2f s)\n", n, later, cpu);
    }
    CloseConfiguration();
    fs::remove_all(dir);
    return 0;
}
