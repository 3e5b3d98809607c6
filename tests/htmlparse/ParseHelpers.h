#pragma once

// Parsing with the messages kept, finding elements and printing a tree, for
// the parser's tests.

#include "htmlparse/HtmlParse.h"

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

namespace sylvix::html::test {

struct Parsed
{
    std::unique_ptr<Document> doc;
    std::vector<Error> messages;
};

inline Parsed ParseKeeping(std::string_view bytes, const ParseOptions &options = {})
{
    Parsed out;
    out.doc = ParseBytes(
        bytes,
        [&out](const Error &e) {
            out.messages.push_back(e);
            return 1;
        },
        options);
    return out;
}

inline bool Mentions(const std::vector<Error> &messages, const std::string &part)
{
    return std::any_of(messages.begin(), messages.end(),
                       [&](const Error &e) { return e.message.find(part) != std::string::npos; });
}

// The nth element named name in document order; walked without recursion,
// so that it also works on trees a recursion would not survive.
inline const Block *FindElement(const Block *root, const std::string &name, int nth = 0)
{
    std::vector<const Block *> stack{root};
    while (!stack.empty()) {
        const Block *b = stack.back();
        stack.pop_back();
        if (b == nullptr)
            continue;
        if (BlockTypeOf(b) == Element && name == BlockName(b) && nth-- == 0)
            return b;
        stack.push_back(BlockNext(b));
        stack.push_back(BlockFirstChild(b));
    }
    return nullptr;
}

// Blocks with their tags, lines and link attributes, one a line, so that
// two parses can be compared.
inline std::string Dump(const Block *b)
{
    std::string out;
    for (; b != nullptr; b = BlockNext(b)) {
        if (BlockTypeOf(b) == Text) {
            out += "T:" + std::string(BlockText(b)) + "\n";
            continue;
        }
        out += "E:" + std::string(BlockName(b)) + "#" + std::to_string(BlockTag(b)) + "@"
               + std::to_string(BlockLine(b));
        for (const char *attr : {"href", "src", "alt", "ISMAP", "action", "type", "value"})
            if (const char *v = HTMLGetAttr(b, attr))
                out += std::string(" ") + attr + "=" + v;
        out += "\n" + Dump(BlockFirstChild(b)) + "/\n";
    }
    return out;
}

// Messages as "line:level:text", one a line.
inline std::string Listed(const std::vector<Error> &messages)
{
    std::string out;
    for (const Error &e : messages)
        out += std::to_string(e.line) + ":" + std::to_string(e.level) + ":" + e.message + "\n";
    return out;
}

} // namespace sylvix::html::test
