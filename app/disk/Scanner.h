#pragma once

#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "app/disk/DescriptorGate.h"
#include "app/disk/DirectoryReader.h"
#include "app/disk/EntryStatter.h"
#include "app/disk/FileAllocationTracker.h"
#include "app/disk/FileNode.h"
#include "app/disk/ScanProgress.h"
#include "app/disk/StatHelpers.h"
#include "app/disk/VolumeInfo.h"

namespace cb {

// Settings of one Scanner. The defaults are the product's; tests and the benchmark change them.
struct ScannerOptions {
    using Clock = std::chrono::steady_clock;

    // Walkers for the root's first-level folders; unset means workerWidth() of the medium.
    std::optional<int> width;
    // No file counted for longer than this abandons the folder being listed.
    std::chrono::duration<double> stallThreshold{20.0};
    // How often the stall watchdog looks.
    std::chrono::nanoseconds watchdogTick{std::chrono::seconds(2)};
    // The monotonic clock behind every time stamp; unset means Clock::now.
    std::function<Clock::time_point()> now;
    // The file-system calls; unset means DirectoryReader::system().
    std::shared_ptr<DirectoryReader> reader;
    // Where the medium of the scanned volume is looked up.
    VolumeInfoSources volumeSources;
};

// Walks a folder (or the whole start-up volume) into a FileNode tree in which every allocated
// byte is counted once.
//
// Design notes
// ------------
// The root's first-level folders are walked by up to `width` threads, each folder depth first by
// one walker, which alone decides what to enter and builds and counts the nodes of its folders
// in listing order. Every folder is opened once (openat), listed with getdents64, and each
// entry's facts come from one fstatat relative to the folder's descriptor, so no per-file path
// is built. The walk stays on the root's device (st_dev), skips symbolic links, never fails
// (what it cannot read becomes a folder marked inaccessible), and stops listing below depth 128.
// A folder that cannot be opened for want of descriptors is retried when another walker closes
// one (DescriptorGate); when all walkers wait for each other, one closes the folders above its
// current one and opens them again by path as it comes back up, so a low limit slows the walk
// down instead of losing folders.
//
// One walker on a big folder would leave the machine idle, so a parallel walk has stat helpers
// (StatHelpers): one thread per CPU without a walker, and every walker that has no first-level
// folder left. They do a walker's requests, never its decisions: (1) the stats of a batch of up
// to 256 entries, in chunks of 8 claimed by the walker and the helpers alike; (2) folders the
// walker will enter, opened, listed and given their first batch of stats while the walker is
// busy with the folders before them. The walker asks for the next 8 folders of its current
// listing; a helper that has listed a folder ahead asks for the first 8 sub-folders of it in
// turn, so the helpers work down a deep tree of small folders ahead of the walker instead of
// leaving its chains to it. Helpers take the deepest folder asked for first, as a depth-first
// walker needs it soonest. A folder is asked for under its inode number and belongs to the
// listing it was asked in (one of the walker's, by depth, or another folder listed ahead); the
// walker takes it when it gets there, together with what was asked for in it, or opens and
// lists it itself when no helper has started on it. A listing settles everything asked for in
// it, however deep, before it ends, and closes what the walker did not use. Folders listed ahead
// hold up to 128 descriptors per walker; a walker short of descriptors closes them before it
// waits for others. A sequential walk (width 1: rotational and network volumes) has no helpers
// and makes one request at a time, so a disk is never seeked by parallel requests.
//
// Why threads: a walker's requests are short, cached lookups (about a microsecond per stat), so
// the cost of handing them out decides, and a helper thread that takes a chunk of them costs
// less than a kernel queue that completes each request on the submitting thread; listing ahead
// needs getdents, which only a thread can call. Helpers spin for 0.2 ms before they sleep,
// trading CPU time for a wake-up per batch. The folders listed ahead are bounded per walker (128
// places) because each keeps its listing's buffers. ScannerDesign.md beside this file keeps the
// measurements behind these choices and what bounds a walk now.
//
// Progress: a walker keeps the counts of the files it counts and adds them to the shared
// totals under mutex_ only when a report is due, when it notes a path and when it ends, so the
// lock is taken a few times per folder instead of once per file. Each walker also stamps when
// it last counted a file (its own cache line), which the stall watchdog reads.
//
// Invariants:
//   1. Every FileNode is written by one walker only; the root's totals are written after every
//      walker has finished.
//   2. mutex_ is held only for a few field updates: never during a file-system call, never while
//      the tracker's lock is taken, never while progressHandler_ runs.
//   3. Reports (except the final one) are at least 0.08 s apart, each a consistent copy.
//   4. cancelled_ is never cleared.
//
// Lifecycle (one scan per scanner):
//   created --scan()--> scanning --walk returns--> finished
//   scanning: startWatchdog() at the start; publishFinalProgress() and stopWatchdog() at the end.
//   markCancelled() may come from any thread at any time.
//
// The progress handler runs on walker threads, outside mutex_, possibly out of order. It must
// not keep its receiver alive or assume it still exists: capture the owner weakly (QPointer,
// weak_ptr) and hand the report to the owner's thread. The scanner holds nothing of its owner.
class Scanner {
  public:
    using Clock = ScannerOptions::Clock;
    using ProgressHandler = std::function<void(const ScanProgress&)>;

    explicit Scanner(ProgressHandler progressHandler, ScannerOptions options = {});
    ~Scanner();

    Scanner(const Scanner&) = delete;
    Scanner& operator=(const Scanner&) = delete;

    // Walks `location` and returns the root node: name = last path component ("/" for the
    // root folder), rootPath = the location as given (made absolute, trailing "/" removed),
    // children sorted by size. A symbolic link as the location is scanned as its target. Never
    // fails; after markCancelled() it returns promptly with the partial tree. Blocks: call it on
    // a worker thread. Sends one final progress report before returning.
    // REQUIRES: called once per scanner; the scanner outlives the call.
    std::unique_ptr<FileNode> scan(const std::string& location);

    // Folders the walk could not open for want of permission (EACCES, EPERM), as opposed to those
    // left out for other reasons (the depth limit, a stall, a vanished folder); both kinds are
    // marked inaccessible in the tree. Final once scan() has returned. Thread-safe.
    int64_t foldersDeniedAccess() const { return foldersDenied_.load(std::memory_order_relaxed); }

    // Asks the running scan to stop at its next entry. Thread-safe; never undone.
    void markCancelled();
    bool isCancelled() const { return cancelled_.load(std::memory_order_acquire); }

    // Walkers for a medium and processor count: 1 for rotational and network volumes, the count
    // clamped to 4..8 for solid state, and for an undetermined medium 2 below 4 processors, else
    // min(count / 2, 4).
    static int workerWidth(VolumeInfo::MediumKind medium, int processorCount);

    // CPUs this process may run on (its affinity mask), at least 1.
    static int activeProcessorCount();

    // True for the system mount points a scan never enters ("/.vol", "/.nofollow",
    // "/.resolve"), compared after removing trailing "/" (keeping at least one character).
    static bool isExcluded(std::string_view path);

    // Progress, called by the walk (public so tests can drive the cadence directly).
    // Notes the folder being entered (or an "…(N)" text) and reports if 0.08 s have passed.
    void noteCurrentPath(std::string_view path);
    // Counts files; reports if 0.08 s have passed, recomputing the rate at most every 0.5 s.
    void addCounts(int64_t bytes, int64_t files);
    // Reports the current counters at once (the end of a walk).
    void publishFinalProgress();

  private:
    // Reports are at least this far apart (except the final one).
    static constexpr std::chrono::milliseconds kReportInterval{80};

    struct Walker;
    struct EntryRef;
    struct RootWork;
    struct ListingPass;

    // Sets `subtreesSorted` when the walkers already sorted every first-level subtree.
    std::unique_ptr<FileNode> walk(const std::string& path, int width, bool& subtreesSorted);
    void walkRootInParallel(FileNode& root, const EntryRef& ref, int width);
    // Lists the root's entries into `work` and counts its files. False when the root cannot be
    // listed (it is marked inaccessible).
    bool listRootFiles(FileNode& root, int fd, RootWork& work);
    // Walks work.folders (open relative to `rootFd`) on up to `width` walker threads with the
    // stat helpers, and returns when every walker has ended.
    void walkFirstLevelFolders(const std::string& rootPath, int rootFd, RootWork& work, int width);
    void startStatHelpers(size_t walkers);
    void visit(FileNode& node, const EntryRef& ref, int depth, Walker& walker);
    // Lists the folder `node` and visits its entries in listing order, building its children.
    void listDirectory(FileNode& node, const EntryRef& ref, int depth, Walker& walker);
    // Steps of listDirectory().
    StatHelpers::Lookahead::Made openListing(FileNode& node, const EntryRef& ref, int depth,
                                             Walker& walker, size_t& factsReady);
    void buildChildren(ListingPass& pass, Walker& walker);
    void enterFolder(ListingPass& pass, FileNode& child, size_t i, const EntryFacts& facts,
                     Walker& walker);
    void noteLongFolder(Walker& walker, size_t childCount);
    void askAhead(Walker& walker, int fd, const DirectoryReader::Listing& listing,
                  const EntryFacts* facts, size_t first, int depth, size_t& next, size_t& pending,
                  size_t end);
    // Settles the folders listed ahead for the walker's listings from `depth` down and closes
    // them; returns how many descriptors that closed.
    int dropLookahead(Walker& walker, int depth);
    bool listRoot(FileNode& root, int fd, RootWork& work, Walker& walker);
    std::unique_ptr<FileNode> makeEntryNode(FileNode& parent, const char* name,
                                            bool atFileSystemRoot, const EntryFacts& facts,
                                            bool& isFolder, Walker& walker);
    // Runs body(walker) with a walker of its own on the calling walker thread.
    template <typename Body>
    void runWalker(size_t slot, Body&& body);
    // The reader's openDirectory(), retried while other walkers free descriptors; `walker`
    // (null for the root of a parallel walk) sets its outer folders aside in a deadlock.
    int openFolder(int parentFd, const char* name, bool followLink, Walker* walker);
    void countFile(FileNode& node, const struct stat* st, Walker& walker);
    // Marks `node` inaccessible after its folder could not be opened with `error`.
    void markUnopened(FileNode& node, int error);
    bool shouldSkipBranch() const { return skipCurrentBranch_.load(std::memory_order_acquire); }
    void clearSkipFlag();
    // Clears the skip flag and counts the stall time from now (the walkers are about to start).
    void restartStallClock();

    // Watchdog (ScannerProgress.cpp).
    void startWatchdog();
    void stopWatchdog();
    void watchdogLoop();
    bool checkForStall();
    std::optional<ScanProgress> reportIfDueLocked(Clock::time_point now);
    void addCountsAt(int64_t bytes, int64_t files, Clock::time_point stamp);
    bool isReportDue(Clock::time_point stamp) const {
        return stamp.time_since_epoch().count() >= reportDueAt_.load(std::memory_order_relaxed);
    }
    // The walkers' side of progress: counts wait in the walker until a report is due.
    void countWalkedFile(Walker& walker, int64_t bytes);
    void noteWalkerPath(Walker& walker, std::string_view path);
    void flushWalkerCounts(Walker& walker);
    void flushWalkerCountsLocked(Walker& walker);
    Clock::time_point latestCountLocked() const;
    ScanProgress copyLocked() const;
    Clock::time_point now() const { return options_.now ? options_.now() : Clock::now(); }

    const ProgressHandler progressHandler_;
    const ScannerOptions options_;
    const std::shared_ptr<DirectoryReader> reader_;

    // The flags are read on every entry, so they are atomics; writers still take mutex_ where a
    // decision depends on other fields.
    std::atomic<bool> cancelled_{false};
    std::atomic<bool> skipCurrentBranch_{false};
    std::atomic<int64_t> foldersDenied_{0};

    mutable std::mutex mutex_;
    int64_t bytesScanned_ = 0;                                       // guarded by mutex_
    int64_t filesScanned_ = 0;                                       // guarded by mutex_
    std::string currentPath_;                                        // guarded by mutex_
    Clock::time_point lastProgressTick_ = Clock::time_point::min();  // guarded by mutex_
    Clock::time_point lastCounterBumpAt_;                            // guarded by mutex_
    int64_t lastRateFiles_ = 0;                                      // guarded by mutex_
    Clock::time_point lastRateAt_;                                   // guarded by mutex_
    double filesPerSecond_ = 0;                                      // guarded by mutex_
    // lastProgressTick_ + 0.08 s as a clock count, so a walker can tell without mutex_ whether
    // its counts are due for a report. Written under mutex_.
    std::atomic<Clock::rep> reportDueAt_{
        (Clock::time_point::min() + kReportInterval).time_since_epoch().count()};

    // When each walker last counted a file (a clock count), one cache line per walker so the
    // per-file store is not shared; the watchdog takes the latest of these and
    // lastCounterBumpAt_. Allocated by scan() before the watchdog starts.
    struct alignas(64) CountStamp {
        std::atomic<Clock::rep> at{Clock::time_point::min().time_since_epoch().count()};
    };
    std::unique_ptr<CountStamp[]> countStamps_;
    size_t countStampCount_ = 0;

    std::mutex watchdogMutex_;
    std::condition_variable watchdogWake_;
    bool watchdogStop_ = false;  // guarded by watchdogMutex_
    std::thread watchdog_;       // started and joined by the scanning thread

    // Set before the walk starts and read-only during it.
    int processors_ = 1;  // activeProcessorCount() at the start of the scan
    dev_t rootDevice_ = 0;
    bool rootIsFileSystemRoot_ = false;

    // The stat helpers of a parallel walk: made before its walkers start, destroyed after they
    // are joined.
    std::unique_ptr<StatHelpers> statHelpers_;
    FileAllocationTracker allocation_;
    DescriptorGate descriptors_;
};

}  // namespace cb
