#pragma once

namespace sylvix::html {

// The tag number of an element name as the parser spells it (lower case);
// OtherTag for a name that is not a known element.
int TagOfName(const char *name);

} // namespace sylvix::html
