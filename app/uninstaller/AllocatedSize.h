#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>

namespace cb {

// Allocated bytes (st_blocks * 512) of the file or folder tree at `path`, counted as the disk
// map counts them: symbolic links are neither followed nor counted (a link at `path` itself
// gives 0), hidden entries and bundles are entered, and a file with several hard links, or a
// folder reached twice, counts once within this call (a fresh FileAllocationTracker per call;
// the next call counts it again). Sockets, pipes and devices count 0. What cannot be read
// (entries, folders, `path` itself) counts 0 and the rest is still counted; folders nested more
// than 256 levels below `path` are not entered. Never fails.
//
// `stop`, when given, is checked before every entry: once it is true the walk ends early and
// returns a partial count, which the caller must drop. Blocks for the whole walk; call it off the
// UI thread. Any thread; calls do not share state.
int64_t allocatedSize(const std::filesystem::path& path, const std::atomic<bool>* stop = nullptr);

// The allocated size of the application bundle at `bundle`: allocatedSize() of it, under the
// name the window state uses when it measures the listed applications.
int64_t measureBundleSize(const std::filesystem::path& bundle,
                          const std::atomic<bool>* stop = nullptr);

}  // namespace cb
