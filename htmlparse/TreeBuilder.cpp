#include "htmlparse/TreeBuilder.h"

#include "htmlparse/HtmlParse.h"
#include "htmlparse/TagTable.h"
#include "platform/TextUtil.h"

#include <libxml/HTMLparser.h>
#include <libxml/parser.h>
#include <libxml/parserInternals.h>
#include <libxml/xmlerror.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <vector>

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

// Below this size a document's depth is bounded cheaply rather than walked.
constexpr size_t kExactDepthBytes = 1u << 20;

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

htmlParserCtxtPtr OpenContext(std::string_view bytes, ParseState &state)
{
    htmlParserCtxtPtr ctxt
        = htmlCreateMemoryParserCtxt(bytes.data(), static_cast<int>(bytes.size()));
    if (ctxt == nullptr)
        return nullptr;
    htmlCtxtUseOptions(ctxt, kParseOptions);
    // Undeclared text is taken as UTF-8 (as htmlReadMemory does); libxml2
    // falls back to Latin-1 by itself at the first byte that is not.
    ctxt->charset = XML_CHAR_ENCODING_UTF8;
    ctxt->linenumbers = 1;
    ctxt->options |= XML_PARSE_BIG_LINES; // text nodes past line 65535
    state.ctxt = ctxt;
    ctxt->_private = &state;
    return ctxt;
}

void TakeOutcome(htmlParserCtxtPtr ctxt, const ParseState &state, xmlDocPtr doc, BuiltTree &out)
{
    out.stopped = state.stopped;
    out.stopLine = state.stopLine;
    if (ctxt->input != nullptr && ctxt->input->buf != nullptr
        && ctxt->input->buf->encoder != nullptr && ctxt->input->buf->encoder->name != nullptr)
        out.encoding = ctxt->input->buf->encoder->name;
    else if (doc != nullptr && doc->encoding != nullptr)
        out.encoding = reinterpret_cast<const char *>(doc->encoding);
}

// Elements inside which (or after which) libxml2 keeps white space that
// it drops elsewhere, sorted.
constexpr std::string_view kKeepsBlanks[] = {
    "a",        "abbr",     "acronym", "address", "applet", "b",    "bdo",   "big",    "blockquote",
    "body",     "button",   "caption", "center",  "cite",   "code", "dd",    "del",    "dfn",
    "div",      "dt",       "em",      "font",    "form",   "h1",   "h2",    "h3",     "h4",
    "h5",       "h6",       "i",       "iframe",  "ins",    "kbd",  "label", "legend", "li",
    "noframes", "noscript", "object",  "p",       "pre",    "q",    "s",     "samp",   "small",
    "span",     "strike",   "strong",  "td",      "th",     "tt",   "u",     "var"};

bool KeepsBlanks(const xmlChar *name)
{
    if (name == nullptr)
        return false;
    const std::string_view n(reinterpret_cast<const char *>(name));
    return std::binary_search(std::begin(kKeepsBlanks), std::end(kKeepsBlanks), n);
}

bool IsBlank(xmlChar c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

// Follows libxml2's SAX events and hands on the blocks its tree builder
// would have made, where it would have put them: the same white space kept,
// the same nesting after a lost end of a start tag, an element after the
// root's end inside the root or (behind a document type) nowhere, and
// everything below the depth limit lifted up to it.
class Scanner : public ParseState
{
public:
    explicit Scanner(BlockSink &sink) : m_sink(sink) {}

    int maxDepth = 0; // depth of the deepest node, as DepthOf counts it

    void install(xmlSAXHandler *sax)
    {
        sax->startElement = [](void *c, const xmlChar *name, const xmlChar **atts) {
            self(c).onStart(name, atts);
        };
        sax->endElement = [](void *c, const xmlChar *) { self(c).onEnd(); };
        sax->characters
            = [](void *c, const xmlChar *text, int len) { self(c).onText(text, len, true); };
        sax->cdataBlock
            = [](void *c, const xmlChar *text, int len) { self(c).onText(text, len, false); };
        sax->comment = [](void *c, const xmlChar *) { self(c).onOther(nullptr, false); };
        sax->processingInstruction = [](void *c, const xmlChar *target, const xmlChar *) {
            self(c).onOther(target, true);
        };
    }

    // Closes what a stopped parse left open.
    void finish()
    {
        while (!m_open.empty())
            pop();
        if (m_rootInSink)
            m_sink.closeElement();
        m_rootInSink = false;
    }

private:
    enum class Last : uint8_t { None, Text, KeepsBlanks, DropsBlanks };
    struct Open
    {
        int depth;
        bool visible;
        bool keepsBlanks;
        Last last;
    };

    static Scanner &self(void *ctx)
    {
        return *static_cast<Scanner *>(static_cast<htmlParserCtxtPtr>(ctx)->_private);
    }

    // libxml2 sometimes drops an element from its stack without an end
    // event (a start tag without its '>'); the tree builder's node goes too.
    void sync(int pushed)
    {
        while (static_cast<int>(m_open.size()) + pushed > ctxt->nameNr && !m_open.empty())
            pop();
    }

    void pop()
    {
        const Open top = m_open.back();
        m_open.pop_back();
        if (!top.visible || top.depth >= MaxBlockDepth)
            return;
        if (top.depth == 1)
            return; // the root stays open: a later element can still land in it
        m_sink.closeElement();
    }

    void reach(int depth)
    {
        if (depth > maxDepth)
            maxDepth = depth;
    }

    void onStart(const xmlChar *name, const xmlChar **atts)
    {
        sync(1);
        Open open{1, true, KeepsBlanks(name), Last::None};
        if (!m_open.empty()) {
            Open &parent = m_open.back();
            parent.last = open.keepsBlanks ? Last::KeepsBlanks : Last::DropsBlanks;
            open.depth = parent.depth + 1;
            open.visible = parent.visible;
        } else if (m_rootSeen) {
            // libxml2 hangs it under the document's first child: the root,
            // unless a document type or a comment came first.
            const bool rootFirst
                = !m_docNodeFirst && (ctxt->myDoc == nullptr || ctxt->myDoc->intSubset == nullptr);
            open.visible = rootFirst;
            open.depth = rootFirst ? 2 : 1;
        } else {
            m_rootSeen = true;
            m_rootInSink = true;
        }
        m_open.push_back(open);
        reach(open.depth);
        if (!open.visible)
            return;
        static const xmlChar kEmpty[1] = {0};
        if (atts != nullptr)
            for (size_t i = 0; atts[i] != nullptr; i += 2)
                if (atts[i + 1] == nullptr)
                    atts[i + 1] = kEmpty;
        const char *n = reinterpret_cast<const char *>(name);
        m_sink.openElement(TagOfName(n), n, reinterpret_cast<const char *const *>(atts),
                           ctxt->input != nullptr ? ctxt->input->line : 0);
        if (atts != nullptr)
            for (size_t i = 0; atts[i] != nullptr; i += 2)
                if (atts[i + 1] == kEmpty)
                    atts[i + 1] = nullptr; // the parser frees the values
        if (open.depth >= MaxBlockDepth)
            m_sink.closeElement(); // its content follows it, lifted
    }

    void onEnd()
    {
        sync(0);
        if (!m_open.empty())
            pop();
    }

    // White space the tree builder drops: libxml2 asks it about the
    // element's last child, which it cannot do here.
    bool dropsBlanks(const Open &top, const xmlChar *text, int len) const
    {
        const xmlParserInputPtr in = ctxt->input;
        if (in == nullptr || in->cur == nullptr || in->cur == in->base || *in->cur != '<'
            || !IsBlank(in->cur[-1]))
            return false; // not white space read from the source up to a tag
        for (int i = 0; i < len; ++i)
            if (!IsBlank(text[i]))
                return false;
        const auto *name = reinterpret_cast<const char *>(ctxt->name);
        if (name == nullptr || std::strcmp(name, "html") == 0 || std::strcmp(name, "head") == 0)
            return false; // libxml2 decided those itself
        switch (top.last) {
        case Last::None: return !top.keepsBlanks;
        case Last::Text:
        case Last::KeepsBlanks: return false;
        case Last::DropsBlanks: return true;
        }
        return false;
    }

    void onText(const xmlChar *text, int len, bool characters)
    {
        sync(0);
        if (m_open.empty())
            return; // outside every element: the tree builder has no place for it
        Open &top = m_open.back();
        if (characters && dropsBlanks(top, text, len))
            return;
        top.last = characters ? Last::Text : Last::DropsBlanks;
        reach(top.depth + 1);
        if (top.visible)
            m_sink.text(
                std::string_view(reinterpret_cast<const char *>(text), static_cast<size_t>(len)));
    }

    // A comment (name null) or a processing instruction.
    void onOther(const xmlChar *name, bool instruction)
    {
        sync(0);
        if (m_open.empty()) {
            if (!m_rootSeen)
                m_docNodeFirst = true;
            reach(1);
            return;
        }
        Open &top = m_open.back();
        if (instruction)
            top.last = KeepsBlanks(name) ? Last::KeepsBlanks : Last::DropsBlanks;
        reach(top.depth + 1);
    }

    BlockSink &m_sink;
    std::vector<Open> m_open;
    bool m_rootSeen = false;
    bool m_rootInSink = false;
    bool m_docNodeFirst = false; // a comment or instruction came before the root
};

} // namespace

void RepairUtf8(std::string &text)
{
    for (size_t i = 0; i < text.size();) {
        const size_t n = utf8Length(text, i);
        if (n != 0) {
            i += n;
        } else {
            text[i] = '?';
            ++i;
        }
    }
}

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
    htmlParserCtxtPtr ctxt = OpenContext(bytes, state);
    if (ctxt == nullptr) {
        out.outOfMemory = true;
        return out;
    }
    state.startElement = ctxt->sax->startElement;
    if (state.startElement != nullptr)
        ctxt->sax->startElement = OnStartElement;

    htmlParseDocument(ctxt);

    out.doc = ctxt->myDoc;
    ctxt->myDoc = nullptr;
    TakeOutcome(ctxt, state, out.doc, out);
    // The parser's node stack only grows (by doubling), so its size bounds
    // the depth; the exact depth is only worth a walk when it matters.
    const int stackBound = ctxt->nodeMax + 1;
    htmlFreeParserCtxt(ctxt);

    if (out.doc == nullptr)
        return out;
    if (state.fellBackToLatin1)
        RepairTree(out.doc->children);
    if (stackBound < MaxBlockDepth && bytes.size() < kExactDepthBytes) {
        out.sourceDepth = stackBound;
        return out;
    }
    out.sourceDepth = DepthOf(out.doc->children);
    if (out.sourceDepth > MaxBlockDepth)
        Flatten(out.doc->children, MaxBlockDepth);
    return out;
}

BuiltTree ScanTree(std::string_view bytes, BlockSink &sink)
{
    BuiltTree out;
    if (bytes.empty() || bytes.size() > static_cast<size_t>(INT_MAX))
        return out;

    Scanner scanner(sink);
    ErrorRedirect redirect(&scanner);
    htmlParserCtxtPtr ctxt = OpenContext(bytes, scanner);
    if (ctxt == nullptr) {
        out.outOfMemory = true;
        return out;
    }
    scanner.install(ctxt->sax);

    htmlParseDocument(ctxt);

    scanner.finish();
    TakeOutcome(ctxt, scanner, ctxt->myDoc, out);
    const bool parsed = ctxt->myDoc != nullptr;
    // The context does not free the document: a document node and its type,
    // no elements.
    xmlFreeDoc(ctxt->myDoc);
    ctxt->myDoc = nullptr;
    htmlFreeParserCtxt(ctxt);
    if (!parsed)
        return out;
    if (scanner.fellBackToLatin1)
        sink.repairUtf8();
    // BuildTree takes a cheap bound instead on small shallow documents,
    // which decides nothing differently: both stay far below every limit.
    out.sourceDepth = scanner.maxDepth;
    return out;
}

} // namespace sylvix::html
