#include "platform/TextUtil.h"

#include <algorithm>

namespace sylvix {

void appendUtf8(std::string &out, uint32_t codePoint)
{
    const uint32_t cp = codePoint;
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xc0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3f));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xe0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3f));
        out += static_cast<char>(0x80 | (cp & 0x3f));
    } else {
        out += static_cast<char>(0xf0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3f));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3f));
        out += static_cast<char>(0x80 | (cp & 0x3f));
    }
}

size_t decodeUtf8(std::string_view s, size_t i, uint32_t &codePoint)
{
    auto b = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
    if (i >= s.size())
        return 0;
    const unsigned char c = b(i);
    const size_t len = c < 0x80         ? 1
                       : (c >> 5) == 6  ? 2
                       : (c >> 4) == 14 ? 3
                       : (c >> 3) == 30 ? 4
                                        : 0;
    if (len == 0 || i + len > s.size())
        return 0;
    uint32_t cp = len == 1 ? c : c & (0x7fu >> len);
    for (size_t k = 1; k < len; ++k) {
        if ((b(i + k) & 0xc0) != 0x80)
            return 0;
        cp = (cp << 6) | (b(i + k) & 0x3f);
    }
    static const uint32_t kMin[] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < kMin[len] || cp > 0x10ffff || (cp >= 0xd800 && cp <= 0xdfff))
        return 0;
    codePoint = cp;
    return len;
}

bool isUtf8(std::string_view s)
{
    for (size_t i = 0, n; i < s.size(); i += n)
        if ((n = utf8Length(s, i)) == 0)
            return false;
    return true;
}

bool readCNumber(std::string_view text, size_t &i, long long limit, long long &value)
{
    size_t k = i;
    while (k < text.size() && isSpace(text[k]))
        ++k;
    bool negative = false;
    if (k < text.size() && (text[k] == '+' || text[k] == '-'))
        negative = text[k++] == '-';
    if (k >= text.size() || text[k] < '0' || text[k] > '9')
        return false;
    long long v = 0;
    for (; k < text.size() && text[k] >= '0' && text[k] <= '9'; ++k) {
        const int digit = text[k] - '0';
        v = v > (limit - digit) / 10 ? limit : std::min(v * 10 + digit, limit);
    }
    i = k;
    value = negative ? -v : v;
    return true;
}

void removeDotSegments(std::string &path)
{
    for (;;) {
        const size_t m = path.find("/../");
        if (m == std::string::npos || m < 2)
            return;
        const size_t from = path.rfind('/', m - 2);
        if (from == std::string::npos)
            return;
        path.erase(from, m + 3 - from);
    }
}

} // namespace sylvix
