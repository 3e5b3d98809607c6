#include "htmlparse/Bounds.h"

#include "platform/TextUtil.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace sylvix::html {

namespace {

bool isSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
}

bool isLetter(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

char lower(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool equalsNoCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (lower(a[i]) != lower(b[i]))
            return false;
    return true;
}

// Where "</name" next starts (any case), or text.size().
size_t findEndTag(std::string_view text, size_t from, std::string_view name)
{
    for (size_t i = from; (i = text.find("</", i)) != std::string_view::npos; i += 2) {
        if (equalsNoCase(text.substr(i + 2, name.size()), name))
            return i;
    }
    return text.size();
}

struct StartTag
{
    size_t end = 0;     // just past the closing ">" (or the end of text)
    size_t cutFrom = 0; // where the first attribute past the cap starts; 0: none
    size_t attributes = 0;
};

// Scans the start tag whose name begins at i (just after "<").
StartTag scanStartTag(std::string_view text, size_t i, size_t maxAttributes, std::string_view &name)
{
    StartTag tag;
    const size_t n = text.size();
    const size_t nameStart = i;
    while (i < n && !isSpace(text[i]) && text[i] != '/' && text[i] != '>')
        ++i;
    name = text.substr(nameStart, i - nameStart);
    for (;;) {
        while (i < n && (isSpace(text[i]) || text[i] == '/'))
            ++i;
        if (i >= n) {
            tag.end = n;
            return tag;
        }
        if (text[i] == '>') {
            tag.end = i + 1;
            return tag;
        }
        if (++tag.attributes == maxAttributes + 1)
            tag.cutFrom = i;
        // The name, then an optional value.
        ++i; // a name may start with "=" or a quote
        while (i < n && !isSpace(text[i]) && text[i] != '/' && text[i] != '>' && text[i] != '=')
            ++i;
        size_t j = i;
        while (j < n && isSpace(text[j]))
            ++j;
        if (j >= n || text[j] != '=')
            continue;
        i = j + 1;
        while (i < n && isSpace(text[i]))
            ++i;
        if (i < n && (text[i] == '"' || text[i] == '\'')) {
            const size_t close = text.find(text[i], i + 1);
            i = close == std::string_view::npos ? n : close + 1;
        } else {
            while (i < n && !isSpace(text[i]) && text[i] != '>')
                ++i;
        }
    }
}

enum class Utf16 { No, LittleEndian, BigEndian };

// A byte-order mark, or (without one) a start where every other byte is a
// NUL: ASCII markup in UTF-16.
Utf16 utf16Of(std::string_view text)
{
    if (text.size() >= 2 && text[0] == '\xFF' && text[1] == '\xFE')
        return Utf16::LittleEndian;
    if (text.size() >= 2 && text[0] == '\xFE' && text[1] == '\xFF')
        return Utf16::BigEndian;
    const size_t n = std::min<size_t>(text.size() & ~size_t(1), 512);
    if (n < 8)
        return Utf16::No;
    size_t evenNuls = 0, oddNuls = 0;
    for (size_t i = 0; i < n; i += 2) {
        evenNuls += text[i] == '\0';
        oddNuls += text[i + 1] == '\0';
    }
    if (oddNuls * 4 >= n && evenNuls == 0)
        return Utf16::LittleEndian;
    if (evenNuls * 4 >= n && oddNuls == 0)
        return Utf16::BigEndian;
    return Utf16::No;
}

// text as UTF-8 (a mark at its start dropped); unpaired surrogates and an
// odd last byte become U+FFFD.
std::string utf8FromUtf16(std::string_view text, Utf16 order)
{
    auto unit = [&](size_t i) -> uint32_t {
        const auto a = static_cast<unsigned char>(text[i]);
        const auto b = static_cast<unsigned char>(text[i + 1]);
        return order == Utf16::LittleEndian ? a | (b << 8) : (a << 8) | b;
    };
    std::string out;
    out.reserve(text.size());
    size_t i = 0;
    if (text.size() >= 2 && unit(0) == 0xFEFF)
        i = 2;
    for (; i + 1 < text.size(); i += 2) {
        uint32_t c = unit(i);
        if (c >= 0xD800 && c < 0xDC00 && i + 3 < text.size() && unit(i + 2) >= 0xDC00
            && unit(i + 2) < 0xE000) {
            c = 0x10000 + ((c - 0xD800) << 10) + (unit(i + 2) - 0xDC00);
            i += 2;
        } else if (c >= 0xD800 && c < 0xE000) {
            c = 0xFFFD;
        }
        appendUtf8(out, c);
    }
    if (i < text.size())
        appendUtf8(out, 0xFFFD);
    return out;
}

bool cutUtf8(std::string_view text, size_t maxAttributes, std::string &out, AttributeCut &cut)
{
    out.clear();
    cut = {};
    size_t copied = 0; // text before this is in out (once anything was cut)
    const size_t n = text.size();
    size_t i = 0;
    while ((i = text.find('<', i)) != std::string_view::npos) {
        if (text.compare(i, 4, "<!--") == 0) {
            const size_t close = text.find("-->", i + 4);
            i = close == std::string_view::npos ? n : close + 3;
            continue;
        }
        if (i + 1 >= n || !isLetter(text[i + 1])) {
            ++i;
            continue;
        }
        std::string_view name;
        StartTag tag = scanStartTag(text, i + 1, maxAttributes, name);
        if (tag.cutFrom != 0) {
            if (cut.elements == 0) {
                out.reserve(text.size());
                cut.firstLine
                    = 1
                      + static_cast<int>(std::count(
                          text.begin(), text.begin() + static_cast<std::ptrdiff_t>(i), '\n'));
            }
            ++cut.elements;
            cut.dropped += tag.attributes - maxAttributes;
            out.append(text.substr(copied, tag.cutFrom - copied));
            const size_t close = tag.end > 0 && text[tag.end - 1] == '>' ? tag.end - 1 : tag.end;
            out.append(static_cast<size_t>(
                           std::count(text.begin() + static_cast<std::ptrdiff_t>(tag.cutFrom),
                                      text.begin() + static_cast<std::ptrdiff_t>(close), '\n')),
                       '\n');
            copied = close;
        }
        i = tag.end;
        // Raw text: a "<" inside is not a tag.
        if (equalsNoCase(name, "script") || equalsNoCase(name, "style"))
            i = findEndTag(text, i, name);
    }
    if (cut.elements == 0)
        return false;
    out.append(text.substr(copied));
    return true;
}

} // namespace

bool CutAttributes(std::string_view text, size_t maxAttributes, std::string &out, AttributeCut &cut)
{
    const Utf16 order = utf16Of(text);
    if (order == Utf16::No)
        return cutUtf8(text, maxAttributes, out, cut);
    // Scanned as UTF-8; a page that needs cutting is handed on so, its mark
    // telling the parsers how to read it.
    if (!cutUtf8(utf8FromUtf16(text, order), maxAttributes, out, cut))
        return false;
    out.insert(0, "\xEF\xBB\xBF");
    return true;
}

} // namespace sylvix::html
