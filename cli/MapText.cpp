#include "cli/MapText.h"

#include <cstdint>
#include <cstdio>

namespace sylvix::map {

namespace {

// Length of the valid UTF-8 sequence at s[i] (0 when it is not one):
// shortest form only, no surrogates, nothing above U+10FFFF.
size_t utf8Length(std::string_view s, size_t i, uint32_t &cp)
{
    const auto b = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
    unsigned char c = b(i);
    size_t len;
    uint32_t min;
    if (c < 0x80) {
        cp = c;
        return 1;
    } else if (c >= 0xc2 && c <= 0xdf) {
        len = 2, min = 0x80, cp = c & 0x1fu;
    } else if (c >= 0xe0 && c <= 0xef) {
        len = 3, min = 0x800, cp = c & 0x0fu;
    } else if (c >= 0xf0 && c <= 0xf4) {
        len = 4, min = 0x10000, cp = c & 0x07u;
    } else {
        return 0;
    }
    if (i + len > s.size())
        return 0;
    for (size_t k = 1; k < len; ++k) {
        if ((b(i + k) & 0xc0) != 0x80)
            return 0;
        cp = (cp << 6) | (b(i + k) & 0x3fu);
    }
    if (cp < min || cp > 0x10ffff || (cp >= 0xd800 && cp <= 0xdfff))
        return 0;
    return len;
}

bool isControl(uint32_t cp)
{
    return cp < 0x20 || (cp >= 0x7f && cp <= 0x9f);
}

void appendHex(std::string &out, const char *format, unsigned value)
{
    char buf[8];
    std::snprintf(buf, sizeof buf, format, value);
    out += buf;
}

} // namespace

std::string SafeText(std::string_view s)
{
    std::string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size();) {
        uint32_t cp = 0;
        size_t len = utf8Length(s, i, cp);
        if (len == 0) {
            appendHex(out, "\\x%02x", static_cast<unsigned char>(s[i]));
            ++i;
            continue;
        }
        if (isControl(cp))
            appendHex(out, cp < 0x80 ? "\\x%02x" : "\\u%04x", cp);
        else
            out.append(s.substr(i, len));
        i += len;
    }
    return out;
}

void AppendJsonString(std::string &out, std::string_view s)
{
    out += '"';
    for (size_t i = 0; i < s.size();) {
        uint32_t cp = 0;
        size_t len = utf8Length(s, i, cp);
        if (len == 0) {
            out += "\\ufffd";
            ++i;
            continue;
        }
        switch (cp) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (isControl(cp))
                appendHex(out, "\\u%04x", cp);
            else
                out.append(s.substr(i, len));
        }
        i += len;
    }
    out += '"';
}

void AppendCsvField(std::string &out, std::string_view s)
{
    std::string safe = SafeText(s);
    if (safe.find_first_of(",\"") == std::string::npos) {
        out += safe;
        return;
    }
    out += '"';
    for (char c : safe) {
        if (c == '"')
            out += '"';
        out += c;
    }
    out += '"';
}

} // namespace sylvix::map
