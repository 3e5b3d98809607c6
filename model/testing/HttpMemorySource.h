#pragma once

#include "model/HttpSource.h"

#include <string>
#include <vector>

namespace sylvix {

// Gives scripted pieces, one (or the part that fits) per receive, then
// ends with endStatus: WaitDone for the end of data, or a cancel, a time-out
// or a network error.
class HttpMemorySource : public HttpSource
{
public:
    explicit HttpMemorySource(std::vector<std::string> pieces, int endStatus = 0);
    size_t receive(char *buffer, size_t length, int &status) override;

    size_t receiveCount() const { return m_receives; }

private:
    std::vector<std::string> m_pieces;
    size_t m_piece = 0;
    size_t m_offset = 0;
    int m_endStatus;
    size_t m_receives = 0;
};

} // namespace sylvix
