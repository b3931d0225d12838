#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "platform/workspace/Workspace.h"

namespace cb {

// Full Disk Access: whether a location lies where read access is restricted, whether this
// process can read such places right now, and the settings panes that grant the permission.
//
// Linux has no such permission: "access" here means reading folders that only root may read.
// All functions are synchronous, keep no state and may be called on any thread.

// Returns true when `location` is "/" or its path begins with "/Library", "/System", "/private",
// "/usr" or "/var": the volume and the system folders, which hold folders only root may read.
// The home folder and everything in it are never protected, wherever the home folder lies: they
// are the user's own, and no switch of the system closes them to the user. The prefixes compare
// characters only, so "/variants" counts as protected. A trailing "/" of `location` is ignored.
bool isProtectedLocation(const std::filesystem::path& location);

// The same test with `home` as the home folder (trailing "/" ignored).
bool isProtectedLocation(const std::filesystem::path& location, const std::string& home);

// The root-only folders probed by hasFullDiskAccess(), in probing order.
std::vector<std::filesystem::path> fullDiskAccessProbePaths();

// Returns true when at least one probe folder exists and can be listed (an empty listing counts).
// Missing or unlistable probes only move on to the next; none listable gives false.
bool hasFullDiskAccess();

// The same probe over `probes`, in order.
bool hasFullDiskAccess(const std::vector<std::filesystem::path>& probes);

// Asks `workspace` to open the system settings on the Full Disk Access pane. Gives no feedback.
void openFullDiskAccessSettings(platform::Workspace& workspace = platform::Workspace::shared());

// Asks `workspace` to open the system settings on the App Management pane. Gives no feedback.
void openAppManagementSettings(platform::Workspace& workspace = platform::Workspace::shared());

}  // namespace cb
