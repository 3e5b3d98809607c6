#pragma once

#include <libxml/tree.h>

#include <string>
#include <string_view>

namespace sylvix::html {

// What one libxml2 parse of a document gives.
struct BuiltTree
{
    xmlDocPtr doc = nullptr; // owned by the caller (xmlFreeDoc); null when nothing parsed
    int sourceDepth = 0;     // nesting depth before flattening (an upper bound below MaxBlockDepth)
    std::string encoding;    // the encoding the text was read in, as libxml2 names it
    bool stopped = false;    // reading stopped early: the document was pathological
    int stopLine = 0;
    bool outOfMemory = false;
};

// Parses with libxml2's HTML parser, silently, and bounds the tree's depth
// to MaxBlockDepth. Safe to call on several threads at once.
BuiltTree BuildTree(std::string_view bytes);

// Once per process, before any parse.
void InitTreeBuilder();

} // namespace sylvix::html
