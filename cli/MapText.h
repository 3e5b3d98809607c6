#pragma once

// Texts of the map's output, made so that no page, header or file name can
// forge a row or reach the terminal as a control sequence.

#include <string>
#include <string_view>

namespace sylvix::map {

// s with every control character (C0, DEL, C1) and every byte that is not
// valid UTF-8 written as \xNN (\u00NN for a C1 character); the rest as is.
std::string SafeText(std::string_view s);

// s as a JSON string literal, strictly valid UTF-8: controls escaped, each
// invalid byte replaced by U+FFFD.
void AppendJsonString(std::string &out, std::string_view s);

// s as one CSV field: SafeText, quoted when it holds a comma or a quote.
void AppendCsvField(std::string &out, std::string_view s);

} // namespace sylvix::map
