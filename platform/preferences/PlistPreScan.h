#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace platform {

// A check of property-list data before libplist parses it. libplist builds and frees
// containers recursively without a depth limit, so deeply nested input (a few hundred thousand
// levels) overflows the stack even when the caller would refuse the result; and its binary
// reader builds an object again each time a reference reaches it, so a few objects that refer
// to each other twice (a = [a', a'], a' = [a'', a''], ...) build into gigabytes. The check
// measures both without recursion and without building anything, in time and memory linear
// in the data.

// What a built object is counted as, before its string or data bytes are added.
inline constexpr std::uint64_t kPlistObjectCost = 32;

// The most property-list data of `size` bytes may cost once built (objects reached, each time
// they are reached, at kPlistObjectCost each plus their string and data bytes): 64 per byte of
// data plus 1 MiB. Data without shared containers stays well inside it.
std::uint64_t plistCostLimit(std::size_t size);

// Returns nullopt when `data` may be handed to the parser, else the reason it is refused:
// a NUL character in XML or in a binary string (libplist asserts on reading one back);
// XML elements nested deeper than `maxDepth` (comments, CDATA sections, processing
// instructions and quoted attribute values are skipped); binary objects nested deeper than
// `maxDepth` (a leaf counts as a level), containers that refer to each other in a cycle or
// that cannot be followed, or a built cost above plistCostLimit(data.size()). Data of neither
// form is left to the parser (nullopt).
std::optional<std::string> plistPreScan(std::span<const std::uint8_t> data, std::size_t maxDepth);

// Whether `text` is well-formed UTF-8 (no overlong forms, surrogates or code points past
// U+10FFFF). libplist reads strings byte for byte, but writes a binary list that it cannot read
// back when a string is not UTF-8, so the readers refuse such strings rather than hand them on.
bool isWellFormedUtf8(std::string_view text);

}  // namespace platform
