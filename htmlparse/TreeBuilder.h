#pragma once

#include "htmlparse/HtmlParse.h"

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

// Reads like BuildTree but keeps no tree: the blocks go to sink as they are
// read, shaped as BuildTree's tree would be. doc stays null.
BuiltTree ScanTree(std::string_view bytes, BlockSink &sink);

// Once per process, before any parse.
void InitTreeBuilder();

} // namespace sylvix::html
