// Arbitrary bytes as a page: the parser module directly, and the site
// model's reading of a page (link events, then children of a node).
//
// Input: one byte of switches (markup checks on or off, a small size limit
// that cuts the document, the classic one-parse-per-thread entry points),
// then the page.
//
// Besides the sanitizers' reports, a run fails when the tree is deeper than
// the parser promises, when the messages are not in line order or more than
// allowed, or when the model's reading leaves nodes or strings behind.

#include "fuzz/ScratchServer.h"
#include "htmlparse/HtmlParse.h"
#include "model/Expand.h"
#include "model/Page.h"
#include "model/SiteNode.h"
#include "model/Url.h"
#include "platform/TextUtil.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

using namespace sylvix;

namespace {

enum Switch : uint8_t {
    NoChecks = 1,   // without the markup checker
    SmallLimit = 2, // maxBytes cuts the document
    Classic = 4,    // HTMLParseBegin / HTMLParseDo / HTMLParseEnd on a memory stream
    NoModel = 8,    // only the parser
};

void check(bool ok, const char *what)
{
    if (!ok) {
        std::fprintf(stderr, "html fuzz: %s\n", what);
        std::abort();
    }
}

// Visits every block without recursion and checks the depth bound.
size_t walkTree(const html::Block *root)
{
    struct Item
    {
        const html::Block *b;
        int depth;
    };
    std::vector<Item> stack;
    if (root)
        stack.push_back({root, 1});
    size_t count = 0;
    while (!stack.empty()) {
        Item it = stack.back();
        stack.pop_back();
        ++count;
        check(it.depth <= html::MaxBlockDepth, "blocks nested deeper than MaxBlockDepth");
        const int type = html::BlockTypeOf(it.b);
        check(type == html::Element || type == html::Text, "a block of no known type");
        if (type == html::Element) {
            check(html::BlockName(it.b) != nullptr, "an element without a name");
            (void)html::BlockTag(it.b);
            for (const char *name : {"href", "HREF", "src", "alt", "type", "", "x"})
                if (const char *v = html::HTMLGetAttr(it.b, name))
                    (void)std::string(v);
        } else {
            check(html::BlockText(it.b) != nullptr, "a text block without text");
            check(isUtf8(html::BlockText(it.b)), "a text block that is not UTF-8");
        }
        (void)html::BlockLine(it.b);
        for (const html::Block *c = html::BlockFirstChild(it.b); c; c = html::BlockNext(c))
            stack.push_back({c, it.depth + 1});
    }
    return count;
}

int g_lastLine = 0;
size_t g_messages = 0;

int onLegacyMessage(const html::Error *e)
{
    ++g_messages;
    check(e->line >= g_lastLine, "messages out of line order");
    g_lastLine = e->line;
    return 1;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzz::ScratchServer::get();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const uint8_t sw = data[0];
    std::string_view page(reinterpret_cast<const char *>(data) + 1, size - 1);

    html::ParseOptions options;
    options.diagnostics = (sw & NoChecks) == 0;
    if (sw & SmallLimit) {
        options.maxBytes = 1 + (sw >> 4) * 37;
        options.maxMessages = sw >> 4;
    }
    // With the default options the model's reading below parses the same
    // way; once is enough.
    const bool direct = (sw & (NoChecks | SmallLimit | NoModel)) != 0;
    int lastLine = 0;
    size_t messages = 0;
    auto doc = !direct ? nullptr
                       : html::ParseBytes(
                           page,
                           [&](const html::Error &e) {
                               ++messages;
                               check(e.line >= lastLine, "messages out of line order");
                               lastLine = e.line;
                               check(e.level >= 0 && e.level <= 3, "a message of no known level");
                               return 1;
                           },
                           options);
    if (direct) {
        check(doc != nullptr, "no document");
        check(messages <= options.maxMessages + 1, "more messages than allowed");
        walkTree(doc->root());
        doc.reset();
    }

    if (sw & Classic) {
        std::string copy(page);
        FILE *stream = copy.empty() ? nullptr : ::fmemopen(copy.data(), copy.size(), "r");
        html::LegacyHandler previous = html::HTMLSetErrorHand(onLegacyMessage);
        g_lastLine = 0;
        g_messages = 0;
        html::HTMLParseBegin();
        html::HTMLParseDo(stream);
        html::Block *root = html::HTMLParseEnd();
        walkTree(root);
        html::HTMLFreeTree(root);
        html::HTMLSetErrorHand(previous);
        if (stream)
            std::fclose(stream);
    }

    if (!(sw & NoModel)) {
        const size_t nodesBefore = LiveNodeCount();
        ForgetRepeatedLinks(); // so that only this input's strings are counted
        const size_t stringsBefore = SharedStr::poolSize();
        {
            PageEvents events = ParsePageBytes(page);
            SiteNode *node = CreateNode();
            SetUrl(node, "http://www.fuzz.test/dir/page.html", nullptr);
            ApplyLinkEvents(node, events.events);
            size_t children = 0;
            for (SiteNode *c = node->firstChild(); c; c = c->nextSibling())
                ++children;
            size_t childEvents = 0;
            for (const LinkEvent &e : events.events)
                childEvents += e.type == LinkEvent::Child;
            check(children == childEvents, "not one child per link");
            FreeNode(node);
        }
        check(LiveNodeCount() == nodesBefore, "nodes left alive after the tree was freed");
        ForgetRepeatedLinks();
        check(SharedStr::poolSize() == stringsBefore,
              "shared strings left after the tree was freed");
    }
    return 0;
}
