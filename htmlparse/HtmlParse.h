#pragma once

// The HTML parser library. A document is parsed into a tree of blocks
// (elements and texts) and, separately, checked for markup problems, which
// are reported one message at a time to an error handler.

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace sylvix::html {

enum BlockType : int { Element = 1, Text = 2 };

// Tag numbers of the elements the site model acts on. Every other element
// has a number of its own above these, or OtherTag when it is not known.
enum Tag : int {
    TagAnchor = 0,
    TagBase = 3,
    TagForm = 14,
    TagImg = 25,
    TagImage = 29, // the obsolete "image" element, treated as img
    TagInput = 26,
    TagTitle = 42,
    OtherTag = 1000,
};

struct Block; // one node of the parse tree; owned by its Document

// Blocks nest at most this deep (the root at depth 1), so code that recurses
// over a tree stays within a small stack. Anything deeper in the source is
// lifted up to this depth, in document order, as following siblings.
constexpr int MaxBlockDepth = 256;

// The markup checker is skipped (with one warning saying why) on documents
// larger than this, nesting deeper than CheckMaxDepth, or whose size times
// depth exceeds CheckMaxWork: its time grows with both. A check that runs
// away (the checker loops on some broken markup) is stopped by a memory and
// allocation budget, with a warning at the line it reached. Reading itself
// stops, with an error, when thousands of stray end tags inside thousands of
// unclosed elements would take the tree builder quadratic time.
constexpr size_t CheckMaxBytes = 16u << 20;
constexpr int CheckMaxDepth = 1000;
constexpr unsigned long long CheckMaxWork = 2000000000ull;

int BlockTypeOf(const Block *b);
int BlockTag(const Block *b);                 // elements only
const char *BlockName(const Block *b);        // element name, lower case
const char *BlockText(const Block *b);        // text blocks: the text (UTF-8)
const Block *BlockNext(const Block *b);       // next sibling or null
const Block *BlockFirstChild(const Block *b); // first child or null
int BlockLine(const Block *b);                // source line (where a start tag ends) or 0
// All of these accept null (giving 0, null or OtherTag).

// The value of an attribute (names compare ignoring case); null when absent,
// "" for a present attribute without a value. Valid until the tree is freed.
const char *HTMLGetAttr(const Block *b, const char *name);

// One parser message.
struct Error
{
    int line = 0;
    int level = 0; // 0 information, 1 warning, 2 error, 3 other
    std::string message;
};

using ErrorHandler = std::function<int(const Error &)>;

struct ParseOptions
{
    bool diagnostics = true;     // run the markup checker
    int minLevel = 0;            // drop messages below this level
    size_t maxMessages = 500;    // more are cut (the parser's own notes last), with
                                 // one more message saying how many
    size_t maxBytes = 64u << 20; // a larger document is cut here (with a message); at most 1 GB
};

// A parsed document: owns the tree.
class Document
{
public:
    ~Document();
    const Block *root() const; // the document's root element (or null for an empty document)
    Document(const Document &) = delete;
    Document &operator=(const Document &) = delete;
    struct Impl;
    explicit Document(std::unique_ptr<Impl> impl);

private:
    std::unique_ptr<Impl> m_impl;
};

// Receives a document's blocks as they are read, without a tree: the
// elements and texts come in document order and nest exactly as in the tree
// ParseBytes gives (depth limit included). Attributes are name/value pairs
// ending in null, and all strings are valid only during the call. When
// libxml2 had to read part of the text as Latin-1, the strings can hold bytes
// that are not UTF-8; repairUtf8 then says so once, after the last block, and
// RepairUtf8 mends each string as the tree would have.
class BlockSink
{
public:
    virtual ~BlockSink() = default;
    virtual void openElement(int tag, const char *name, const char *const *attributes, int line)
        = 0;
    virtual void closeElement() = 0;
    virtual void text(std::string_view text) = 0;
    virtual void repairUtf8() {}
};

// Replaces every byte outside a well-formed UTF-8 sequence with '?'.
void RepairUtf8(std::string &text);

// Thread-safe: parsers on different threads do not share state.
// Messages go to onError in line order, after the tree is built.
std::unique_ptr<Document> ParseBytes(std::string_view bytes, const ErrorHandler &onError,
                                     const ParseOptions &options = {});
// Reads like ParseBytes, with the same messages, but hands the blocks to
// sink instead of keeping a tree, so memory does not grow with the document.
void ScanBytes(std::string_view bytes, BlockSink &sink, const ErrorHandler &onError,
               const ParseOptions &options = {});
// Reads the whole stream first. A null stream (a file that could not be
// opened) gives an empty document and an error saying so.
std::unique_ptr<Document> ParseStream(FILE *stream, const ErrorHandler &onError,
                                      const ParseOptions &options = {});

// The classic entry points, for one parse at a time on a thread.
using LegacyHandler = int (*)(const Error *);
LegacyHandler HTMLSetErrorHand(LegacyHandler handler); // returns the previous handler
void HTMLParseBegin();
void HTMLParseDo(FILE *stream);
// HTMLParseDo reads the stream; HTMLParseEnd parses what was read, calls the
// handler once per message, and returns the root block (null for a document
// without elements, which needs no freeing); free it with HTMLFreeTree.
Block *HTMLParseEnd();
void HTMLFreeTree(Block *root); // accepts null

} // namespace sylvix::html
