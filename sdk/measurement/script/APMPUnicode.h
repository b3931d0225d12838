#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// Script strings are UTF-16, as the programs' strings are; the host speaks UTF-8.

// UTF-8 of `text`; a lone surrogate becomes U+FFFD.
std::string APMPToUTF8(std::u16string_view text);

// UTF-16 of `text`; an invalid UTF-8 sequence becomes U+FFFD.
std::u16string APMPFromUTF8(std::string_view text);

// True for the white space and line breaks that trimming removes: the Unicode separators (Z*),
// U+0009 to U+000D and U+0085.
bool APMPIsTrimmedSpace(char16_t unit);

// `text` without trimmed space at both ends.
std::u16string_view APMPTrimSpace(std::u16string_view text);

// Code-unit order of `a` and `b` (the order of std::u16string's own comparison): negative, zero
// or positive as `a` sorts before, with or after `b`. The units are compared by ICU in one pass,
// not one comparison at a time.
int APMPCompareUnits(std::u16string_view a, std::u16string_view b);

// True when `a` and `b` hold the same units (compared as memory in one pass).
bool APMPSameUnits(std::u16string_view a, std::u16string_view b);

// The first position at or after `from` that holds `unit`; npos when none.
std::size_t APMPFindUnit(std::u16string_view text, char16_t unit, std::size_t from);

// The last position before `end` (clamped to the text) that holds `unit`; npos when none.
std::size_t APMPFindLastUnit(std::u16string_view text, char16_t unit, std::size_t end);
