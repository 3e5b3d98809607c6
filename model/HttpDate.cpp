#include "model/Http.h"

#include "platform/TextUtil.h"

#include <algorithm>
#include <cstring>
#include <string_view>

namespace sylvix {

namespace {

// The three date forms, in the C library's scanning notation:
//   "%s%d-%3c-%d%d:%d:%d"  Sunday, 06-Nov-94 08:49:37 GMT
//   "%s%d%s%d%d:%d:%d"     Sun, 06 Nov 1994 08:49:37 GMT
//   "%s%s%d%d:%d:%d%d"     Sun Nov  6 08:49:37 1994
// Each item: 's' a word (white space skipped first), 'd' a number (white
// space skipped first, optional sign), 'c' exactly three characters, any
// other character itself. Scanned here by hand, since the text comes from
// a remote server.
struct Fields
{
    std::string_view words[2];
    long long numbers[5] = {};
    int wordCount = 0;
    int numberCount = 0;
};

// Numbers are clamped far inside int range so the calendar fields cannot
// overflow.
constexpr long long kNumberLimit = 100000000;

// Number of fields converted, as the C library counts them.
int scan(std::string_view text, const char *format, Fields &f)
{
    size_t i = 0;
    int converted = 0;
    for (const char *p = format; *p; ++p) {
        switch (*p) {
        case 's': {
            while (i < text.size() && isSpace(text[i]))
                ++i;
            size_t start = i;
            while (i < text.size() && !isSpace(text[i]))
                ++i;
            if (i == start)
                return converted;
            f.words[f.wordCount++] = text.substr(start, i - start);
            ++converted;
            break;
        }
        case 'c':
            if (text.size() - i < 3)
                return converted;
            f.words[f.wordCount++] = text.substr(i, 3);
            i += 3;
            ++converted;
            break;
        case 'd': {
            if (!readCNumber(text, i, kNumberLimit, f.numbers[f.numberCount]))
                return converted;
            ++f.numberCount;
            ++converted;
            break;
        }
        default:
            if (i >= text.size() || text[i] != *p)
                return converted;
            ++i;
            break;
        }
    }
    return converted;
}

// 1 to 12 from the first three letters, ignoring case; 0 when none fits.
int monthNumber(std::string_view word)
{
    if (word.size() < 3)
        return 0;
    for (int m = 0; m < 12; ++m)
        if (equalsNoCase(word.substr(0, 3), kMonthNames[m]))
            return m + 1;
    return 0;
}

time_t localTime(long long year, int month, long long day, long long hour, long long minute,
                 long long second)
{
    struct tm t;
    std::memset(&t, 0, sizeof t);
    t.tm_year = static_cast<int>(year - 1900);
    t.tm_mon = month - 1;
    t.tm_mday = static_cast<int>(day);
    t.tm_hour = static_cast<int>(hour);
    t.tm_min = static_cast<int>(minute);
    t.tm_sec = static_cast<int>(second);
    t.tm_isdst = -1; // local time as it was on that day
    return mktime(&t);
}

} // namespace

time_t ParseHttpDate(const char *text)
{
    const std::string_view s = text ? std::string_view(text) : std::string_view();
    {
        // Week day, day, month, year, hours, minutes, seconds; a two-digit
        // year means the 1900s.
        Fields f;
        int month = 0;
        if (scan(s, "sd-c-dd:d:d", f) == 7 && (month = monthNumber(f.words[1])) != 0) {
            long long year = f.numbers[1] < 1900 ? f.numbers[1] + 1900 : f.numbers[1];
            return localTime(year, month, f.numbers[0], f.numbers[2], f.numbers[3], f.numbers[4]);
        }
    }
    {
        Fields f;
        int month = 0;
        if (scan(s, "sdsdd:d:d", f) == 7 && (month = monthNumber(f.words[1])) != 0)
            return localTime(f.numbers[1], month, f.numbers[0], f.numbers[2], f.numbers[3],
                             f.numbers[4]);
    }
    {
        // Week day, month, day, hours, minutes, seconds, year.
        Fields f;
        int month = 0;
        if (scan(s, "ssdd:d:dd", f) == 7 && (month = monthNumber(f.words[1])) != 0)
            return localTime(f.numbers[4], month, f.numbers[0], f.numbers[1], f.numbers[2],
                             f.numbers[3]);
    }
    // None fits: 1 January 1900, 00:00:00 local time. With a 64-bit time_t
    // that is a negative count; where the C library cannot give it, the
    // same moment in UTC.
    time_t t = localTime(1900, 1, 1, 0, 0, 0);
    return t == static_cast<time_t>(-1) ? static_cast<time_t>(-2208988800LL) : t;
}

} // namespace sylvix
