#include "model/HttpSocketSource.h"

#include "model/Http.h"

namespace sylvix {

size_t HttpSocketSource::receive(char *buffer, size_t length, int &status)
{
    return ReceiveWithTimeout(m_socket, buffer, length, 0, status);
}

} // namespace sylvix
