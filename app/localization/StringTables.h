#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>

#include "app/localization/Language.h"

namespace cb {

// One (key, text) pair of a language's list.
struct StringEntry {
    std::string_view key;
    std::string_view text;
};

// Number of keys every language's list carries.
inline constexpr size_t kStringKeyCount = 112;

// Returns the fixed list of `language`: kStringKeyCount pairs, the same keys in the same order in
// every language. The texts are static and live for the whole run.
std::span<const StringEntry> stringList(Language language);

// Hash that lets a table be searched with a string_view without building a std::string.
struct StringKeyHash {
    using is_transparent = void;
    size_t operator()(std::string_view key) const { return std::hash<std::string_view>{}(key); }
};

// One language's table: key to text, both viewing the static lists.
using StringTable =
    std::unordered_map<std::string_view, std::string_view, StringKeyHash, std::equal_to<>>;

// Returns the table of `language`. The four tables are built together on the first call (safe
// from any thread) and never change afterwards.
const StringTable& stringTable(Language language);

// The four fixed lists, one per file; use stringList() instead.
namespace strings {
std::span<const StringEntry> english();
std::span<const StringEntry> russian();
std::span<const StringEntry> german();
std::span<const StringEntry> chinese();
}  // namespace strings

}  // namespace cb
