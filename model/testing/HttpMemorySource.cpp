#include "model/testing/HttpMemorySource.h"

#include <algorithm>
#include <cstring>

namespace sylvix {

HttpMemorySource::HttpMemorySource(std::vector<std::string> pieces, int endStatus)
    : m_pieces(std::move(pieces)), m_endStatus(endStatus)
{}

size_t HttpMemorySource::receive(char *buffer, size_t length, int &status)
{
    ++m_receives;
    while (m_piece < m_pieces.size() && m_offset >= m_pieces[m_piece].size()) {
        ++m_piece;
        m_offset = 0;
    }
    if (m_piece >= m_pieces.size() || length == 0) {
        status = m_piece >= m_pieces.size() ? m_endStatus : 0;
        return 0;
    }
    status = 0;
    const std::string &p = m_pieces[m_piece];
    size_t n = std::min(length, p.size() - m_offset);
    std::memcpy(buffer, p.data() + m_offset, n);
    m_offset += n;
    return n;
}

} // namespace sylvix
