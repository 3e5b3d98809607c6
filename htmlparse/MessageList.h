#pragma once

#include "htmlparse/HtmlParse.h"

#include <cstddef>
#include <string>
#include <vector>

namespace sylvix::html {

// Collects the messages of one parse: drops those below the minimum level,
// keeps at most a cap of them (the earliest lines), and hands them out in
// line order with a closing note on how many were cut. Memory stays bounded
// by the cap however many messages come in.
class MessageList
{
public:
    MessageList(int minLevel, size_t maxMessages);

    bool wants(int level) const { return level >= m_minLevel; }
    void add(int line, int level, std::string message);
    // The parser's own notes about the document (cut, skipped or stopped
    // checks): filtered and capped like the rest, but kept first when the
    // cap cuts.
    void addNote(int line, int level, std::string message);
    std::vector<Error> take(); // sorted by line (stable), capped

private:
    void keepEarliest(size_t room);
    void noteCut(size_t count, int firstLine);

    int m_minLevel;
    size_t m_max;
    std::vector<Error> m_items;
    std::vector<Error> m_notes;
    size_t m_cut = 0;
    int m_firstCutLine = 0;
};

} // namespace sylvix::html
