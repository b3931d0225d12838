#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace platform {

// The fate of one item of a move to the Trash.
struct TrashedItem {
    // The item's path as it was passed in.
    std::filesystem::path original;
    // Where the item is now, inside the Trash; empty when it was not moved.
    std::optional<std::filesystem::path> trashed;
    // The system's error number when the item was not moved, else 0.
    int error = 0;
    // The system's text for why the item was not moved (e.g. "Permission denied"), else empty.
    std::string reason;
    // True when the failure lies with the Trash folder rather than the item itself: `reason` is
    // then a sentence naming that folder, and `error` says why the folder could not be had.
    bool trashFolderFailed = false;
};

// The user's Trash. Implementations move items by renaming only: an item is never copied and
// deleted, so a failed move leaves it exactly where it was.
class Trash {
  public:
    virtual ~Trash() = default;

    // Moves each item of `items` to the Trash, in order, and returns one entry per item in the
    // same order. Never throws for system failures; they are reported per item. Blocks on file
    // system calls: call it off the UI thread.
    virtual std::vector<TrashedItem> moveToTrash(
        const std::vector<std::filesystem::path>& items) = 0;
};

}  // namespace platform
