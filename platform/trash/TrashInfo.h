#pragma once

#include <ctime>
#include <string>
#include <string_view>

namespace platform {

// Percent-encodes a path for the "Path=" key of a .trashinfo file: every byte except the
// unreserved URI characters (letters, digits, "-", ".", "_", "~") and "/" becomes %XX.
std::string encodeTrashInfoPath(std::string_view path);

// The local time `when` as a .trashinfo "DeletionDate=" value: YYYY-MM-DDThh:mm:ss.
std::string trashInfoDate(std::time_t when);

// The whole text of a .trashinfo file for an item whose original location is `path` (absolute,
// or relative to the top directory of a volume Trash), deleted at `when`.
std::string trashInfoText(std::string_view path, std::time_t when);

}  // namespace platform
