// The parse floor: every page of a site read once and parsed once by libxml2
// and once by libtidy with the settings the parser module uses, in one
// process, with nothing else done. What a whole-site map cannot beat.
// With --xml-only, libxml2 alone.

#include "htmlparse/MarkupCheck.h"

#include <libxml/HTMLparser.h>
#include <libxml/parser.h>
#include <tidy/tidy.h>
#include <tidy/tidybuffio.h>

#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

size_t g_messages = 0;

Bool TIDY_CALL countMessage(TidyMessage)
{
    ++g_messages;
    return no;
}

void ignoreError(void *, const char *, ...) {}
void ignoreStructured(void *, xmlErrorPtr) {}

void tidyParse(const std::string &bytes)
{
    TidyDoc tdoc = tidyCreate();
    TidyBuffer sink;
    tidyBufInit(&sink);
    tidySetErrorBuffer(tdoc, &sink);
    tidySetMessageCallback(tdoc, countMessage);
    sylvix::html::ConfigureTidy(tdoc);
    tidySetInCharEncoding(tdoc, "utf8");
    TidyBuffer input;
    tidyBufInit(&input);
    tidyBufAttach(&input, reinterpret_cast<byte *>(const_cast<char *>(bytes.data())),
                  static_cast<uint>(bytes.size()));
    if (tidyParseBuffer(tdoc, &input) >= 0)
        tidyCleanAndRepair(tdoc);
    tidyBufDetach(&input);
    tidyRelease(tdoc);
    tidyBufFree(&sink);
}

} // namespace

int main(int argc, char **argv)
{
    // --xml-only: the floor of a links-only map, which runs no markup check.
    const bool xmlOnly = argc == 3 && std::string(argv[1]) == "--xml-only";
    if (argc != 2 && !xmlOnly) {
        std::fprintf(stderr, "usage: parse-floor [--xml-only] SITE_DIR\n");
        return 2;
    }
    const char *site = argv[argc - 1];
    xmlInitParser();
    xmlSetGenericErrorFunc(nullptr, ignoreError);
    xmlSetStructuredErrorFunc(nullptr, ignoreStructured);
    tidySetLanguage("en");
    const int options = HTML_PARSE_RECOVER | HTML_PARSE_NONET | HTML_PARSE_COMPACT
                        | HTML_PARSE_NOERROR | HTML_PARSE_NOWARNING | HTML_PARSE_NOBLANKS
                        | XML_PARSE_HUGE;

    auto t0 = std::chrono::steady_clock::now();
    size_t pages = 0, bytes = 0;
    std::error_code ec;
    for (auto it = std::filesystem::recursive_directory_iterator(site, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
        const auto &p = it->path();
        if (!it->is_regular_file() || (p.extension() != ".html" && p.extension() != ".htm"))
            continue;
        std::ifstream in(p, std::ios::binary);
        std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        htmlDocPtr doc
            = htmlReadMemory(text.data(), static_cast<int>(text.size()), nullptr, nullptr, options);
        if (doc)
            xmlFreeDoc(doc);
        if (!xmlOnly)
            tidyParse(text);
        ++pages;
        bytes += text.size();
    }
    double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    struct rusage ru;
    getrusage(RUSAGE_SELF, &ru);
    double cpu = static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec)
                 + static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
    std::printf("pages parsed: %zu\n", pages);
    std::printf("bytes: %zu\n", bytes);
    std::printf("tidy messages: %zu\n", g_messages);
    std::printf("wall seconds: %.3f\n", wall);
    std::printf("cpu seconds: %.3f\n", cpu);
    std::printf("peak rss KiB: %ld\n", ru.ru_maxrss);
    std::printf("pages per second: %.1f\n", wall > 0 ? static_cast<double>(pages) / wall : 0.0);
    return 0;
}
