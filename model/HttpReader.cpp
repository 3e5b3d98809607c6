#include "model/HttpReader.h"

#include "model/Cause.h"
#include "model/Config.h"
#include "model/Http.h"
#include "model/HttpSource.h"
#include "model/Resolve.h"
#include "model/SiteNode.h"
#include "model/Url.h"
#include "platform/TextUtil.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

namespace sylvix {

namespace {

// The number at the start of text, 0 when there is none.
int64_t leadingNumber(std::string_view text, int64_t limit)
{
    size_t i = 0;
    long long v = 0;
    readCNumber(text, i, limit, v);
    return v;
}

bool writeAll(int fd, const char *data, size_t length)
{
    while (length > 0) {
        ssize_t n = ::write(fd, data, length);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        length -= static_cast<size_t>(n);
    }
    return true;
}

} // namespace

HttpReader::HttpReader(HttpSource &source) : m_source(source) {}

std::string HttpReader::readLine(int &status)
{
    std::string line;
    status = WaitDone;
    while (line.size() < kMaxLine) {
        if (m_pos == m_end) {
            size_t n = m_source.receive(m_buffer, sizeof m_buffer, status);
            if (n == 0)
                break;
            m_pos = 0;
            m_end = std::min(n, sizeof m_buffer);
        }
        char c = m_buffer[m_pos++];
        if (c == '\n')
            break;
        if (c != '\r')
            line.push_back(c);
    }
    return line;
}

size_t HttpReader::read(char *buffer, size_t length, int &status)
{
    status = WaitDone;
    if (m_pos < m_end) {
        size_t n = std::min(length, m_end - m_pos);
        std::memcpy(buffer, m_buffer + m_pos, n);
        m_pos += n;
        return n;
    }
    return std::min(m_source.receive(buffer, length, status), length);
}

bool HttpReader::applyHeader(SiteNode *node, const std::string &line, int64_t &contentLength,
                             bool &hadLength)
{
    size_t colon = line.find(':');
    if (colon == std::string::npos)
        return true;
    size_t v = colon + 1;
    while (v < line.size() && isSpace(line[v]))
        ++v;
    if (v == line.size())
        return true;
    std::string_view value = std::string_view(line).substr(v);

    if (startsWithNoCase(line, "Content-type:")) {
        node->mimeType = SharedStr(value);
    } else if (startsWithNoCase(line, "Last-modified:")) {
        node->stat.mtime = ParseHttpDate(std::string(value).c_str());
    } else if (startsWithNoCase(line, "Content-length:")) {
        contentLength = leadingNumber(value, INT64_MAX);
        hadLength = true;
        node->stat.size = contentLength;
    } else if (startsWithNoCase(line, "Redirect:")) {
        ParseUrl(node, value, nullptr);
        BuildUrl(node);
        return false;
    } else if (startsWithNoCase(line, "uri:") || startsWithNoCase(line, "location:")) {
        node->dir.reset();
        node->file.reset();
        ParseUrl(node, value, nullptr);
        BuildUrl(node);
    }
    return true;
}

HttpAnswer HttpReader::readAnswer(SiteNode *node)
{
    PrepareChange(node);
    m_statusNumber = 0;
    m_bodyBytes = 0;
    int64_t contentLength = 0;
    bool hadLength = false;
    size_t headerBytes = 0;
    for (;;) {
        int status = WaitDone;
        std::string line = readLine(status);
        if (status == WaitCancelled)
            return AnswerStopped;
        if (status == WaitTimedOut) {
            node->flags |= NOTVER;
            return AnswerDone;
        }
        // A peer that never stops sending headers is not waited for.
        headerBytes += line.size() + 1;
        if (headerBytes > kMaxHeaderBytes) {
            node->flags |= NOTVER;
            return AnswerDone;
        }
        if (m_statusNumber == 0) {
            size_t i = 0;
            while (i < line.size() && !isSpace(line[i]))
                ++i;
            while (i < line.size() && isSpace(line[i]))
                ++i;
            if (i >= line.size())
                break;
            m_statusNumber
                = static_cast<int>(leadingNumber(std::string_view(line).substr(i), INT_MAX));
            continue;
        }
        if (line.empty())
            break;
        if (!applyHeader(node, line, contentLength, hadLength))
            return AnswerRedirect;
    }

    if (m_statusNumber == 301 || m_statusNumber == 302)
        return AnswerFollow;
    node->httpStatus = static_cast<uint16_t>(std::clamp(m_statusNumber, 0, 999));
    if (m_statusNumber < 200 || m_statusNumber > 299) {
        node->flags |= BROKEN;
        node->cause = CauseHttpStatus;
        return AnswerDone;
    }
    node->flags &= ~BROKEN;
    KindFromType(node);
    readBody(node, contentLength, hadLength);
    return AnswerDone;
}

void HttpReader::readBody(SiteNode *node, int64_t contentLength, bool hadLength)
{
    // The type of this answer or, when it gave none, the one the node had.
    std::string extension
        = node->mimeType ? ExtensionForType(node->mimeType.view()) : std::string();
    std::string path;
    int fd = OpenTempFile(extension, path);
    if (fd < 0) {
        node->localPath.reset(); // nowhere to keep the body: the check still counts
        return;
    }
    node->localPath = SharedStr(path);

    // Text bodies are kept byte for byte too: this platform's line ends need
    // no translation.
    const int64_t limit = contentLength > 0 ? std::min(contentLength, kMaxBody) : kMaxBody;
    char piece[16384];
    bool kept = true;
    while (m_bodyBytes < limit) {
        size_t want = static_cast<size_t>(std::min<int64_t>(sizeof piece, limit - m_bodyBytes));
        int status = WaitDone;
        size_t n = read(piece, want, status);
        if (n == 0)
            break; // end of data, a cancel or a time-out: the part received stays
        // Past the budget the rest is still read, for its size.
        kept = kept && ReserveTempBytes(path, static_cast<int64_t>(n));
        if (kept && !writeAll(fd, piece, n))
            break;
        m_bodyBytes += static_cast<int64_t>(n);
    }
    ::close(fd);
    if (!hadLength)
        node->stat.size = m_bodyBytes;
    if (!kept) {
        // The answer counts; half a document would only mislead a parse.
        DeleteTempFile(path);
        node->localPath.reset();
        const int64_t b = TempBudget();
        const std::string budget
            = b >= (1 << 20) ? std::to_string(b >> 20) + " MB" : std::to_string(b) + " bytes";
        DiagnosticList note{{std::string(kNotKeptNote) + "temporary files already hold the "
                                 + budget + " they may take",
                             1, 0}};
        node->diagnostics = std::make_shared<const DiagnosticList>(std::move(note));
    }
}

} // namespace sylvix
