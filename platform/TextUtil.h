#pragma once

// Small text helpers shared by every layer: ASCII case folding (the way the
// server compares names), UTF-8 checks, numbers read as the C library reads
// them, month names and dot segments.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace sylvix {

inline char lowerAscii(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

inline bool equalsNoCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (lowerAscii(a[i]) != lowerAscii(b[i]))
            return false;
    return true;
}

inline bool startsWithNoCase(std::string_view text, std::string_view prefix)
{
    return text.size() >= prefix.size() && equalsNoCase(text.substr(0, prefix.size()), prefix);
}

inline bool isSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}

inline std::string toLowerAscii(std::string_view s)
{
    std::string out(s);
    for (char &c : out)
        c = lowerAscii(c);
    return out;
}

// Length of the well-formed UTF-8 sequence at s[i] (no overlong forms, no
// surrogates, nothing past U+10FFFF) with its code point, or 0.
size_t decodeUtf8(std::string_view s, size_t i, uint32_t &codePoint);
inline size_t utf8Length(std::string_view s, size_t i)
{
    uint32_t ignored;
    return decodeUtf8(s, i, ignored);
}
bool isUtf8(std::string_view s);
// Appends codePoint (at most U+10FFFF) in UTF-8.
void appendUtf8(std::string &out, uint32_t codePoint);

// A decimal number at text[i] as the C library's "%d" reads one: white
// space, a sign, then digits as far as they go, the magnitude clamped to
// limit (>= 0) instead of overflowing. Moves i past it; false, with i and
// value untouched, when no digit follows.
bool readCNumber(std::string_view text, size_t &i, long long limit, long long &value);

// "Jan" to "Dec".
inline constexpr std::array<std::string_view, 12> kMonthNames
    = {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

// Removes "/x/../" pairs the way the server does; a "/../" at the start stays.
void removeDotSegments(std::string &path);

} // namespace sylvix
