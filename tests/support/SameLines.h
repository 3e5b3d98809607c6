#pragma once

#include <gtest/gtest.h>

#include <sstream>
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
    std::istringstream x(a), y(b);
    std::string l, r;
    for (int n = 1;; ++n) {
        const bool gotA = static_cast<bool>(std::getline(x, l));
        const bool gotB = static_cast<bool>(std::getline(y, r));
        if (!gotA && !gotB)
            return testing::AssertionFailure() << "the texts differ in their last line break";
        if (!gotA || !gotB || l != r)
            return testing::AssertionFailure() << "line " << n << ": [" << (gotA ? l : "(end)")
                                               << "] against [" << (gotB ? r : "(end)") << "]";
    }
}

} // namespace sylvix::test
