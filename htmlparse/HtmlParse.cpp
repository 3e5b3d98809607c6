#include "htmlparse/HtmlParse.h"

#include "htmlparse/Bounds.h"
#include "htmlparse/MarkupCheck.h"
#include "htmlparse/MessageList.h"
#include "htmlparse/TreeBuilder.h"

#include <libxml/tree.h>

#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <exception>
#include <mutex>
#include <new>

namespace sylvix::html {

struct Document::Impl
{
    explicit Impl(xmlDocPtr d) : doc(d) {}
    ~Impl()
    {
        if (doc != nullptr)
            xmlFreeDoc(doc);
    }
    Impl(const Impl &) = delete;
    Impl &operator=(const Impl &) = delete;

    xmlDocPtr doc;
};

Document::Document(std::unique_ptr<Impl> impl) : m_impl(std::move(impl)) {}

Document::~Document() = default;

const Block *Document::root() const
{
    if (!m_impl || m_impl->doc == nullptr)
        return nullptr;
    return reinterpret_cast<const Block *>(xmlDocGetRootElement(m_impl->doc));
}

namespace {

// libxml2 takes an int length.
constexpr size_t kHardMaxBytes = size_t{1} << 30;

void InitOnce()
{
    static std::once_flag once;
    std::call_once(once, [] {
        InitTreeBuilder();
        InitMarkupCheck();
    });
}

int LinesIn(std::string_view text)
{
    return static_cast<int>(std::count(text.begin(), text.end(), '\n')) + 1;
}

std::string SizeText(size_t bytes)
{
    if (bytes >= (1u << 20) && bytes % (1u << 20) == 0)
        return std::to_string(bytes >> 20) + " MB";
    return std::to_string(bytes) + " bytes";
}

// Files from old Macintosh editors end lines with a bare CR, which libxml2
// does not count; such a document is read with LF instead.
bool HasOnlyCrLines(std::string_view bytes)
{
    return std::memchr(bytes.data(), '\n', bytes.size()) == nullptr
           && std::memchr(bytes.data(), '\r', bytes.size()) != nullptr;
}

// How the bytes were come by, for the notes about it.
enum class Source { Bytes, Stream, NoStream, ReadError };

// Reads bytes with build (which parses the text it is given) and reports
// the messages: the same for a tree and for a scan.
template<class Build>
void Read(std::string_view bytes, const ErrorHandler &onError, const ParseOptions &options,
          Source source, Build &&build)
{
    InitOnce();
    MessageList messages(options.minLevel, options.maxMessages);
    try {
        const bool readFailed = source == Source::ReadError;
        if (source == Source::NoStream)
            messages.addNote(0, 2, "The document could not be opened for reading");
        if (readFailed)
            messages.addNote(0, 2, "The document could not be read to the end");
        const size_t maxBytes = std::min(options.maxBytes, kHardMaxBytes);
        if (bytes.size() > maxBytes) {
            bytes = bytes.substr(0, maxBytes);
            messages.addNote(LinesIn(bytes), 1,
                             "The document is larger than " + SizeText(maxBytes)
                                 + "; only its first " + SizeText(maxBytes) + " were read");
        }
        if (bytes.empty() && (source == Source::Bytes || source == Source::Stream))
            messages.addNote(0, 1, "The document is empty");

        std::string relined;
        std::string_view text = bytes;
        if (!bytes.empty() && HasOnlyCrLines(bytes)) {
            relined.assign(bytes);
            std::replace(relined.begin(), relined.end(), '\r', '\n');
            text = relined;
        }
        std::string trimmed;
        AttributeCut cut;
        if (CutAttributes(text, MaxAttributes, trimmed, cut)) {
            text = trimmed;
            bytes = trimmed; // the markup check reads the same
            messages.addNote(cut.firstLine, 1,
                             "Elements with more than " + std::to_string(MaxAttributes)
                                 + " attributes were cut to their first "
                                 + std::to_string(MaxAttributes) + " ("
                                 + std::to_string(cut.dropped) + " attributes of "
                                 + std::to_string(cut.elements) + " elements left out)");
        }
        const BuiltTree tree = build(text);
        if (tree.outOfMemory)
            messages.addNote(0, 2, "The document could not be parsed: out of memory");
        if (tree.stopped)
            messages.addNote(tree.stopLine, 2,
                             "Reading stopped here: too many stray end tags inside elements "
                             "nested "
                                 + std::to_string(tree.sourceDepth) + " deep");

        if (options.diagnostics && !bytes.empty()) {
            const unsigned long long work = static_cast<unsigned long long>(bytes.size())
                                            * static_cast<unsigned long long>(tree.sourceDepth);
            if (bytes.size() > CheckMaxBytes)
                messages.addNote(0, 1,
                                 "Markup checks were skipped: the document is larger than "
                                     + SizeText(CheckMaxBytes));
            else if (tree.sourceDepth > CheckMaxDepth)
                messages.addNote(0, 1,
                                 "Markup checks were skipped: elements are nested "
                                     + std::to_string(tree.sourceDepth) + " deep (more than "
                                     + std::to_string(CheckMaxDepth) + ")");
            else if (work > CheckMaxWork)
                messages.addNote(0, 1,
                                 "Markup checks were skipped: the document is too large for "
                                 "its nesting depth of "
                                     + std::to_string(tree.sourceDepth));
            else
                CheckMarkup(bytes, tree.encoding, messages);
        }
    } catch (const std::bad_alloc &) {
        messages.addNote(0, 2, "The document could not be parsed: out of memory");
    } catch (const std::exception &e) {
        messages.addNote(0, 2, std::string("The document could not be parsed: ") + e.what());
    }
    std::vector<Error> delivered;
    try {
        delivered = messages.take();
    } catch (const std::bad_alloc &) {
        delivered.clear();
    }
    if (onError) {
        for (const Error &e : delivered)
            onError(e);
    }
}

std::unique_ptr<Document> Parse(std::string_view bytes, const ErrorHandler &onError,
                                const ParseOptions &options, Source source)
{
    std::unique_ptr<Document> document;
    Read(bytes, onError, options, source, [&document](std::string_view text) {
        auto impl = std::make_unique<Document::Impl>(nullptr);
        BuiltTree tree = BuildTree(text);
        impl->doc = tree.doc;
        tree.doc = nullptr;
        document = std::make_unique<Document>(std::move(impl));
        return tree;
    });
    if (!document) {
        std::unique_ptr<Document::Impl> impl(new (std::nothrow) Document::Impl(nullptr));
        if (impl)
            document.reset(new (std::nothrow) Document(std::move(impl)));
    }
    return document;
}

// Reads the whole stream, or maxBytes + 1 bytes of it so a cut is noticed.
// False on a read error.
bool ReadAll(FILE *stream, size_t maxBytes, std::string &out)
{
    if (stream == nullptr)
        return true;
    const size_t limit = std::min(maxBytes, kHardMaxBytes) + 1;
    struct stat st;
    if (fstat(fileno(stream), &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0) {
        const long pos = std::max(ftell(stream), 0L);
        if (st.st_size > pos)
            out.reserve(out.size() + std::min(static_cast<size_t>(st.st_size - pos), limit));
    }
    char buffer[65536];
    size_t total = 0;
    while (total < limit) {
        const size_t want = std::min(sizeof buffer, limit - total);
        const size_t got = fread(buffer, 1, want, stream);
        out.append(buffer, got);
        total += got;
        if (got < want)
            break;
    }
    return ferror(stream) == 0;
}

} // namespace

std::unique_ptr<Document> ParseBytes(std::string_view bytes, const ErrorHandler &onError,
                                     const ParseOptions &options)
{
    return Parse(bytes, onError, options, Source::Bytes);
}

void ScanBytes(std::string_view bytes, BlockSink &sink, const ErrorHandler &onError,
               const ParseOptions &options)
{
    Read(bytes, onError, options, Source::Bytes,
         [&sink](std::string_view text) { return ScanTree(text, sink); });
}

std::unique_ptr<Document> ParseStream(FILE *stream, const ErrorHandler &onError,
                                      const ParseOptions &options)
{
    std::string bytes;
    bool ok = true;
    try {
        ok = ReadAll(stream, options.maxBytes, bytes);
    } catch (const std::bad_alloc &) {
        ok = false;
        bytes.clear();
    }
    const Source source = stream == nullptr ? Source::NoStream
                          : ok              ? Source::Stream
                                            : Source::ReadError;
    return Parse(bytes, onError, options, source);
}

// ---- The classic entry points: one parse at a time per thread. ----

namespace {

struct LegacyState
{
    LegacyHandler handler = nullptr;
    std::string bytes;
    Source source = Source::NoStream;
};

thread_local LegacyState t_legacy;

} // namespace

LegacyHandler HTMLSetErrorHand(LegacyHandler handler)
{
    LegacyHandler previous = t_legacy.handler;
    t_legacy.handler = handler;
    return previous;
}

void HTMLParseBegin()
{
    t_legacy.bytes.clear();
    t_legacy.bytes.shrink_to_fit();
    t_legacy.source = Source::NoStream;
}

void HTMLParseDo(FILE *stream)
{
    if (stream == nullptr)
        return;
    if (t_legacy.source == Source::NoStream)
        t_legacy.source = Source::Stream;
    try {
        if (!ReadAll(stream, ParseOptions{}.maxBytes, t_legacy.bytes))
            t_legacy.source = Source::ReadError;
    } catch (const std::bad_alloc &) {
        t_legacy.source = Source::ReadError;
    }
}

Block *HTMLParseEnd()
{
    std::string bytes;
    bytes.swap(t_legacy.bytes);
    const Source source = t_legacy.source;
    t_legacy.source = Source::NoStream;
    LegacyHandler handler = t_legacy.handler;
    ErrorHandler forward;
    if (handler != nullptr)
        forward = [handler](const Error &e) { return handler(&e); };
    std::unique_ptr<Document> document = Parse(bytes, forward, ParseOptions{}, source);
    const Block *root = document ? document->root() : nullptr;
    if (root == nullptr)
        return nullptr;
    // The root's document carries its owner until HTMLFreeTree.
    auto *node = const_cast<xmlNode *>(reinterpret_cast<const xmlNode *>(root));
    node->doc->_private = document.release();
    return reinterpret_cast<Block *>(node);
}

void HTMLFreeTree(Block *root)
{
    auto *node = reinterpret_cast<xmlNode *>(root);
    if (node == nullptr || node->doc == nullptr)
        return;
    auto *document = static_cast<Document *>(node->doc->_private);
    if (document == nullptr)
        return; // owned by a Document the caller holds
    node->doc->_private = nullptr;
    delete document;
}

} // namespace sylvix::html
