// ParseHttpDate on arbitrary text (the value of a "Last-modified:" header).
//
// Besides the sanitizers' reports, a run fails when the same text gives two
// answers, or when a letter put after the text changes the answer: every
// form ends in a number, so what follows it is never looked at, and a
// letter cannot complete a form that was cut short.

#include "model/Http.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

using namespace sylvix;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::string text(reinterpret_cast<const char *>(data), size);
    const time_t first = ParseHttpDate(text.c_str());
    const time_t again = ParseHttpDate(text.c_str());
    if (first != again) {
        std::fprintf(stderr, "httpdate fuzz: two answers for one text\n");
        std::abort();
    }
    std::string more(text.c_str());
    more += 'Z';
    if (ParseHttpDate(more.c_str()) != first) {
        std::fprintf(stderr, "httpdate fuzz: a letter after the text changed the date\n");
        std::abort();
    }
    (void)ParseHttpDate(nullptr);
    return 0;
}
