#pragma once

#include <filesystem>

namespace cb {

// Where the uninstaller looks: the machine's applications root and its Library folder. One value
// for the process, read afresh by every listing and search, so tests can point it at fixture
// trees; the user's own folders come from $HOME (homeFolder()).
struct AppLocations {
    std::filesystem::path applicationsRoot = "/Applications";
    std::filesystem::path machineLibrary = "/Library";

    // The value in force. Any thread.
    static AppLocations current();

    // Replaces the value in force and returns the one it replaces. For tests; any thread.
    static AppLocations TEST_setCurrent(AppLocations locations);
};

// $HOME, or an empty path when it is unset or empty (then nothing in the home folder is looked
// at).
std::filesystem::path homeFolder();

}  // namespace cb
