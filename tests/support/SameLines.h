#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace sylvix::test {

// Equal texts, or the first line where they part. gtest's own diff of two
// multi-line texts needs memory that grows with the product of their line
// counts: on two 100,000-line texts a test was killed instead of failing
// with a message.
inline testing::AssertionResult sameLines(const std::string &a, const std::string &b)
{
    if (a == b)
        return testing::AssertionSuccess();
    const auto at = std::mismatch(a.begin(), a.end(), b.begin(), b.end()).first - a.begin();
    const size_t start = at == 0 ? 0 : a.find_last_of('\n', at - 1) + 1; // npos + 1 is 0
    auto line
        = [start](const std::string &s) { return s.substr(start, s.find('\n', start) - start); };
    return testing::AssertionFailure() << "line " << 1 + std::count(a.begin(), a.begin() + at, '\n')
                                       << ": [" << line(a) << "] against [" << line(b) << "]";
}

} // namespace sylvix::test
