#pragma once

// Where the reader of an HTTP answer gets its bytes: a socket in a check,
// memory in tests.

#include <cstddef>

namespace sylvix {

class HttpSource
{
public:
    virtual ~HttpSource() = default;
    // Up to length bytes; 0 on end of data and whenever status (a
    // WaitStatus) is not WaitDone.
    virtual size_t receive(char *buffer, size_t length, int &status) = 0;
};

} // namespace sylvix
