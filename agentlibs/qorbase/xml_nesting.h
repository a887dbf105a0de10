// rapidxml parses nested elements by recursion, so the depth of a document is checked before
// it is parsed: a hostile document must not run the parser off the stack.
#pragma once
#include <cstddef>

namespace qorbase {

// False when elements nest deeper than `limit` anywhere in the zero-terminated text, read the
// way rapidxml reads it (comments, CDATA, declarations and attribute values hold no elements).
bool XmlNestingWithin(const char* text, size_t limit);

}  // namespace qorbase
