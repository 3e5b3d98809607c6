#pragma once

#include <tidy/tidy.h>

#include <string_view>

namespace sylvix::html {

class MessageList;

// Runs the markup checker (libtidy) over the bytes and adds its messages.
// encoding is the name libxml2 read the document in (empty: UTF-8), so both
// parsers agree on the characters. Writes nothing anywhere else.
void CheckMarkup(std::string_view bytes, std::string_view encoding, MessageList &messages);

// The checker's settings: every message, and nothing in the text changed
// (links are read from it). The benchmark parses with the same.
void ConfigureTidy(TidyDoc tdoc);

// Once per process, before any check.
void InitMarkupCheck();

} // namespace sylvix::html
