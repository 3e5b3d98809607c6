#include "model/Cause.h"

#include "model/SiteNode.h"

namespace sylvix {

namespace {

const char *reasonPhrase(int status)
{
    struct Phrase
    {
        int status;
        const char *text;
    };
    static const Phrase phrases[] = {
        {300, "Multiple Choices"},
        {303, "See Other"},
        {304, "Not Modified"},
        {305, "Use Proxy"},
        {307, "Temporary Redirect"},
        {308, "Permanent Redirect"},
        {400, "Bad Request"},
        {401, "Unauthorized"},
        {402, "Payment Required"},
        {403, "Forbidden"},
        {404, "Not Found"},
        {405, "Method Not Allowed"},
        {406, "Not Acceptable"},
        {407, "Proxy Authentication Required"},
        {408, "Request Timeout"},
        {409, "Conflict"},
        {410, "Gone"},
        {411, "Length Required"},
        {412, "Precondition Failed"},
        {413, "Content Too Large"},
        {414, "URI Too Long"},
        {415, "Unsupported Media Type"},
        {429, "Too Many Requests"},
        {451, "Unavailable For Legal Reasons"},
        {500, "Internal Server Error"},
        {501, "Not Implemented"},
        {502, "Bad Gateway"},
        {503, "Service Unavailable"},
        {504, "Gateway Timeout"},
        {505, "HTTP Version Not Supported"},
    };
    for (const Phrase &p : phrases)
        if (p.status == status)
            return p.text;
    return nullptr;
}

} // namespace

std::string BrokenCauseText(const SiteNode &node)
{
    if (!(node.flags & BROKEN))
        return {};
    switch (node.cause) {
    case CauseNoSuchFile: return "no such file";
    case CauseNoIndex: return "no index document";
    case CauseRedirectLoop: return "redirect loop";
    case CauseOutsideSite: return "outside the site";
    case CausePathTooLong: return "path too long";
    case CauseNoImageMap: return "no such image map";
    case CauseBadUrl: return "not a URL";
    case CauseCannotServe: {
        // The note reads "The server cannot send PATH: WHY".
        if (node.diagnostics && !node.diagnostics.pending() && !node.diagnostics->empty()) {
            const std::string &text = node.diagnostics->front().message;
            size_t colon = text.rfind(": ");
            if (colon != std::string::npos)
                return text.substr(colon + 2);
        }
        return "the server cannot send it";
    }
    case CauseHttpStatus: {
        if (node.httpStatus == 0)
            return "no valid HTTP answer";
        std::string s = "HTTP " + std::to_string(node.httpStatus);
        if (const char *phrase = reasonPhrase(node.httpStatus))
            s += std::string(" ") + phrase;
        return s;
    }
    default: return "broken";
    }
}

} // namespace sylvix
