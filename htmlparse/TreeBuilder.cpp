#include "htmlparse/TreeBuilder.h"

#include "htmlparse/HtmlParse.h"
#include "platform/TextUtil.h"

#include <libxml/HTMLparser.h>
#include <libxml/parser.h>
#include <libxml/parserInternals.h>
#include <libxml/xmlerror.h>

#include <climits>
#include <cstdint>
#include <cstring>

namespace sylvix::html {
namespace {

constexpr int kParseOptions = HTML_PARSE_RECOVER | HTML_PARSE_NONET | HTML_PARSE_COMPACT
                              | HTML_PARSE_NOERROR | HTML_PARSE_NOWARNING | HTML_PARSE_NOBLANKS
                              | XML_PARSE_HUGE;

// libxml2 matches a stray end tag (and a few other errors) by scanning its
// whole stack of open elements. On thousands of unclosed elements followed
// by thousands of stray end tags that is quadratic, so the scans are
// counted and reading stops once they pass this many steps (about a second).
constexpr uint64_t kScanBudget = 400000000;

// Element lines past this are kept by libxml2 as this value.
constexpr unsigned kLineCap = 65535;

struct ParseState
{
    htmlParserCtxtPtr ctxt = nullptr;
    startElementSAXFunc startElement = nullptr;
    uint64_t scanCost = 0;
    bool stopped = false;
    int stopLine = 0;
    bool fellBackToLatin1 = false;
};

void IgnoreGenericError(void *, const char *, ...) {}

void OnParserError(void *data, xmlErrorPtr error)
{
    auto *state = static_cast<ParseState *>(data);
    if (state == nullptr || error == nullptr || error->ctxt != state->ctxt || state->stopped)
        return;
    if (error->code == XML_ERR_INVALID_ENCODING)
        state->fellBackToLatin1 = true;
    state->scanCost += static_cast<uint64_t>(state->ctxt->nameNr) + 1;
    if (state->scanCost > kScanBudget) {
        state->stopped = true;
        state->stopLine = error->line;
        xmlStopParser(state->ctxt);
    }
}

// Wraps libxml2's own element handler: a valueless attribute gets "" rather
// than its own name, and an element past line 65535 keeps its real line.
void OnStartElement(void *ctx, const xmlChar *name, const xmlChar **atts)
{
    auto *ctxt = static_cast<htmlParserCtxtPtr>(ctx);
    auto *state = static_cast<ParseState *>(ctxt->_private);
    static const xmlChar kEmpty[1] = {0};
    bool patched = false;
    if (atts != nullptr) {
        for (size_t i = 0; atts[i] != nullptr; i += 2) {
            if (atts[i + 1] == nullptr) {
                atts[i + 1] = kEmpty;
                patched = true;
            }
        }
    }
    state->startElement(ctx, name, atts);
    if (patched) {
        // The parser frees the values after this call; ours is not its to free.
        for (size_t i = 0; atts[i] != nullptr; i += 2)
            if (atts[i + 1] == kEmpty)
                atts[i + 1] = nullptr;
    }
    if (ctxt->input != nullptr && ctxt->node != nullptr
        && static_cast<unsigned>(ctxt->input->line) >= kLineCap
        && ctxt->node->type == XML_ELEMENT_NODE && xmlStrEqual(ctxt->node->name, name)) {
        ctxt->node->psvi = reinterpret_cast<void *>(static_cast<intptr_t>(ctxt->input->line));
    }
}

// Installs silent error handlers on this thread for one parse. libxml2 keeps
// them per thread, so parses on other threads are not affected.
class ErrorRedirect
{
public:
    explicit ErrorRedirect(ParseState *state)
        : m_generic(xmlGenericError),
          m_genericContext(xmlGenericErrorContext),
          m_structured(xmlStructuredError),
          m_structuredContext(xmlStructuredErrorContext)
    {
        xmlSetGenericErrorFunc(nullptr, IgnoreGenericError);
        xmlSetStructuredErrorFunc(state, OnParserError);
    }
    ~ErrorRedirect()
    {
        xmlSetGenericErrorFunc(m_genericContext, m_generic);
        xmlSetStructuredErrorFunc(m_structuredContext, m_structured);
    }
    ErrorRedirect(const ErrorRedirect &) = delete;
    ErrorRedirect &operator=(const ErrorRedirect &) = delete;

private:
    xmlGenericErrorFunc m_generic;
    void *m_genericContext;
    xmlStructuredErrorFunc m_structured;
    void *m_structuredContext;
};

// Depth of the deepest node below (and including) the siblings from first.
// Iterative: the source may nest far deeper than any stack allows.
int DepthOf(xmlNodePtr first)
{
    int best = 0;
    int depth = 1;
    for (xmlNodePtr n = first; n != nullptr;) {
        if (depth > best)
            best = depth;
        if (n->type == XML_ELEMENT_NODE && n->children != nullptr) {
            n = n->children;
            ++depth;
            continue;
        }
        while (n->next == nullptr) {
            if (depth == 1)
                return best;
            n = n->parent;
            --depth;
        }
        n = n->next;
    }
    return best;
}

// Lifts the children of every element at the depth limit up to follow it
// as siblings, which keeps document order in a depth-first walk.
void Flatten(xmlNodePtr first, int limit)
{
    int depth = 1;
    for (xmlNodePtr n = first; n != nullptr;) {
        if (n->type == XML_ELEMENT_NODE && n->children != nullptr) {
            if (depth < limit) {
                n = n->children;
                ++depth;
                continue;
            }
            xmlNodePtr head = n->children;
            xmlNodePtr tail = n->last;
            for (xmlNodePtr c = head; c != nullptr; c = c->next)
                c->parent = n->parent;
            tail->next = n->next;
            if (n->next != nullptr)
                n->next->prev = tail;
            else
                n->parent->last = tail;
            n->next = head;
            head->prev = n;
            n->children = nullptr;
            n->last = nullptr;
        }
        while (n->next == nullptr) {
            if (depth == 1)
                return;
            n = n->parent;
            --depth;
        }
        n = n->next;
    }
}

// Replaces, in place, every byte that does not belong to a well-formed
// UTF-8 sequence with '?'.
void RepairUtf8(xmlChar *text)
{
    if (text == nullptr)
        return;
    const std::string_view s(reinterpret_cast<const char *>(text));
    for (size_t i = 0; i < s.size();) {
        const size_t n = utf8Length(s, i);
        if (n != 0) {
            i += n;
        } else {
            text[i] = '?'; // one byte for another: s stays valid
            ++i;
        }
    }
}

// When libxml2 switches from UTF-8 to Latin-1 at the first bad byte, the
// text around the switch can keep a broken sequence; this mends every
// string of the tree (it is rare, so a full walk is fine).
void RepairTree(xmlNodePtr first)
{
    for (xmlNodePtr n = first; n != nullptr;) {
        if (n->type == XML_ELEMENT_NODE) {
            RepairUtf8(const_cast<xmlChar *>(n->name));
            for (xmlAttrPtr a = n->properties; a != nullptr; a = a->next) {
                RepairUtf8(const_cast<xmlChar *>(a->name));
                for (xmlNodePtr v = a->children; v != nullptr; v = v->next)
                    RepairUtf8(v->content);
            }
        } else if (n->type == XML_TEXT_NODE || n->type == XML_CDATA_SECTION_NODE
                   || n->type == XML_COMMENT_NODE) {
            RepairUtf8(n->content);
        }
        if (n->type == XML_ELEMENT_NODE && n->children != nullptr) {
            n = n->children;
            continue;
        }
        while (n->next == nullptr) {
            n = n->parent;
            if (n == nullptr || n->type == XML_HTML_DOCUMENT_NODE || n->type == XML_DOCUMENT_NODE)
                return;
        }
        n = n->next;
    }
}

} // namespace

void InitTreeBuilder()
{
    xmlInitParser();
}

BuiltTree BuildTree(std::string_view bytes)
{
    BuiltTree out;
    if (bytes.empty() || bytes.size() > static_cast<size_t>(INT_MAX))
        return out;

    ParseState state;
    ErrorRedirect redirect(&state);
    htmlParserCtxtPtr ctxt
        = htmlCreateMemoryParserCtxt(bytes.data(), static_cast<int>(bytes.size()));
    if (ctxt == nullptr) {
        out.outOfMemory = true;
        return out;
    }
    htmlCtxtUseOptions(ctxt, kParseOptions);
    // Undeclared text is taken as UTF-8 (as htmlReadMemory does); libxml2
    // falls back to Latin-1 by itself at the first byte that is not.
    ctxt->charset = XML_CHAR_ENCODING_UTF8;
    ctxt->linenumbers = 1;
    ctxt->options |= XML_PARSE_BIG_LINES; // text nodes past line 65535
    state.ctxt = ctxt;
    state.startElement = ctxt->sax->startElement;
    ctxt->_private = &state;
    if (state.startElement != nullptr)
        ctxt->sax->startElement = OnStartElement;

    htmlParseDocument(ctxt);

    out.doc = ctxt->myDoc;
    ctxt->myDoc = nullptr;
    out.stopped = state.stopped;
    out.stopLine = state.stopLine;
    if (ctxt->input != nullptr && ctxt->input->buf != nullptr
        && ctxt->input->buf->encoder != nullptr && ctxt->input->buf->encoder->name != nullptr)
        out.encoding = ctxt->input->buf->encoder->name;
    else if (out.doc != nullptr && out.doc->encoding != nullptr)
        out.encoding = reinterpret_cast<const char *>(out.doc->encoding);
    // The parser's node stack only grows (by doubling), so its size bounds
    // the depth; the exact depth is only worth a walk when it matters.
    const int stackBound = ctxt->nodeMax + 1;
    htmlFreeParserCtxt(ctxt);

    if (out.doc == nullptr)
        return out;
    if (state.fellBackToLatin1)
        RepairTree(out.doc->children);
    if (stackBound < MaxBlockDepth && bytes.size() < (1u << 20)) {
        out.sourceDepth = stackBound;
        return out;
    }
    out.sourceDepth = DepthOf(out.doc->children);
    if (out.sourceDepth > MaxBlockDepth)
        Flatten(out.doc->children, MaxBlockDepth);
    return out;
}

} // namespace sylvix::html
