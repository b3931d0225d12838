#pragma once

#include <filesystem>

namespace platform {

// Returns the user's Application Support folder: "$XDG_DATA_HOME" when it is an absolute path,
// else "$HOME/.local/share" ("/.local/share" without HOME). The environment is read on every
// call, so tests can point it at a temporary folder. The folder may not exist yet.
std::filesystem::path applicationSupportFolder();

}  // namespace platform
