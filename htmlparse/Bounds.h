#pragma once

// Inputs that the parsing libraries take more than linear time on are cut
// down before either library sees them.

#include <cstddef>
#include <string>
#include <string_view>

namespace sylvix::html {

// Attributes read per element; the rest are cut. Both libraries compare
// each new attribute with the element's others.
constexpr size_t MaxAttributes = 128;

struct AttributeCut
{
    size_t elements = 0; // elements that had attributes cut
    size_t dropped = 0;  // attributes cut in all
    int firstLine = 0;   // line of the first such element
};

// Copies text to out with every start tag past maxAttributes attributes
// cut after its last kept one (line breaks inside the cut part stay, so
// that lines keep their numbers). Script and style contents, comments and
// end tags are copied as they are. Returns false, leaving out empty, when
// nothing needed cutting. Linear in the size of text. UTF-16 text (with
// a byte-order mark, or NULs in every other byte) is read as such; when cut,
// out holds it as UTF-8 after a UTF-8 byte-order mark.
bool CutAttributes(std::string_view text, size_t maxAttributes, std::string &out,
                   AttributeCut &cut);

} // namespace sylvix::html
