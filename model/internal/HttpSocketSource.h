#pragma once

#include "model/HttpSource.h"

namespace sylvix {

// Receives from a connected socket with ReceiveWithTimeout. Does not own
// the socket.
class HttpSocketSource : public HttpSource
{
public:
    explicit HttpSocketSource(int socket) : m_socket(socket) {}
    size_t receive(char *buffer, size_t length, int &status) override;

private:
    int m_socket;
};

} // namespace sylvix
