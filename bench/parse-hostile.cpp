// Times the parser on the hostile pages the tests check for correctness
// only: a 50 MB page, 100,000-deep nesting, unclosed elements, stray end
// tags after unclosed ones, and random bytes. Prints seconds and messages.

#include "htmlparse/HtmlParse.h"

#include <chrono>
#include <cstdio>
#include <random>
#include <string>

using namespace sylvix::html;

namespace {

std::string repeat(const std::string &piece, size_t times)
{
    std::string out;
    out.reserve(piece.size() * times);
    for (size_t i = 0; i < times; ++i)
        out += piece;
    return out;
}

void time(const char *name, const std::string &page)
{
    size_t messages = 0;
    const auto start = std::chrono::steady_clock::now();
    auto doc = ParseBytes(page, [&messages](const Error &) { return ++messages, 1; }, {});
    const double s
        = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%-22s %10zu bytes %8.3f s %5zu messages%s\n", name, page.size(), s, messages,
                doc && doc->root() ? "" : " (no tree)");
}

} // namespace

int main()
{
    const std::string row = "<p>Row of text with <a href=\"target.html\">a link</a> in it.</p>\n";
    time("50 MB page", "<html><body>\n" + repeat(row, (50u << 20) / row.size()) + "</body></html>");
    time("100,000 nested",
         repeat("<div>", 100000) + "<a href=\"x\">x</a>" + repeat("</div>", 100000));
    time("100,000 unclosed", repeat("<b><i>", 100000) + "end");
    time("stray end tags", repeat("<div>", 30000) + repeat("</span>", 200000));
    std::mt19937 rng(12345);
    std::string garbage(1u << 20, '\0');
    for (char &c : garbage)
        c = static_cast<char>(rng());
    time("1 MB random bytes", garbage);
    return 0;
}
