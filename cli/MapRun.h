#pragma once

// The walks of sylvix-map: the whole site level by level, or the first
// levels as opening rows does, each node handed to a printer in document
// order and counted.

#include "cli/MapOptions.h"
#include "cli/MapPrinters.h"

#include <csignal>

namespace sylvix {
class SiteNode;
class ParseAhead;
} // namespace sylvix

namespace sylvix::map {

extern volatile std::sig_atomic_t g_interrupted;

// One refreshed line on stderr, at most a few times a second.
class StatusLine
{
public:
    explicit StatusLine(bool on) : m_on(on) {}
    ~StatusLine() { clear(); }
    bool on() const { return m_on; }
    // Shows text unless a line was shown very recently (or force).
    void show(const std::string &text, bool force = false);
    void clear();

private:
    bool m_on;
    bool m_shown = false;
    long long m_lastMs = -1000000;
};

// Walks from root, printing and counting; false when interrupted.
bool RunMap(SiteNode *root, const Options &options, ParseAhead *ahead, Printer &printer,
            Counts &counts, StatusLine &status);

} // namespace sylvix::map
