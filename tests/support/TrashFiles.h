#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace cb::testsupport {

// The whole content of the file at `path`; empty when it cannot be read.
std::string readText(const std::filesystem::path& path);

// Whether `text` is a valid .trashinfo file ("[Trash Info]", "Path=", then a local
// "DeletionDate=YYYY-MM-DDThh:mm:ss"); fills `path` with its Path= value when given.
bool isTrashInfo(const std::string& text, std::string* path = nullptr);

// Every path below `root`, relative to it, sorted.
std::vector<std::string> listTree(const std::filesystem::path& root);

}  // namespace cb::testsupport
