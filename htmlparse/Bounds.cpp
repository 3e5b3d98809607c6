#include "htmlparse/Bounds.h"

#include <algorithm>
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

} // namespace

bool CutAttributes(std::string_view text, size_t maxAttributes, std::string &out, AttributeCut &cut)
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

} // namespace sylvix::html
