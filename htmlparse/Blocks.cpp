// Blocks are libxml2's own nodes: the tree is handed out without a copy.

#include "htmlparse/HtmlParse.h"
#include "htmlparse/TagTable.h"
#include "platform/TextUtil.h"

#include <libxml/tree.h>

#include <cstdint>

namespace sylvix::html {
namespace {

const xmlNode *NodeOf(const Block *b)
{
    return reinterpret_cast<const xmlNode *>(b);
}

const Block *BlockOf(const xmlNode *n)
{
    return reinterpret_cast<const Block *>(n);
}

bool IsText(const xmlNode *n)
{
    return n->type == XML_TEXT_NODE || n->type == XML_CDATA_SECTION_NODE;
}

// Comments, processing instructions and the document type are not blocks.
const xmlNode *SkipNonBlocks(const xmlNode *n)
{
    while (n != nullptr && n->type != XML_ELEMENT_NODE && !IsText(n))
        n = n->next;
    return n;
}

bool SameName(const xmlChar *a, const char *b)
{
    for (;; ++a, ++b) {
        const char ca = lowerAscii(static_cast<char>(*a));
        if (ca != lowerAscii(*b))
            return false;
        if (ca == '\0')
            return true;
    }
}

} // namespace

int BlockTypeOf(const Block *b)
{
    const xmlNode *n = NodeOf(b);
    if (n == nullptr)
        return 0;
    if (n->type == XML_ELEMENT_NODE)
        return Element;
    return IsText(n) ? Text : 0;
}

int BlockTag(const Block *b)
{
    const xmlNode *n = NodeOf(b);
    if (n == nullptr || n->type != XML_ELEMENT_NODE)
        return OtherTag;
    return TagOfName(reinterpret_cast<const char *>(n->name));
}

const char *BlockName(const Block *b)
{
    const xmlNode *n = NodeOf(b);
    if (n == nullptr || n->type != XML_ELEMENT_NODE)
        return nullptr;
    return reinterpret_cast<const char *>(n->name);
}

const char *BlockText(const Block *b)
{
    const xmlNode *n = NodeOf(b);
    if (n == nullptr || !IsText(n))
        return nullptr;
    return n->content != nullptr ? reinterpret_cast<const char *>(n->content) : "";
}

const Block *BlockNext(const Block *b)
{
    const xmlNode *n = NodeOf(b);
    return n == nullptr ? nullptr : BlockOf(SkipNonBlocks(n->next));
}

const Block *BlockFirstChild(const Block *b)
{
    const xmlNode *n = NodeOf(b);
    if (n == nullptr || n->type != XML_ELEMENT_NODE)
        return nullptr;
    return BlockOf(SkipNonBlocks(n->children));
}

int BlockLine(const Block *b)
{
    const xmlNode *n = NodeOf(b);
    if (n == nullptr)
        return 0;
    // libxml2 stops counting at 65535; the real line is then kept aside.
    if (n->line == 65535 && n->psvi != nullptr)
        return static_cast<int>(reinterpret_cast<intptr_t>(n->psvi));
    return n->line;
}

const char *HTMLGetAttr(const Block *b, const char *name)
{
    const xmlNode *n = NodeOf(b);
    if (n == nullptr || name == nullptr || n->type != XML_ELEMENT_NODE)
        return nullptr;
    for (const xmlAttr *a = n->properties; a != nullptr; a = a->next) {
        if (a->name == nullptr || !SameName(a->name, name))
            continue;
        // The HTML parser gives each attribute at most one text child.
        const xmlNode *value = a->children;
        if (value == nullptr || value->content == nullptr)
            return "";
        return reinterpret_cast<const char *>(value->content);
    }
    return nullptr;
}

} // namespace sylvix::html
