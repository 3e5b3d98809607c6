#pragma once

// What one HTML document gives the tree, in document order, as a list that
// can be made on any thread and applied to a node later on the tree's thread.

#include "htmlparse/HtmlParse.h"
#include "model/SiteNode.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace sylvix {

struct LinkEvent
{
    enum Type : uint8_t { Child, Base, Title };
    Type type = Child;
    uint32_t flags = 0;                  // INLINED, ISMAP for the child
    std::string href;                    // Child, Base
    std::optional<std::string> label;    // Child: label; Title: the text (none: no text)
    std::unique_ptr<std::string> method; // Child of a form; rare, so kept apart
    uint32_t line = 0;                   // Child: line of its element (0: unknown)
};

struct PageEvents
{
    std::vector<LinkEvent> events;
    DiagnosticList diagnostics;
};

// Children one page may give the tree: a page of nothing but short links
// costs far more as nodes than as text.
inline constexpr size_t kMaxPageChildren = 100000;

// Walks one parse subtree into events, at most kMaxPageChildren children;
// returns how many links it left out (firstCutLine: the line of the first).
size_t CollectLinkEvents(const html::Block *block, std::vector<LinkEvent> &out,
                         int *firstCutLine = nullptr);

// The diagnostic for links cut by kMaxPageChildren.
DiagnosticRecord CutNote(size_t dropped, int firstCutLine);

// Reads a local document and parses it. A file that cannot be read, or
// that is not a regular file (a pipe would block), gives no events.
PageEvents ParsePageFile(const std::string &path);
// Without diagnostics the markup check is left out: the events are the same.
PageEvents ParsePageBytes(std::string_view bytes, bool diagnostics = true);

// On: no page gets a markup check, for runs that only want the links.
void SetLinksOnly(bool on);
bool LinksOnly();
// The bytes ParsePageFile parses: at most one byte over the parser's limit,
// so that it notices a cut. False when the file cannot be read.
bool ReadPageFile(const std::string &path, std::string &bytes, FileStatus *st = nullptr);

// Reads at most maxBytes of a regular file without ever blocking; false
// when it is not a readable regular file. st receives its status.
bool ReadRegularFile(const std::string &path, std::string &out, size_t maxBytes,
                     FileStatus *st = nullptr);

// Applies events to node: children, base, title.
void ApplyLinkEvents(SiteNode *node, const std::vector<LinkEvent> &events);

} // namespace sylvix
