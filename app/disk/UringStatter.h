#pragma once

#include <liburing.h>

#include <memory>
#include <optional>

#include "app/disk/EntryStatter.h"

namespace cb {

// Stats the entries of a folder in batches through an io_uring: one statx per entry, relative to
// the folder's descriptor, but one system call per batch instead of one per entry. The kernel runs
// the stats on a worker thread of its own; the ring allows one such worker and, when the walker
// is pinned to a CPU, keeps it on that CPU, so a walker still does one stat at a time and the
// hand-over costs no cross-CPU wake-up.
//
// Any failure of the ring itself (not of a stat) makes the statter fall back to fstatat for the
// rest of its life, so a walk never loses an entry to it.
class UringStatter final : public EntryStatter {
  public:
    static constexpr unsigned kBatch = 64;

    // A statter for the calling thread, or null when the kernel refuses io_uring (too old,
    // disabled by sysctl or a seccomp filter). `cpu`: the CPU the calling thread is pinned to.
    // The kernel worker settings apply to every ring of the thread: make one statter per
    // walker thread, before any other ring on it.
    static std::unique_ptr<UringStatter> create(std::optional<int> cpu);

    // Whether create() can succeed on this system (probed once per process).
    static bool isAvailable();

    ~UringStatter() override;
    UringStatter(const UringStatter&) = delete;
    UringStatter& operator=(const UringStatter&) = delete;

    size_t batchSize() const override { return kBatch; }
    void statEntries(int dirFd, const DirectoryReader::Listing& listing, size_t first, size_t count,
                     EntryFacts* out) override;

    // The flags of the last statx request put on the ring, as the kernel reads them.
    int TEST_lastStatxFlags() const { return lastStatxFlags_; }

  private:
    UringStatter() = default;

    // Submits count statx requests and collects their results into out; false when the ring
    // failed (out is then incomplete).
    bool statBatch(int dirFd, const DirectoryReader::Listing& listing, size_t first, size_t count,
                   EntryFacts* out);

    io_uring ring_{};
    bool broken_ = false;
    int lastStatxFlags_ = 0;
    // One fstatat per entry, once the ring has failed.
    DirectoryReader plainReader_;
    PerEntryStatter fallback_{plainReader_};
    // Where the kernel writes the batch's results. Given up (never freed) if the ring fails
    // while requests may still be in flight, so a late write cannot land in reused memory.
    std::unique_ptr<struct statx[]> results_ = std::make_unique<struct statx[]>(kBatch);
};

}  // namespace cb
