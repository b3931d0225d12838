#include "app/disk/Scanner.h"

#include <fcntl.h>
#include <sched.h>

#include <array>
#include <cassert>
#include <cerrno>
#include <filesystem>
#include <vector>

#include "app/disk/EntryStatter.h"
#include "app/disk/StatHelpers.h"

namespace cb {

namespace {

// Folders at this depth below the root are still listed; their sub-folders are not.
constexpr int kMaxListedDepth = 128;
// A long folder notes an "…(N)" progress text every this many children.
constexpr int64_t kChildNoteInterval = 500;
// Folders one listing asks for ahead at a time, so that the listings below it find free places
// while the walker is in a deep sub-folder.
constexpr size_t kAskedPerListing = StatHelpers::Lookahead::kAskedPerFolder;

// The system mount points a scan never enters. They exist only on the product's home platform;
// on Linux the kernel's virtual file systems (/proc, /sys, /dev, /run) are mounts of their own,
// which the walk already leaves out because it stays on the root's device.
constexpr std::array<std::string_view, 3> excludedSystemPaths = {"/.vol", "/.nofollow",
                                                                 "/.resolve"};

// Closes a folder descriptor on every path out of a listing, and tells walkers waiting for a
// descriptor that one came free. A walker short of descriptors may close it early (set it aside)
// and adopt a new one for the same folder later.
class DirectoryHandle {
  public:
    DirectoryHandle(DirectoryReader& reader, DescriptorGate& gate, int fd, const struct stat* st)
        : reader_(reader),
          gate_(gate),
          fd_(fd),
          device_(st ? st->st_dev : 0),
          inode_(st ? st->st_ino : 0) {}
    ~DirectoryHandle() { close(); }
    DirectoryHandle(const DirectoryHandle&) = delete;
    DirectoryHandle& operator=(const DirectoryHandle&) = delete;
    int fd() const { return fd_; }
    bool isOpen() const { return fd_ >= 0; }

    void close() {
        if (fd_ >= 0) {
            reader_.closeDirectory(fd_);
            gate_.released();
            fd_ = -1;
        }
    }

    // Takes `fd` when it is the same folder as before; otherwise closes it. Returns isOpen().
    bool adopt(int fd) {
        struct stat st {};
        if (fd >= 0 && ::fstat(fd, &st) == 0 && st.st_dev == device_ && st.st_ino == inode_) {
            fd_ = fd;
        } else if (fd >= 0) {
            reader_.closeDirectory(fd);
            gate_.released();
        }
        return isOpen();
    }

  private:
    DirectoryReader& reader_;
    DescriptorGate& gate_;
    int fd_;
    const dev_t device_;
    const ino_t inode_;
};

// Absolute, without trailing "/" (but "/" itself stays).
std::string normalizedRootPath(const std::string& location) {
    std::string path = location;
    if (path.empty() || path.front() != '/') {
        std::error_code ec;
        const auto absolute = std::filesystem::absolute(location.empty() ? "." : location, ec);
        path = ec ? location : absolute.string();
    }
    while (path.size() > 1 && path.back() == '/') {
        path.pop_back();
    }
    return path;
}

std::string lastComponent(const std::string& path) {
    if (path == "/") {
        return path;
    }
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

// What a walker knows about the item it is about to visit: the folder descriptor and name to
// open it by, and its facts (null when they could not be read).
struct Scanner::EntryRef {
    int parentFd;
    const char* name;
    const struct stat* st;
    // Whether the folder may have been asked for ahead (Walker::lookahead), by its inode.
    bool askedAhead = false;
};

// Per-thread walk state: the path of the folder being visited, built incrementally and used only
// for progress texts, and one reusable listing and child list per folder level, so a walk does
// not allocate and free them for every folder.
struct Scanner::Walker {
    struct Level {
        DirectoryReader::Listing listing;
        FileNode::Children children;
        std::vector<EntryFacts> facts;  // the entries of the current batch
    };

    explicit Walker(std::atomic<Clock::rep>& countStamp) : countStamp(countStamp) {}

    std::string path;
    std::vector<std::unique_ptr<Level>> levels;
    // Counts not yet added to the scanner's totals (flushed when a report is due, when the
    // walker notes a path and when it is done).
    int64_t pendingBytes = 0;
    int64_t pendingFiles = 0;
    // This walker's slot of Scanner::countStamps_.
    std::atomic<Clock::rep>& countStamp;
    // Reads entry facts for this walker's thread.
    std::unique_ptr<EntryStatter> statter;
    // Folders listed ahead by the stat helpers (none without helpers). A listing at depth d
    // asks for its sub-folders at d and drops what is left of them when it ends.
    std::optional<StatHelpers::Lookahead> lookahead;
    // The folders this walker is listing, outermost first (non-owning; each lives in its
    // listDirectory() frame).
    std::vector<DirectoryHandle*> listed;

    // Registers a listed folder for the lifetime of its listing.
    struct Listed {
        Listed(Walker& walker, DirectoryHandle& dir) : walker(walker) {
            walker.listed.push_back(&dir);
        }
        ~Listed() { walker.listed.pop_back(); }
        Walker& walker;
    };

    // Whether folders above the innermost one hold descriptors that could be set aside.
    bool canSetAside() const {
        for (size_t i = 0; i + 1 < listed.size(); ++i) {
            if (listed[i]->isOpen()) {
                return true;
            }
        }
        return false;
    }
    // Closes them; each listing opens its folder again by path when it goes on.
    void setAside() {
        for (size_t i = 0; i + 1 < listed.size(); ++i) {
            listed[i]->close();
        }
    }

    Level& level(int depth) {
        while (levels.size() <= static_cast<size_t>(depth)) {
            levels.push_back(std::make_unique<Level>());
        }
        return *levels[static_cast<size_t>(depth)];
    }

    size_t push(const char* name) {
        const size_t previous = path.size();
        if (path.empty() || path.back() != '/') {
            path += '/';
        }
        path += name;
        return previous;
    }
    void pop(size_t previous) { path.resize(previous); }
};

// The root listing of a parallel walk: the root's children in listing order and the first-level
// folders to hand to walkers.
struct Scanner::RootWork {
    struct Folder {
        FileNode* node;
        const char* name;
        struct stat st;
    };
    DirectoryReader::Listing listing;
    FileNode::Children children;
    std::vector<Folder> folders;
};

Scanner::Scanner(ProgressHandler progressHandler, ScannerOptions options)
    : progressHandler_(std::move(progressHandler)),
      options_(std::move(options)),
      reader_(options_.reader ? options_.reader : DirectoryReader::system()) {
    const auto start = now();
    lastCounterBumpAt_ = start;
    lastRateAt_ = start;
}

Scanner::~Scanner() {
    stopWatchdog();
}

void Scanner::markCancelled() {
    std::lock_guard<std::mutex> guard(mutex_);
    cancelled_.store(true, std::memory_order_release);
}

int Scanner::workerWidth(VolumeInfo::MediumKind medium, int processorCount) {
    switch (medium) {
        case VolumeInfo::MediumKind::rotational:
        case VolumeInfo::MediumKind::notLocal:
            return 1;
        case VolumeInfo::MediumKind::solidState:
            return std::clamp(processorCount, 4, 8);
        case VolumeInfo::MediumKind::undetermined:
            break;
    }
    return processorCount < 4 ? 2 : std::min(processorCount / 2, 4);
}

int Scanner::activeProcessorCount() {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (::sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0) {
        return CPU_COUNT(&set);
    }
    return static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
}

bool Scanner::isExcluded(std::string_view path) {
    while (path.size() >= 2 && path.back() == '/') {
        path.remove_suffix(1);
    }
    for (std::string_view excluded : excludedSystemPaths) {
        if (path == excluded) {
            return true;
        }
    }
    return false;
}

std::unique_ptr<FileNode> Scanner::scan(const std::string& location) {
    const std::string path = normalizedRootPath(location);
    processors_ = activeProcessorCount();
    const int width = options_.width.value_or(
        workerWidth(VolumeInfo::mediumKind(path, options_.volumeSources), processors_));
    countStampCount_ = static_cast<size_t>(std::max(1, width));
    countStamps_ = std::make_unique<CountStamp[]>(countStampCount_);
    startWatchdog();
    bool subtreesSorted = false;
    auto root = walk(path, std::max(1, width), subtreesSorted);
    publishFinalProgress();
    stopWatchdog();
    if (subtreesSorted) {
        root->sortOwnChildrenBySize();
    } else {
        root->sortChildrenBySize();
    }
    root->recountInaccessible();  // here on the worker, so the window never walks the tree for it
    return root;
}

// Runs body(walker) on the calling thread, which is a walker thread of this scan.
template <typename Body>
void Scanner::runWalker(size_t slot, Body&& body) {
    Walker walker(countStamps_[slot].at);
    walker.statter = reader_->makeStatter(statHelpers_.get(), slot);
    if (statHelpers_) {
        walker.lookahead.emplace(statHelpers_->lookahead(slot));
    }
    descriptors_.walkerStarted();
    body(walker);
    descriptors_.walkerFinished();
    flushWalkerCounts(walker);
}

int Scanner::dropLookahead(Walker& walker, int depth) {
    int closed = 0;
    if (walker.lookahead) {
        walker.lookahead->drop(depth, [&](int fd) {
            reader_->closeDirectory(fd);
            descriptors_.released();
            ++closed;
        });
    }
    return closed;
}

int Scanner::openFolder(int parentFd, const char* name, bool followLink, Walker* walker) {
    for (;;) {
        const uint64_t seen = descriptors_.releases();
        const int fd = reader_->openDirectory(parentFd, name, followLink);
        if (fd >= 0 || !DescriptorGate::isOutOfDescriptors(errno)) {
            return fd;
        }
        const int error = errno;
        if (walker != nullptr && dropLookahead(*walker, 0) > 0) {
            continue;  // the folders listed ahead held descriptors
        }
        const bool canSetAside = walker != nullptr && walker->canSetAside();
        switch (descriptors_.waitForRelease(seen, canSetAside, cancelled_)) {
            case DescriptorGate::Outcome::retry:
                break;
            case DescriptorGate::Outcome::setAside:
                walker->setAside();
                break;
            case DescriptorGate::Outcome::giveUp:
                errno = error;
                return -1;
        }
    }
}

std::unique_ptr<FileNode> Scanner::walk(const std::string& path, int width, bool& subtreesSorted) {
    // The root follows a symbolic link: a linked home folder is scanned as the folder it is.
    struct stat st {};
    const bool haveFacts = ::stat(path.c_str(), &st) == 0;
    const bool isDirectory = !haveFacts || S_ISDIR(st.st_mode);
    rootDevice_ = haveFacts ? st.st_dev : 0;
    rootIsFileSystemRoot_ = path == "/";

    auto root = std::make_unique<FileNode>(lastComponent(path), isDirectory, nullptr);
    root->setRootPath(path);
    const EntryRef ref{AT_FDCWD, path.c_str(), haveFacts ? &st : nullptr};
    if (isDirectory && width >= 2) {
        walkRootInParallel(*root, ref, width);
        subtreesSorted = true;
    } else {
        // The walk's own thread, as in a parallel walk: the caller may be any thread.
        std::jthread([&] {
            runWalker(0, [&](Walker& walker) {
                walker.path = path;
                visit(*root, ref, 0, walker);
            });
        }).join();
    }
    return root;
}

void Scanner::visit(FileNode& node, const EntryRef& ref, int depth, Walker& walker) {
    if (isCancelled() || isExcluded(walker.path)) {
        return;
    }
    if (shouldSkipBranch()) {
        node.setInaccessible(true);  // the flag stays set: the parent listing stops too
        return;
    }
    noteWalkerPath(walker, walker.path);
    if (!node.isDirectory()) {
        countFile(node, ref.st, walker);
        return;
    }
    if (depth > kMaxListedDepth || ref.st == nullptr) {
        node.setInaccessible(true);
        return;
    }
    if (allocation_.shouldDescend(*ref.st)) {
        listDirectory(node, ref, depth, walker);
    }
}

void Scanner::markUnopened(FileNode& node, int error) {
    node.setInaccessible(true);
    if (error == EACCES || error == EPERM) {
        foldersDenied_.fetch_add(1, std::memory_order_relaxed);
    }
}

void Scanner::countFile(FileNode& node, const struct stat* st, Walker& walker) {
    const int64_t size = st ? allocation_.fileSize(*st) : 0;
    node.setSize(size);
    node.setFileCount(1);
    countWalkedFile(walker, size);
}

// Taking mutex_ for every file made the walkers queue on it; now a walker keeps its counts and
// adds them only when a report is due (the same test addCounts() makes under the lock), so each
// report still carries every file its walker counted. Other walkers' counts join at their next
// due file, path note or end, at most one report interval later; the final report is exact
// because every walker flushes before it is sent.
void Scanner::countWalkedFile(Walker& walker, int64_t bytes) {
    const auto stamp = now();
    walker.pendingBytes += bytes;
    ++walker.pendingFiles;
    walker.countStamp.store(stamp.time_since_epoch().count(), std::memory_order_relaxed);
    if (isReportDue(stamp)) {
        addCountsAt(walker.pendingBytes, walker.pendingFiles, stamp);
        walker.pendingBytes = 0;
        walker.pendingFiles = 0;
    }
}

void Scanner::noteWalkerPath(Walker& walker, std::string_view path) {
    const auto stamp = now();
    std::optional<ScanProgress> report;
    {
        std::lock_guard<std::mutex> guard(mutex_);
        flushWalkerCountsLocked(walker);
        currentPath_.assign(path);
        report = reportIfDueLocked(stamp);
    }
    if (report && progressHandler_) {
        progressHandler_(*report);
    }
}

void Scanner::flushWalkerCounts(Walker& walker) {
    if (walker.pendingFiles != 0) {
        std::lock_guard<std::mutex> guard(mutex_);
        flushWalkerCountsLocked(walker);
    }
}

void Scanner::flushWalkerCountsLocked(Walker& walker) {
    bytesScanned_ += walker.pendingBytes;
    filesScanned_ += walker.pendingFiles;
    walker.pendingBytes = 0;
    walker.pendingFiles = 0;
}

std::unique_ptr<FileNode> Scanner::makeEntryNode(FileNode& parent, const char* name,
                                                 bool atFileSystemRoot, const EntryFacts& facts,
                                                 bool& isFolder, Walker& walker) {
    const bool haveFacts = facts.error == 0;
    const struct stat& st = facts.st;
    if (haveFacts && (S_ISLNK(st.st_mode) || st.st_dev != rootDevice_)) {
        return nullptr;  // links are never followed; other volumes are not walked
    }
    if (atFileSystemRoot && isExcluded(std::string("/") + name)) {
        return nullptr;
    }
    isFolder = haveFacts && S_ISDIR(st.st_mode);
    auto node = std::make_unique<FileNode>(name, isFolder, &parent);
    if (!isFolder) {
        // Without facts the entry counts as a file of 0 bytes: the failed fstatat was its lstat.
        countFile(*node, haveFacts ? &st : nullptr, walker);
    }
    return node;
}

// One listing under way in listDirectory(): the folder, the batch of entry facts in use and the
// folders asked for ahead of the walker. Its per-entry steps are defined here, inline, as they
// run for every entry of the walk.
struct Scanner::ListingPass {
    Scanner& scanner;
    Walker& walker;
    FileNode& node;
    DirectoryHandle& dir;
    Walker::Level& level;
    const int depth;
    const bool atFileSystemRoot;
    const size_t batch;  // entries whose facts are read together
    size_t factsReady;   // entries whose facts came with a listing made ahead
    size_t batchStart = 0;
    size_t batchEnd = 0;
    // Entries before nextAsk are asked for ahead or are no folders (a helper that listed this
    // folder ahead may have asked for its first sub-folders).
    size_t nextAsk = 0;
    size_t pendingAsks = 0;  // folders asked for and not visited yet

    // False when the listing must end before its next entry: the scan was cancelled, the
    // watchdog abandoned the branch, or the folder was set aside and cannot be opened again by
    // its path.
    bool canGoOn() {
        if (scanner.isCancelled()) {
            return false;
        }
        if (scanner.shouldSkipBranch()) {
            node.setInaccessible(true);
            return false;
        }
        if (!dir.isOpen() &&
            !dir.adopt(scanner.openFolder(AT_FDCWD, walker.path.c_str(), depth == 0, &walker))) {
            node.setInaccessible(true);  // set aside, and now gone, replaced or too deep for a path
            return false;
        }
        return true;
    }

    // The facts of entry `i`. The facts of the next entries are read together, after the checks
    // of the first.
    const EntryFacts& factsOf(size_t i) {
        if (i == batchEnd) {
            batchStart = i;
            if (i == 0 && factsReady > 0) {
                batchEnd = factsReady;  // read with the listing
            } else {
                batchEnd = std::min(level.listing.size(), i + batch);
                walker.statter->statEntries(dir.fd(), level.listing, batchStart,
                                            batchEnd - batchStart, level.facts.data());
            }
        }
        return level.facts[i - batchStart];
    }
};

void Scanner::listDirectory(FileNode& node, const EntryRef& ref, int depth, Walker& walker) {
    Walker::Level& level = walker.level(depth);
    size_t factsReady = 0;
    const StatHelpers::Lookahead::Made made = openListing(node, ref, depth, walker, factsReady);
    if (made.fd < 0) {
        return;
    }
    DirectoryHandle dir(*reader_, descriptors_, made.fd, ref.st);
    if (!made.listed) {
        node.setInaccessible(true);
        return;
    }
    const Walker::Listed registered(walker, dir);
    // Folders asked for ahead hold names of this listing and its descriptor: settle them first.
    struct DropAhead {
        ~DropAhead() { scanner.dropLookahead(walker, depth); }
        Scanner& scanner;
        Walker& walker;
        int depth;
    } const dropAhead{*this, walker, depth};
    ListingPass pass{*this,
                     walker,
                     node,
                     dir,
                     level,
                     depth,
                     depth == 0 && rootIsFileSystemRoot_,
                     std::max<size_t>(1, walker.statter->batchSize()),
                     factsReady};
    pass.nextAsk = made.askedThrough;
    pass.pendingAsks = made.asked;
    buildChildren(pass, walker);
    clearSkipFlag();
}

// Visits the entries of the listing in order and gives `pass.node` its children and totals.
void Scanner::buildChildren(ListingPass& pass, Walker& walker) {
    const DirectoryReader::Listing& listing = pass.level.listing;
    FileNode::Children& children = pass.level.children;
    children.clear();
    children.reserve(listing.size());
    int64_t sizeTotal = 0;
    int64_t fileTotal = 0;
    pass.level.facts.resize(std::max(pass.factsReady, std::min(pass.batch, listing.size())));
    for (size_t i = 0; i < listing.size() && pass.canGoOn(); ++i) {
        const EntryFacts& facts = pass.factsOf(i);
        bool isFolder = false;
        auto child = makeEntryNode(pass.node, listing.name(i), pass.atFileSystemRoot, facts,
                                   isFolder, walker);
        if (!child) {
            continue;
        }
        if (isFolder) {
            enterFolder(pass, *child, i, facts, walker);
        }
        sizeTotal += child->size();
        fileTotal += child->fileCount();
        children.push_back(std::move(child));
        if (children.size() % kChildNoteInterval == 0) {
            noteLongFolder(walker, children.size());
        }
    }
    pass.node.setChildren(std::move(children));
    children.clear();  // setChildren() moved the nodes out; the capacity stays for reuse
    pass.node.setSize(sizeTotal);
    pass.node.setFileCount(fileTotal);
}

// Takes the folder from a helper that listed it ahead, or opens and lists it here. A folder that
// cannot be opened is marked (its fd is -1); `factsReady` is set to the entries whose facts came
// with a listing made ahead.
StatHelpers::Lookahead::Made Scanner::openListing(FileNode& node, const EntryRef& ref, int depth,
                                                  Walker& walker, size_t& factsReady) {
    Walker::Level& level = walker.level(depth);
    StatHelpers::Lookahead::Made made;
    if (ref.askedAhead && walker.lookahead &&
        walker.lookahead->take(ref.st->st_ino, depth - 1, made, level.listing, level.facts) &&
        made.fd >= 0) {
        factsReady = made.listed ? level.facts.size() : 0;
        return made;
    }
    made = {};
    made.fd = openFolder(ref.parentFd, ref.name, depth == 0, &walker);
    if (made.fd < 0) {
        markUnopened(node, errno);
        return made;
    }
    made.listed = reader_->readEntries(made.fd, level.listing);
    return made;
}

// Visits the sub-folder `child` (entry `i`), having first asked the helpers for the folders
// after it.
void Scanner::enterFolder(ListingPass& pass, FileNode& child, size_t i, const EntryFacts& facts,
                          Walker& walker) {
    const DirectoryReader::Listing& listing = pass.level.listing;
    bool askedAhead = false;
    if (walker.lookahead && !pass.atFileSystemRoot) {
        if (i < pass.nextAsk && pass.pendingAsks > 0) {
            --pass.pendingAsks;  // this one was asked for
        }
        pass.nextAsk = std::max(pass.nextAsk, i + 1);
        askAhead(walker, pass.dir.fd(), listing, pass.level.facts.data(), pass.batchStart,
                 pass.depth, pass.nextAsk, pass.pendingAsks, pass.batchEnd);
        askedAhead = true;
    }
    const size_t mark = walker.push(listing.name(i));
    visit(child, {pass.dir.fd(), listing.name(i), &facts.st, askedAhead}, pass.depth + 1, walker);
    walker.pop(mark);
}

// Notes "…(N)" for a long folder, N being the children counted so far.
void Scanner::noteLongFolder(Walker& walker, size_t childCount) {
    // The volume root's path already ends in a slash: "/… (500)", not "//… (500)".
    const bool endsInSlash = !walker.path.empty() && walker.path.back() == '/';
    noteWalkerPath(walker, walker.path + (endsInSlash ? "" : "/") + "\u2026 (" +
                               std::to_string(childCount) + ")");
}

// Asks the helpers to list the next folders of this batch, from entry `next` up to `end`, while
// the walker visits the one before them; `facts` holds the batch from entry `first` on.
void Scanner::askAhead(Walker& walker, int fd, const DirectoryReader::Listing& listing,
                       const EntryFacts* facts, size_t first, int depth, size_t& next,
                       size_t& pending, size_t end) {
    const StatHelpers::Descent& descent = statHelpers_->descent();
    for (; next < end && pending < kAskedPerListing; ++next) {
        const EntryFacts& entry = facts[next - first];
        if (!descent.covers(depth, entry)) {
            continue;
        }
        if (!walker.lookahead->ask(entry.st.st_ino, depth, fd, listing.name(next))) {
            return;  // every place is taken; ask again at the next folder
        }
        ++pending;
    }
}

void Scanner::clearSkipFlag() {
    if (shouldSkipBranch()) {
        std::lock_guard<std::mutex> guard(mutex_);
        skipCurrentBranch_.store(false, std::memory_order_release);
    }
}

void Scanner::restartStallClock() {
    std::lock_guard<std::mutex> guard(mutex_);
    skipCurrentBranch_.store(false, std::memory_order_release);
    lastCounterBumpAt_ = now();
}

bool Scanner::listRoot(FileNode& root, int fd, RootWork& work, Walker& walker) {
    if (fd < 0 || !reader_->readEntries(fd, work.listing)) {
        root.setInaccessible(true);
        return false;
    }
    work.children.reserve(work.listing.size());
    PerEntryStatter statter(*reader_);
    for (size_t i = 0; i < work.listing.size() && !isCancelled(); ++i) {
        EntryFacts facts;
        bool isFolder = false;
        const char* name = work.listing.name(i);
        statter.statEntries(fd, work.listing, i, 1, &facts);
        auto child = makeEntryNode(root, name, rootIsFileSystemRoot_, facts, isFolder, walker);
        if (!child) {
            continue;
        }
        if (isFolder) {
            work.folders.push_back({child.get(), name, facts.st});
        }
        work.children.push_back(std::move(child));
    }
    return true;
}

void Scanner::walkRootInParallel(FileNode& root, const EntryRef& ref, int width) {
    const std::string& rootPath = *root.rootPath();
    if (isCancelled() || isExcluded(rootPath)) {
        return;
    }
    if (ref.st == nullptr) {
        root.setInaccessible(true);
        return;
    }
    if (!allocation_.shouldDescend(*ref.st)) {
        return;
    }
    noteCurrentPath(rootPath);
    // The root stays open while the walkers open its folders relative to it.
    const int rootFd = openFolder(ref.parentFd, ref.name, true, nullptr);
    if (rootFd < 0) {
        markUnopened(root, errno);
        return;
    }
    DirectoryHandle dir(*reader_, descriptors_, rootFd, ref.st);
    RootWork work;
    if (!listRootFiles(root, dir.fd(), work)) {
        return;
    }
    // The root listing ignores the watchdog; a flag it raised meanwhile (a hung mount among the
    // root's entries) stands for no folder, and left set it would empty every first-level folder.
    restartStallClock();
    walkFirstLevelFolders(rootPath, dir.fd(), work, width);
    int64_t sizeTotal = 0;
    int64_t fileTotal = 0;
    for (const auto& child : work.children) {
        sizeTotal += child->size();
        fileTotal += child->fileCount();
    }
    root.setChildren(std::move(work.children));
    root.setSize(sizeTotal);
    root.setFileCount(fileTotal);
}

bool Scanner::listRootFiles(FileNode& root, int fd, RootWork& work) {
    // The first walker's stamp slot is free until the walkers start.
    Walker walker(countStamps_[0].at);
    const bool listed = listRoot(root, fd, work, walker);
    flushWalkerCounts(walker);
    return listed;
}

void Scanner::walkFirstLevelFolders(const std::string& rootPath, int rootFd, RootWork& work,
                                    int width) {
    std::atomic<size_t> next{0};
    std::atomic<size_t> walking{0};  // walkers not yet out of folders
    auto walkFolders = [&](Walker& walker) {
        while (!isCancelled()) {
            const size_t i = next.fetch_add(1);
            if (i >= work.folders.size()) {
                break;
            }
            auto& folder = work.folders[i];
            walker.path = rootPath;
            walker.push(folder.name);
            visit(*folder.node, {rootFd, folder.name, &folder.st}, 1, walker);
            // No listing above a first-level folder consumes a flag its visit left set (its
            // own folder could not be opened): the walker's next folder must start clean.
            clearSkipFlag();
            folder.node->sortChildrenBySize();  // in parallel; scan() sorts only the root's list
        }
    };
    // A walker with no folder left helps the others with their stats until the last one ends.
    // It has ended as a walker by then, so the descriptor gate does not wait for it.
    auto helpOthers = [&] {
        if (statHelpers_) {
            if (walking.fetch_sub(1) == 1) {
                statHelpers_->stop();
            } else {
                statHelpers_->serve();
            }
        }
    };
    {
        const size_t threads = std::min<size_t>(static_cast<size_t>(width), work.folders.size());
        startStatHelpers(threads);
        walking.store(threads);
        std::vector<std::jthread> walkers;
        for (size_t i = 0; i < threads; ++i) {
            walkers.emplace_back([&, i] {
                runWalker(i, walkFolders);
                helpOthers();
            });
        }
    }  // joins every walker
    statHelpers_.reset();
}

// The CPUs without a walker help with stats from the start, and each walker helps once it has no
// folder left, so a big folder whose siblings are done gets the whole machine without more
// threads than CPUs.
void Scanner::startStatHelpers(size_t walkers) {
    if (processors_ > 1 && walkers > 0) {
        const int helpers = std::max(0, processors_ - static_cast<int>(walkers));
        statHelpers_ =
            std::make_unique<StatHelpers>(*reader_, helpers, walkers, &cancelled_,
                                          StatHelpers::Descent{rootDevice_, kMaxListedDepth});
    }
}

}  // namespace cb
