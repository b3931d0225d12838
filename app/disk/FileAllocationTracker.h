#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <cstdint>
#include <mutex>
#include <optional>
#include <unordered_set>

namespace cb {

// The one place that calls lstat: fills `st` for `path` without following a symbolic link and
// returns lstat's result (0 on success, -1 with errno set on failure). A null `path` (a location
// without a file-system path) returns -1 without calling lstat.
int lstatPath(const char* path, struct stat& st);

// Makes sure every allocated byte is counted once per walk.
//
// A file with several hard links is counted at the first link the walk meets and as 0 at every
// other one; a folder is descended into only the first time the walk reaches it, so a folder
// reachable along two paths is not counted twice and a walk cannot loop. Objects are keyed by
// (st_dev, st_ino) across the whole walk. Sizes are allocated sizes (st_blocks * 512), never
// logical lengths.
//
// Each scan makes its own tracker; the sets only grow. All members may be called concurrently
// from any thread: mutex_ is held only around one set insertion and never during a file-system
// call.
class FileAllocationTracker {
  public:
    // The key of one file-system object. `device` keeps the full 64-bit dev_t.
    struct Identity {
        dev_t device = 0;
        ino_t inode = 0;
        friend bool operator==(const Identity&, const Identity&) = default;
    };

    FileAllocationTracker() = default;
    FileAllocationTracker(const FileAllocationTracker&) = delete;
    FileAllocationTracker& operator=(const FileAllocationTracker&) = delete;

    // Bytes to count for the file at `path`: 0 when lstat fails, for anything but a regular
    // file (symbolic links, folders, devices, sockets, pipes), and for a link of a multiply
    // linked file that this tracker has already counted. Otherwise `allocatedSize` when the
    // caller read one (0 if negative), else st_blocks * 512.
    int64_t fileSize(const char* path, std::optional<int64_t> allocatedSize = std::nullopt);

    // The same decision for an entry whose lstat facts the caller already holds (the scanner
    // reads each entry once with fstatat).
    int64_t fileSize(const struct stat& st, std::optional<int64_t> allocatedSize = std::nullopt);

    // Whether a walk should list the folder at `path`: nullopt when lstat fails (the caller
    // treats the folder as inaccessible), false for anything but a folder (nothing is recorded)
    // and for a folder this tracker has seen before, true the first time.
    std::optional<bool> shouldDescend(const char* path);

    // The same decision from lstat facts the caller already holds.
    bool shouldDescend(const struct stat& st);

  private:
    struct IdentityHash {
        size_t operator()(const Identity& id) const noexcept;
    };
    using IdentitySet = std::unordered_set<Identity, IdentityHash>;

    // Inserts `id` into `set` under mutex_; true if it was not there yet.
    bool insert(IdentitySet& set, const Identity& id);

    std::mutex mutex_;
    IdentitySet directories_;  // guarded by mutex_
    IdentitySet linkedFiles_;  // guarded by mutex_
};

}  // namespace cb
