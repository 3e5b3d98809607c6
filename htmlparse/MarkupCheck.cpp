#include "htmlparse/MarkupCheck.h"

#include "htmlparse/MessageList.h"
#include "platform/TextUtil.h"

#include <tidy/tidy.h>
#include <tidy/tidybuffio.h>

#include <csetjmp>
#include <cstdlib>
#include <string>

namespace sylvix::html {
namespace {

// libtidy 5.6 loops forever on some malformed markup (a stray <tr> before a
// <dl> inside a table is enough), allocating as it goes. Every allocation of
// one check goes through this arena, which keeps a list of its blocks and a
// budget: past the budget it jumps back out of tidy, and the whole tidy
// document is dropped by freeing the blocks. Normal pages stay far below
// (about 3 allocations and 30 live bytes per input byte at worst).
struct TidyArena
{
    struct Header
    {
        Header *prev;
        Header *next;
        size_t size;
        size_t pad; // keeps the payload 16-byte aligned
    };

    TidyAllocator base; // first: tidy hands this pointer back
    Header blocks;      // circular list head
    size_t live = 0;
    size_t allocations = 0;
    size_t liveLimit = 0;
    size_t allocationLimit = 0;
    std::jmp_buf jump;

    static TidyArena *Of(TidyAllocator *a) { return reinterpret_cast<TidyArena *>(a); }

    void Link(Header *h)
    {
        h->next = blocks.next;
        h->prev = &blocks;
        blocks.next->prev = h;
        blocks.next = h;
    }
    static void Unlink(Header *h)
    {
        h->prev->next = h->next;
        h->next->prev = h->prev;
    }
    void Charge(size_t oldSize, size_t newSize)
    {
        if (++allocations > allocationLimit || live - oldSize + newSize > liveLimit)
            std::longjmp(jump, 1);
    }
    void FreeAll()
    {
        for (Header *h = blocks.next; h != &blocks;) {
            Header *next = h->next;
            std::free(h);
            h = next;
        }
        blocks.next = blocks.prev = &blocks;
        live = 0;
    }

    static void *TIDY_CALL Alloc(TidyAllocator *self, size_t size)
    {
        TidyArena *arena = Of(self);
        arena->Charge(0, size);
        auto *h = static_cast<Header *>(std::malloc(sizeof(Header) + size));
        if (h == nullptr)
            std::longjmp(arena->jump, 1);
        h->size = size;
        arena->Link(h);
        arena->live += size;
        return h + 1;
    }
    static void *TIDY_CALL Realloc(TidyAllocator *self, void *block, size_t size)
    {
        if (block == nullptr)
            return Alloc(self, size);
        TidyArena *arena = Of(self);
        Header *h = static_cast<Header *>(block) - 1;
        arena->Charge(h->size, size);
        Unlink(h);
        auto *moved = static_cast<Header *>(std::realloc(h, sizeof(Header) + size));
        if (moved == nullptr) {
            arena->Link(h);
            std::longjmp(arena->jump, 1);
        }
        arena->live = arena->live - moved->size + size;
        moved->size = size;
        arena->Link(moved);
        return moved + 1;
    }
    static void TIDY_CALL Free(TidyAllocator *self, void *block)
    {
        if (block == nullptr)
            return;
        Header *h = static_cast<Header *>(block) - 1;
        Of(self)->live -= h->size;
        Unlink(h);
        std::free(h);
    }
    static void TIDY_CALL Panic(TidyAllocator *self, ctmbstr)
    {
        std::longjmp(Of(self)->jump, 1); // tidy's own would abort the process
    }
};

const TidyAllocatorVtbl kArenaCalls
    = {TidyArena::Alloc, TidyArena::Realloc, TidyArena::Free, TidyArena::Panic};

struct CheckContext
{
    MessageList *messages;
    int lastLine = 0;
    bool full = false; // out of memory for messages
};

// Tidy sometimes quotes raw input bytes in its messages (a mangled tag
// name); anything that is not UTF-8 becomes U+FFFD.
void MakeUtf8(std::string &text)
{
    size_t i = 0;
    while (i < text.size() && static_cast<unsigned char>(text[i]) < 0x80)
        ++i;
    if (i == text.size())
        return;
    std::string out = text.substr(0, i);
    while (i < text.size()) {
        const size_t n = utf8Length(text, i);
        if (n != 0) {
            out.append(text, i, n);
            i += n;
        } else {
            out += "\xEF\xBF\xBD";
            ++i;
        }
    }
    text.swap(out);
}

int LevelOf(TidyReportLevel level)
{
    switch (level) {
    case TidyInfo: return 0;
    case TidyWarning: return 1;
    case TidyError:
    case TidyBadDocument:
    case TidyFatal: return 2;
    default: return 3;
    }
}

Bool TIDY_CALL OnTidyMessage(TidyMessage message)
{
    auto *context = static_cast<CheckContext *>(tidyGetAppData(tidyGetMessageDoc(message)));
    const int level = LevelOf(tidyGetMessageLevel(message));
    const int line = tidyGetMessageLine(message);
    if (context == nullptr)
        return no;
    if (line > 0)
        context->lastLine = line;
    if (!context->messages->wants(level) || context->full)
        return no;
    // The text without position and level word: both are given separately.
    const char *text = tidyGetMessageDefault(message);
    try {
        std::string body = text != nullptr ? text : "";
        while (!body.empty() && (body.back() == '\n' || body.back() == '\r' || body.back() == ' '))
            body.pop_back();
        MakeUtf8(body);
        context->messages->add(line, level, std::move(body));
    } catch (...) {
        context->full = true; // nothing may unwind through tidy
    }
    return no; // handled: tidy prints nothing
}

std::string Normalised(std::string_view name)
{
    std::string out;
    for (char c : name) {
        if (c == '-' || c == '_')
            continue;
        out += (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
    }
    return out;
}

// Tidy's name for the encoding libxml2 used; "raw" (bytes passed through,
// no complaints) for those tidy does not know.
const char *TidyEncodingFor(std::string_view libxmlName)
{
    if (libxmlName.empty())
        return "utf8";
    const std::string n = Normalised(libxmlName);
    struct Alias
    {
        const char *libxml;
        const char *tidy;
    };
    static const Alias kAliases[] = {
        {"UTF8", "utf8"},         {"ISO88591", "latin1"},   {"LATIN1", "latin1"},
        {"L1", "latin1"},         {"ISOLATIN1", "latin1"},  {"WINDOWS1252", "win1252"},
        {"CP1252", "win1252"},    {"ISO885915", "latin0"},  {"LATIN9", "latin0"},
        {"USASCII", "ascii"},     {"ASCII", "ascii"},       {"UTF16LE", "utf16le"},
        {"UTF16BE", "utf16be"},   {"UTF16", "utf16"},       {"BIG5", "big5"},
        {"SHIFTJIS", "shiftjis"}, {"SJIS", "shiftjis"},     {"MACINTOSH", "mac"},
        {"MAC", "mac"},           {"ISO2022JP", "iso2022"}, {"IBM858", "ibm858"},
    };
    for (const Alias &a : kAliases)
        if (n == a.libxml)
            return a.tidy;
    return "raw";
}

// Everything that may be jumped out of: no object here needs destroying.
void RunTidy(TidyArena &arena, std::string_view bytes, const char *encoding, CheckContext &context)
{
    TidyDoc tdoc = tidyCreateWithAllocator(&arena.base);
    TidyBuffer sink;
    tidyBufInitWithAllocator(&sink, &arena.base);
    tidySetErrorBuffer(tdoc, &sink);
    tidySetAppData(tdoc, &context);
    tidySetMessageCallback(tdoc, OnTidyMessage);
    ConfigureTidy(tdoc);
    tidySetInCharEncoding(tdoc, encoding);

    TidyBuffer input;
    tidyBufInitWithAllocator(&input, &arena.base);
    // Tidy only reads the attached bytes.
    tidyBufAttach(&input, const_cast<byte *>(reinterpret_cast<const byte *>(bytes.data())),
                  static_cast<uint>(bytes.size()));
    // Parsing finds most faults; the clean-up pass adds the checks against
    // the document's HTML version (proprietary attributes, obsolete
    // elements) for a few percent more. Nothing is written out.
    if (tidyParseBuffer(tdoc, &input) >= 0)
        tidyCleanAndRepair(tdoc);
    tidyBufDetach(&input);
    tidyRelease(tdoc);
    tidyBufFree(&sink);
}

// False when tidy went past its budget and was abandoned.
bool RunTidyGuarded(TidyArena &arena, std::string_view bytes, const char *encoding,
                    CheckContext &context)
{
    if (setjmp(arena.jump) != 0)
        return false;
    RunTidy(arena, bytes, encoding, context);
    return true;
}

} // namespace

void ConfigureTidy(TidyDoc tdoc)
{
    tidyOptSetBool(tdoc, TidyQuiet, yes);
    tidyOptSetBool(tdoc, TidyShowWarnings, yes);
    tidyOptSetBool(tdoc, TidyShowInfo, yes);
    tidyOptSetInt(tdoc, TidyShowErrors, 1000000000ul); // we cap ourselves, after sorting
    tidyOptSetBool(tdoc, TidyFixUri, no);
    tidyOptSetBool(tdoc, TidyFixBackslash, no);
    tidyOptSetBool(tdoc, TidyLiteralAttribs, yes);
    tidyOptSetBool(tdoc, TidyLowerLiterals, no);
    tidyOptSetBool(tdoc, TidyDropEmptyElems, no);
    tidyOptSetBool(tdoc, TidyDropEmptyParas, no);
    tidyOptSetBool(tdoc, TidyCoerceEndTags, no);
    tidyOptSetInt(tdoc, TidyAccessibilityCheckLevel, 0);
}

void InitMarkupCheck()
{
    // Fixes the message language once; otherwise every tidyCreate consults
    // the environment and writes a process-wide setting.
    tidySetLanguage("en");
}

void CheckMarkup(std::string_view bytes, std::string_view encoding, MessageList &messages)
{
    TidyArena arena;
    arena.base.vtbl = &kArenaCalls;
    arena.blocks.next = arena.blocks.prev = &arena.blocks;
    arena.allocationLimit = 32 * bytes.size() + 200000;
    arena.liveLimit = 64 * bytes.size() + (32u << 20);
    CheckContext context{&messages};

    const bool finished = RunTidyGuarded(arena, bytes, TidyEncodingFor(encoding), context);
    arena.FreeAll();
    if (!finished)
        messages.addNote(context.lastLine, 1,
                         "Markup checks stopped here: the checker could not get past this markup");
}

} // namespace sylvix::html
