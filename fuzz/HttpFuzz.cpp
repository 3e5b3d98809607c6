// The HTTP answer reader (status line, headers, body) fed from memory in
// pieces, as a check reads it from a socket.
//
// Input: one byte choosing how the data ends (end of data, a cancel, a
// time-out, a network error) and whether the node already has a type, two
// bytes seeding the sizes of the pieces handed out per receive, then the
// answer's bytes.
//
// Besides the sanitizers' reports, a run fails when the reader claims more
// body bytes than it was given, or keeps a body file whose size is not the
// number of bytes it says it kept.

#include "fuzz/ScratchServer.h"
#include "model/Http.h"
#include "model/HttpReader.h"
#include "model/SiteNode.h"
#include "model/Url.h"
#include "model/testing/HttpMemorySource.h"

#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

using namespace sylvix;

namespace {

void check(bool ok, const char *what)
{
    if (!ok) {
        std::fprintf(stderr, "http fuzz: %s\n", what);
        std::abort();
    }
}

std::vector<std::string> splitIntoPieces(std::string_view bytes, uint32_t seed)
{
    std::vector<std::string> pieces;
    // Pieces up to a few buffers long, so lines and headers straddle receives.
    const uint32_t maxPiece = 1 + (seed & 0x1fff);
    uint32_t x = seed * 2654435761u + 1;
    while (!bytes.empty()) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        size_t n = std::min<size_t>(bytes.size(), 1 + x % maxPiece);
        pieces.emplace_back(bytes.substr(0, n));
        bytes.remove_prefix(n);
    }
    return pieces;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzz::ScratchServer::get();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 3)
        return 0;
    static const int endings[] = {WaitDone,      WaitDone,     WaitDone,     WaitDone,
                                  WaitCancelled, WaitTimedOut, WaitNetError, WaitDone};
    const int endStatus = endings[data[0] & 7];
    const bool typed = (data[0] & 8) != 0;
    const uint32_t seed = static_cast<uint32_t>(data[1]) | static_cast<uint32_t>(data[2]) << 8;
    std::string_view answer(reinterpret_cast<const char *>(data) + 3, size - 3);

    HttpMemorySource source(splitIntoPieces(answer, seed), endStatus);
    HttpReader reader(source);
    SiteNode *node = CreateNode();
    SetUrl(node, "http://elsewhere.test/dir/page.html", nullptr);
    node->flags |= EXTERNAL;
    if (typed)
        node->mimeType = SharedStr("text/html");
    const HttpAnswer result = reader.readAnswer(node);
    check(result >= AnswerStopped && result <= AnswerRedirect, "unknown answer");
    check(reader.bodyBytes() >= 0 && static_cast<size_t>(reader.bodyBytes()) <= answer.size(),
          "more body bytes than were sent");
    if (node->localPath) {
        struct stat st;
        check(::stat(node->localPath.c_str(), &st) == 0, "the body file is gone");
        check(st.st_size == reader.bodyBytes(), "the body file does not hold the body");
        DeleteTempFile(node->localPath.str());
    }
    FreeNode(node);
    return 0;
}
