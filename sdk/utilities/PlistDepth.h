#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace sdk {

// Pre-checks for property-list data before libplist parses it. libplist parses containers
// recursively without a depth limit, so deeply nested input (a few hundred thousand levels)
// overflows the stack; these checks measure the nesting without recursion first.

// True when the XML data nests elements deeper than `maxDepth` (comments, CDATA sections and
// processing instructions are skipped).
bool xmlPlistNestsDeeperThan(std::span<const std::uint8_t> data, std::size_t maxDepth);

// True when the binary ("bplist00") data nests containers deeper than `maxDepth`, or its
// containers refer to each other in a cycle. Structures it cannot follow are left to the
// parser (false).
bool binaryPlistNestsDeeperThan(std::span<const std::uint8_t> data, std::size_t maxDepth);

}  // namespace sdk
