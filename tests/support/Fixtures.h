#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

// Builders for fixture trees on the real file system. Each creates missing parent folders and
// throws std::runtime_error (with the path and errno text) when the file system refuses.
namespace cb::testsupport {

// A folder with `mode` (created with its parents).
void makeDir(const std::filesystem::path& path, mode_t mode = 0755);

// A regular file holding `bytes` bytes of data (written, not a hole). Returns its allocated size
// (st_blocks * 512), which is what a scan must count for it.
int64_t makeFile(const std::filesystem::path& path, int64_t bytes);

// A sparse file of logical length `logicalBytes` whose first `dataBytes` bytes are written and
// the rest is a hole. Returns its allocated size.
int64_t makeSparseFile(const std::filesystem::path& path, int64_t logicalBytes,
                       int64_t dataBytes = 0);

// A hard link `link` to the existing file `target`.
void makeHardLink(const std::filesystem::path& target, const std::filesystem::path& link);

// A symbolic link `link` whose content is `target` (which need not exist: dangling links and
// loops are made this way).
void makeSymlink(const std::filesystem::path& target, const std::filesystem::path& link);

// Two symbolic links that point at each other: `a` -> `b` and `b` -> `a`.
void makeSymlinkLoop(const std::filesystem::path& a, const std::filesystem::path& b);

// A named pipe.
void makeFifo(const std::filesystem::path& path);

// A folder with mode 000: unreadable for anyone but root (see runUnprivileged()).
void makeUnreadableDir(const std::filesystem::path& path);

// A text file with `text` as its whole content.
void writeText(const std::filesystem::path& path, const std::string& text);

// st_blocks * 512 of `path` from lstat; -1 when lstat fails.
int64_t allocatedSize(const std::filesystem::path& path);

}  // namespace cb::testsupport
