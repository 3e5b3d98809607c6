#pragma once

// Reads one HTTP/1.0 answer (status line, headers, body) into a node.

#include <cstddef>
#include <cstdint>
#include <string>

namespace sylvix {

class HttpSource;
class SiteNode;

enum HttpAnswer : int {
    AnswerStopped = 0,  // cancelled while reading the headers: the check gives 0
    AnswerDone = 1,     // finished; the node's flags tell the outcome
    AnswerFollow = 2,   // 301 or 302: request the node's URL again
    AnswerRedirect = 3, // a "Redirect:" header gave the node a new URL: resolve it again
};

class HttpReader
{
public:
    static constexpr size_t kMaxLine = 2048;                // stored characters per line
    static constexpr int64_t kMaxBody = 64LL * 1024 * 1024; // bytes kept of a body
    static constexpr size_t kMaxHeaderBytes = 1024 * 1024;  // status line and headers together

    explicit HttpReader(HttpSource &source);

    // One line: a line feed ends it and is dropped, carriage returns are
    // dropped, a line longer than kMaxLine goes on as the next line, and
    // the end of data (or a receive that ended with a status) ends it.
    // status is that of the last receive, WaitDone when none was needed.
    std::string readLine(int &status);
    // Up to length bytes, those already read ahead first.
    size_t read(char *buffer, size_t length, int &status);

    // Reads the answer: the headers set the node's mimeType, stat and URL;
    // a 2xx answer gives the node a temporary file with the body in
    // localPath; any other answer but 301 and 302 makes it BROKEN; a
    // time-out in the headers makes it NOTVER.
    HttpAnswer readAnswer(SiteNode *node);

    int statusNumber() const { return m_statusNumber; }
    int64_t bodyBytes() const { return m_bodyBytes; }

private:
    bool applyHeader(SiteNode *node, const std::string &line, int64_t &contentLength,
                     bool &hadLength);
    void readBody(SiteNode *node, int64_t contentLength, bool hadLength);

    HttpSource &m_source;
    char m_buffer[4096];
    size_t m_pos = 0;
    size_t m_end = 0;
    int m_statusNumber = 0;
    int64_t m_bodyBytes = 0;
};

} // namespace sylvix
