#pragma once

// What the node property sheet and its pages work out from a node and the
// server's configuration, without any window: which pages a node gets, the
// General page's texts, the Diagnostics and Activity lines and the Activity
// page's search key, and the revision bump after access-control changes.

#include "model/AccessLog.h"
#include "model/SiteNode.h"

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>

namespace sylvix {

class ConfigKey;
class ConfigStore;

// Page selectors, as the view asks for the sheet.
enum PropertyPage : int { PageGeneral = 0, PageAccess = 1, PageDiagnostics = 2, PageActivity = 3 };

// The pages one node gets (General always) and the tab shown first.
struct SheetPages
{
    bool access = false;
    bool diagnostics = false;
    bool activity = false;
    int first = 0;
};
// A selector whose page the node lacks opens General.
SheetPages PagesFor(const SiteNode &node, int selector);

// "Properties for <href>", at most 255 characters.
std::string PropertiesCaption(std::string_view href);

// Raises the binary "RevNumber" of key by one (wrapping), written back with
// the length read; true when it was written. Any other type, a value longer
// than 4 bytes or a missing one is left alone.
bool RaiseRevNumber(ConfigKey &key);

// The General page's texts.
struct GeneralTexts
{
    std::string hyperlink, label, url, title, fileName, contentType, size, modified;
};
GeneralTexts MakeGeneralTexts(const SiteNode &node);
// Thousands of bytes rounded up; empty for 0.
std::string SizeText(int64_t size);
// Local time as 'Thu Jun 01 14:05:09 1995' (without the conversion's final
// newline, which a one-line field would show as a blank line); empty when
// the time cannot be converted.
std::string ModifiedText(time_t t);

// Lines of the Diagnostics list: "line\tletter\tmessage", at most 4095 bytes.
char SeverityLetter(int32_t level);
std::string DiagnosticLine(const DiagnosticRecord &record);

// The Activity page's day count from the "Days:" text: its first 15
// characters as a decimal number (blanks and a sign first, digits up to the
// first other character, none give 0), never negative.
int ParseDayCount(std::string_view text);

// The server values that place a local file in URL space, each cut at its
// first blank.
struct ServerPaths
{
    std::string serverRoot, docRoot, indexDoc;
};
// Read from the local machine's store, also when the program works on
// another machine's configuration; nullopt when a value is missing.
std::optional<ServerPaths> LocalServerPaths(ConfigStore *local);
// The path the server logs requests for node under; nullopt when the node's
// file lies outside the server root (the list then stays as it is).
std::optional<std::string> ActivityKey(const SiteNode &node,
                                       const std::optional<ServerPaths> &paths);

// "status\ttime\tclient", at most 1023 bytes.
std::string ActivityLine(const LogRecord &record);

} // namespace sylvix
