// Times the two ways of getting a page's links, side by side in one
// process: parsing into a tree and walking it (ExtractLinks), and
// collecting them while the page is read (what the map and the window use).
// Both without markup checks. Prints the CPU time of each (the least of
// three rounds) and the heap each holds per link once the page is read.
//
// usage: linkscan [PAGES] [LINKS_PER_SHORT_PAGE]   (defaults 5000, 20000)

#include "bench/BenchPage.h"
#include "htmlparse/HtmlParse.h"
#include "model/Page.h"

#include <malloc.h>
#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

using namespace sylvix;
using bench::cpuSeconds;
using bench::ordinaryPage;

namespace {

size_t heapInUse()
{
    return mallinfo2().uordblks;
}

size_t byTree(const std::string &page, size_t *heldBytes = nullptr)
{
    html::ParseOptions options;
    options.diagnostics = false;
    const size_t before = heapInUse();
    auto doc = html::ParseBytes(page, nullptr, options);
    std::vector<LinkEvent> events;
    CollectLinkEvents(doc->root(), events);
    if (heldBytes)
        *heldBytes = heapInUse() - before;
    return events.size();
}

size_t byScan(const std::string &page, size_t *heldBytes = nullptr)
{
    const size_t before = heapInUse();
    PageEvents events = ParsePageBytes(page, false);
    if (heldBytes)
        *heldBytes = heapInUse() - before;
    return events.events.size();
}

} // namespace

int main(int argc, char **argv)
{
    const int pages = argc > 1 ? std::atoi(argv[1]) : 5000;
    const int shortLinks = argc > 2 ? std::atoi(argv[2]) : 20000;
    std::vector<std::string> site;
    for (int i = 0; i < pages; ++i)
        site.push_back(ordinaryPage(i));

    double best[2] = {1e9, 1e9};
    size_t links[2] = {0, 0};
    for (int round = 0; round < 3; ++round) {
        for (int way = 0; way < 2; ++way) {
            const double t0 = cpuSeconds();
            size_t n = 0;
            for (const std::string &page : site)
                n += way == 0 ? byTree(page) : byScan(page);
            best[way] = std::min(best[way], cpuSeconds() - t0);
            links[way] = n;
        }
    }
    std::printf("%d pages, %zu links: tree and walk %.2f s CPU, read and collect %.2f s CPU\n",
                pages, links[1], best[0], best[1]);
    if (links[0] != links[1])
        std::printf("the two ways disagree: %zu against %zu links\n", links[0], links[1]);

    std::string page = "<html><body>\n";
    for (int i = 0; i < shortLinks; ++i)
        page += "<a href=" + std::to_string(i) + ".html>" + std::to_string(i) + "</a>\n";
    size_t tree = 0;
    size_t scan = 0;
    byTree(page, &tree);
    byScan(page, &scan);
    std::printf("a page of %d short links holds %zu bytes per link as tree and events, "
                "%zu as events alone\n",
                shortLinks, tree / std::max(shortLinks, 1), scan / std::max(shortLinks, 1));
    return 0;
}
