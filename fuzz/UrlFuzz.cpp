// URL parsing and rebuilding on arbitrary bytes, with and without a parent
// made from arbitrary bytes, then resolution against a fixed server.
//
// Input: one byte of switches, then (with a parent) the parent's text up to
// a backslash followed by a line feed, then the node's text.
//
// Besides the sanitizers' reports, a run fails when rebuilding a URL twice
// gives two texts, or when the nodes and shared strings it made are not all
// gone once its tree is freed.

#include "fuzz/ScratchServer.h"
#include "model/Config.h"
#include "model/Expand.h"
#include "model/Resolve.h"
#include "model/SiteNode.h"
#include "model/Url.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

using namespace sylvix;

namespace {

enum Switch : uint8_t {
    WithParent = 1,    // the node gets a parent made from the input
    ParentIsChild = 2, // that parent is itself a link found on a fixed page
    ParseOnly = 4,     // ParseUrl + BuildUrl instead of SetUrl
    Resolve = 8,       // resolve the node against the scratch server
    Expand = 16,       // and, when it is a page there, read it
    Copy = 32,         // a deep copy of the tree, freed again
};

void check(bool ok, const char *what)
{
    if (!ok) {
        std::fprintf(stderr, "url fuzz: %s\n", what);
        std::abort();
    }
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
    std::string_view rest(reinterpret_cast<const char *>(data) + 1, size - 1);
    std::string_view parentText;
    if (sw & WithParent) {
        size_t cut = rest.find("\\\n");
        parentText = rest.substr(0, cut);
        rest = cut == std::string_view::npos ? std::string_view() : rest.substr(cut + 2);
    }

    const size_t nodesBefore = LiveNodeCount();
    ForgetRepeatedLinks(); // so that only this input's strings are counted
    const size_t stringsBefore = SharedStr::poolSize();
    {
        SiteNode *root = nullptr;
        SiteNode *parent = nullptr;
        if (sw & WithParent) {
            root = CreateNode();
            if (sw & ParentIsChild) {
                SetUrl(root, "http://www.fuzz.test/dir/page.html", nullptr);
                parent = AddChild(root, parentText, "parent");
            } else {
                SetUrl(root, parentText, nullptr);
                parent = root;
            }
        }
        SiteNode *node = CreateNode();
        if (parent)
            AppendChild(parent, node);
        if (sw & ParseOnly) {
            ParseUrl(node, rest, parent);
            BuildUrl(node);
        } else {
            SetUrl(node, rest, parent);
        }
        const std::string built = node->url.str();
        BuildUrl(node);
        check(node->url.str() == built, "BuildUrl gave another text the second time");
        (void)LocalUrl(node);

        if (sw & Resolve) {
            if (parent && (sw & Expand)) {
                // The way a row is opened: an equivalent, or resolution.
                if (NeedsReload(node) == ReloadResult::Expand) {
                    const bool readsFile = node->kind == Html && !node->equivalent;
                    if (!readsFile || fuzz::ScratchServer::get().contains(node->localPath.view()))
                        ExpandNode(node);
                }
            } else {
                ResolveNode(node);
            }
            (void)LocalUrl(node);
            check(node->localPath.size() <= kMaxLocalPath + 1 || !node->localPath,
                  "local path too long");
        }
        if (sw & Copy) {
            SiteNode *top = root ? root : node;
            SiteNode *copy = CopyNode(top, 1);
            for (SiteNode *c = copy->firstChild(); c; c = c->nextSibling())
                (void)c->firstChild();
            FreeNode(copy);
        }
        FreeNode(root ? root : node);
    }
    check(LiveNodeCount() == nodesBefore, "nodes left alive after the tree was freed");
    ForgetRepeatedLinks();
    check(SharedStr::poolSize() == stringsBefore, "shared strings left after the tree was freed");
    return 0;
}
