#pragma once

// One printer per output format of sylvix-map. Each gets the examined
// nodes in document order (pre-order) and writes as it goes.

#include "cli/MapOptions.h"

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace sylvix {
class SiteNode;
}

namespace sylvix::map {

struct Counts
{
    size_t nodes = 0, parsed = 0, broken = 0, external = 0, mirrors = 0;
    size_t byKind[21] = {};
};

// What the run did, for the summary.
struct Report
{
    Counts counts;
    bool diagnostics = true;
    std::vector<std::string> lines; // measurements, one "name: value" each
};

class Printer
{
public:
    virtual ~Printer() = default;
    virtual void begin() {}
    // descends: the node's children follow (at depth + 1).
    virtual void node(SiteNode *node, int depth, bool descends) = 0;
    virtual void end(const Report &report) = 0;
};

std::unique_ptr<Printer> MakePrinter(const Options &options, FILE *out);

// "FILE:LINE: URL (why)" for a broken node: FILE is the linking page's
// local file, LINE left out when unknown.
std::string BrokenLine(SiteNode &node);

} // namespace sylvix::map
