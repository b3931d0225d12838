#pragma once

#include <filesystem>

namespace cb {

// Shows the item at `path` selected in the desktop's file manager, through the D-Bus service
// org.freedesktop.FileManager1 (ShowItems). When no file manager answers (no session bus, no
// such service, an error reply), the folder that holds the item is opened instead. Returns at
// once; the reply is handled by the event loop. Gives no feedback.
// REQUIRES: called on the UI thread of a running Qt application.
void showInFileViewer(const std::filesystem::path& path, bool isDirectory);

}  // namespace cb
