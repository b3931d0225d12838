#pragma once

#include <filesystem>

#include "platform/workspace/Workspace.h"

namespace cb {

// Shows the item at `path` selected in the desktop's file manager, through the D-Bus service
// org.freedesktop.FileManager1 (ShowItems). When no file manager answers (no session bus, no
// such service, an error reply), `workspace` opens the folder that holds the item instead.
// Returns at once; the reply is handled by the event loop. Gives no feedback.
// REQUIRES: called on the UI thread of a running Qt application; `workspace` outlives the reply.
void showInFileViewer(const std::filesystem::path& path, bool isDirectory,
                      platform::Workspace& workspace = platform::Workspace::shared());

}  // namespace cb
