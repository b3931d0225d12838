#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/preferences/PlistValue.h"

// Small pieces of the related-file search that the identity, the scan and the match rules share.
namespace cb::AppRelatedFiles {

// The largest property list (container metadata, launchd list) the search reads.
inline constexpr size_t kMaxLibraryPlistSize = 16u << 20;

// `path` standardised lexically: "." and ".." components resolved without looking at the disk
// (symbolic links are not followed) and no trailing separator (except for "/" itself).
std::string standardisedPath(const std::filesystem::path& path);

// The entries of `folder`, hidden ones included, in byte order of their paths (so runs over the
// same tree visit it alike); empty when it cannot be listed. Nothing is followed but `folder`
// itself.
std::vector<std::filesystem::path> folderEntries(const std::filesystem::path& folder);

// Whether `text` is a UUID in the standard form: 8-4-4-4-12 hexadecimal digits (either case)
// joined by "-", nothing around them (no braces).
bool isUuidText(std::string_view text);

// The top-level dictionary of the property list (XML or binary) in the regular file at `path`
// (a link to one counts); nullopt when it is missing, not a regular file, over
// kMaxLibraryPlistSize, unreadable, not a property list, or not a dictionary at the top.
std::optional<platform::PlistDictionary> readPlistDictionaryFile(const std::filesystem::path& path);

}  // namespace cb::AppRelatedFiles
