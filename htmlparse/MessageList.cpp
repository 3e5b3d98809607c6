#include "htmlparse/MessageList.h"

#include <algorithm>
#include <utility>

namespace sylvix::html {

MessageList::MessageList(int minLevel, size_t maxMessages)
    : m_minLevel(minLevel), m_max(maxMessages)
{}

void MessageList::add(int line, int level, std::string message)
{
    if (!wants(level))
        return;
    m_items.push_back(Error{line, level, std::move(message)});
    // Trim in batches so a flood of messages costs O(n log cap), not O(n^2).
    if (m_items.size() >= 2 * m_max + 64)
        keepEarliest(m_max);
}

void MessageList::addNote(int line, int level, std::string message)
{
    if (wants(level))
        m_notes.push_back(Error{line, level, std::move(message)});
}

namespace {

void SortByLine(std::vector<Error> &items)
{
    std::stable_sort(items.begin(), items.end(),
                     [](const Error &a, const Error &b) { return a.line < b.line; });
}

} // namespace

void MessageList::noteCut(size_t count, int firstLine)
{
    if (count == 0)
        return;
    if (m_cut == 0 || firstLine < m_firstCutLine)
        m_firstCutLine = firstLine;
    m_cut += count;
}

void MessageList::keepEarliest(size_t room)
{
    SortByLine(m_items);
    if (m_items.size() <= room)
        return;
    noteCut(m_items.size() - room, m_items[room].line);
    m_items.resize(room);
}

std::vector<Error> MessageList::take()
{
    SortByLine(m_notes);
    if (m_notes.size() > m_max) {
        noteCut(m_notes.size() - m_max, m_notes[m_max].line);
        m_notes.resize(m_max);
    }
    keepEarliest(m_max - m_notes.size());
    // Notes go first among messages of the same line.
    std::vector<Error> out = std::move(m_notes);
    out.insert(out.end(), std::make_move_iterator(m_items.begin()),
               std::make_move_iterator(m_items.end()));
    SortByLine(out);
    m_items.clear();
    m_notes.clear();
    if (m_cut > 0) {
        std::string text
            = std::to_string(m_cut)
              + (m_cut == 1 ? " more message was not shown" : " more messages were not shown");
        const int line = out.empty() ? m_firstCutLine : std::max(m_firstCutLine, out.back().line);
        out.push_back(Error{line, 3, std::move(text)});
    }
    m_cut = 0;
    return out;
}

} // namespace sylvix::html
