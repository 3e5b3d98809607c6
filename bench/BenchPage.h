#pragma once

// What the row benchmarks share: the page they open and a CPU clock.

#include <string>
#include <sys/resource.h>

namespace sylvix::bench {

// About 8 KB of ordinary HTML with a few faults for the checker to find.
inline std::string ordinaryPage(int i)
{
    std::string s = "<html><head><title>Page " + std::to_string(i) + "</title></head><body>\n";
    for (int p = 0; p < 40; ++p) {
        s += "<p>Paragraph " + std::to_string(p) + " of page " + std::to_string(i)
             + " with <b>some <i>text</b></i> and a <a href=\"../other" + std::to_string(p)
             + ".html\">link</a>.\n";
        if (p % 10 == 0)
            s += "<img src=\"pic" + std::to_string(p) + ".gif\"><font color=red>old</font>\n";
    }
    return s + "</body></html>\n";
}

// CPU seconds of this process so far.
inline double cpuSeconds()
{
    struct rusage ru;
    getrusage(RUSAGE_SELF, &ru);
    return static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec)
           + static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

} // namespace sylvix::bench
