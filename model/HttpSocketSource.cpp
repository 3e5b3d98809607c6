#include "model/internal/HttpSocketSource.h"

#include "model/Http.h"

namespace sylvix {

size_t HttpSocketSource::receive(char *buffer, size_t length, int &status)
{
    size_t n = ReceiveWithTimeout(m_socket, buffer, length, 0, status);
    // The end of the check's time reads as a time-out, not as the user's stop.
    if (status == WaitCancelled && HttpCheckExpired())
        status = WaitTimedOut;
    return n;
}

} // namespace sylvix
