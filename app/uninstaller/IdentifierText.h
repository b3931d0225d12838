#pragma once

#include <string>
#include <string_view>

namespace cb {

// Bundle, group and helper identifiers compare exactly: letter case matters, but two spellings
// of the same text (a precomposed "é" and "e" with a combining accent) are one identifier. These
// helpers give that equality; any thread.

// `identifier` (UTF-8) in Unicode normalization form C; text that is not valid UTF-8 comes back
// unchanged, so it still equals only itself.
std::string canonicalIdentifier(std::string_view identifier);

// Whether `a` and `b` are the same identifier: equal after canonicalIdentifier().
bool sameIdentifier(std::string_view a, std::string_view b);

// Whether `a` and `b` are the same text when letter case is ignored: equal after full Unicode
// case folding of their canonicalIdentifier() forms ("Foo" and "FOO", "Straße" and "STRASSE").
// Text that is not valid UTF-8 equals only itself, byte for byte.
bool sameTextIgnoringCase(std::string_view a, std::string_view b);

}  // namespace cb
