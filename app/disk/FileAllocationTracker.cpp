#include "app/disk/FileAllocationTracker.h"

#include <functional>

namespace cb {

int lstatPath(const char* path, struct stat& st) {
    if (path == nullptr) {
        return -1;
    }
    return ::lstat(path, &st);
}

size_t FileAllocationTracker::IdentityHash::operator()(const Identity& id) const noexcept {
    const size_t device = std::hash<uint64_t>{}(static_cast<uint64_t>(id.device));
    const size_t inode = std::hash<uint64_t>{}(static_cast<uint64_t>(id.inode));
    return device ^ (inode + 0x9e3779b97f4a7c15ULL + (device << 6) + (device >> 2));
}

bool FileAllocationTracker::insert(IdentitySet& set, const Identity& id) {
    std::lock_guard<std::mutex> guard(mutex_);
    return set.insert(id).second;
}

int64_t FileAllocationTracker::fileSize(const char* path, std::optional<int64_t> allocatedSize) {
    struct stat st {};
    if (lstatPath(path, st) != 0) {
        return 0;
    }
    return fileSize(st, allocatedSize);
}

int64_t FileAllocationTracker::fileSize(const struct stat& st,
                                        std::optional<int64_t> allocatedSize) {
    if ((st.st_mode & S_IFMT) != S_IFREG) {
        return 0;
    }
    if (st.st_nlink >= 2 && !insert(linkedFiles_, {st.st_dev, st.st_ino})) {
        return 0;
    }
    if (allocatedSize) {
        return *allocatedSize < 0 ? 0 : *allocatedSize;
    }
    // st_blocks is in 512-byte units whatever the file system's block size.
    const int64_t blocks = static_cast<int64_t>(st.st_blocks);
    if (blocks <= 0) {
        return 0;
    }
    return blocks > INT64_MAX / 512 ? INT64_MAX : blocks * 512;
}

std::optional<bool> FileAllocationTracker::shouldDescend(const char* path) {
    struct stat st {};
    if (lstatPath(path, st) != 0) {
        return std::nullopt;
    }
    return shouldDescend(st);
}

bool FileAllocationTracker::shouldDescend(const struct stat& st) {
    if ((st.st_mode & S_IFMT) != S_IFDIR) {
        return false;
    }
    return insert(directories_, {st.st_dev, st.st_ino});
}

}  // namespace cb
