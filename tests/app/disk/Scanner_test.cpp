#include "app/disk/Scanner.h"

#include <gtest/gtest.h>
#include <sched.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <future>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/Fixtures.h"
#include "tests/support/TempDir.h"
#include "tests/support/Unprivileged.h"

namespace cb {
namespace {

namespace fs = std::filesystem;
namespace ts = testsupport;
using namespace std::chrono_literals;

// --- helpers ---------------------------------------------------------------------------------

// One line per node, depth first in children order: path, size, file count, inaccessible.
void describe(const FileNode& node, std::string& out) {
    out += node.path() + " " + std::to_string(node.size()) + " " +
           std::to_string(node.fileCount()) + (node.inaccessible() ? " X" : "") + "\n";
    for (const auto& child : node.children()) {
        describe(*child, out);
    }
}

std::string describe(const FileNode& node) {
    std::string out;
    describe(node, out);
    return out;
}

const FileNode* find(const FileNode& node, const std::string& path) {
    if (node.path() == path) {
        return &node;
    }
    for (const auto& child : node.children()) {
        if (const FileNode* hit = find(*child, path)) {
            return hit;
        }
    }
    return nullptr;
}

// Checks the tree's invariants: totals add up, children sorted largest first, parents right.
void expectConsistent(const FileNode& node) {
    int64_t size = 0, files = 0;
    for (size_t i = 0; i < node.children().size(); ++i) {
        const FileNode& child = *node.children()[i];
        EXPECT_EQ(child.parent(), &node);
        if (i > 0) {
            EXPECT_GE(node.children()[i - 1]->size(), child.size()) << node.path();
        }
        size += child.size();
        files += child.fileCount();
        expectConsistent(child);
    }
    if (node.isDirectory()) {
        EXPECT_EQ(node.size(), size) << node.path();
        EXPECT_EQ(node.fileCount(), files) << node.path();
    }
}

// An independent count: allocated bytes of regular files counted once per (device, inode), and
// non-folder, non-link entries, on the root's device.
std::pair<int64_t, int64_t> independentTotals(const fs::path& root) {
    struct stat rootSt {};
    ::stat(root.c_str(), &rootSt);
    std::set<std::pair<dev_t, ino_t>> seen;
    int64_t bytes = 0, files = 0;
    for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator();
         ++it) {
        struct stat st {};
        if (::lstat(it->path().c_str(), &st) != 0 || st.st_dev != rootSt.st_dev) {
            continue;
        }
        if (S_ISDIR(st.st_mode) || S_ISLNK(st.st_mode)) {
            continue;
        }
        ++files;
        if (S_ISREG(st.st_mode) && seen.insert({st.st_dev, st.st_ino}).second) {
            bytes += static_cast<int64_t>(st.st_blocks) * 512;
        }
    }
    return {bytes, files};
}

std::unique_ptr<FileNode> scanWith(const fs::path& path, ScannerOptions options,
                                   std::vector<ScanProgress>* reports = nullptr) {
    std::mutex mutex;
    Scanner scanner(
        [&](const ScanProgress& p) {
            if (reports) {
                std::lock_guard<std::mutex> guard(mutex);
                reports->push_back(p);
            }
        },
        std::move(options));
    return scanner.scan(path.string());
}

ScannerOptions withWidth(int width) {
    ScannerOptions options;
    options.width = width;
    return options;
}

// A reader that lists names sorted (so tests know the order) and can hold one call: the stat
// of one entry name for a fixed time, or the listing of one folder until released.
class ScriptedReader : public DirectoryReader {
  public:
    std::string slowEntry;
    std::chrono::milliseconds slowFor{0};
    std::string heldFolder;  // last path component of the folder whose listing is held
    // Folders whose opening hangs this long and then fails (a mount whose server went away).
    std::set<std::string> failingOpens;
    std::chrono::milliseconds failOpenAfter{0};

    int openDirectory(int parentFd, const char* name, bool followLink) override {
        if (failingOpens.count(name) != 0) {
            std::this_thread::sleep_for(failOpenAfter);
            errno = EIO;
            return -1;
        }
        return DirectoryReader::openDirectory(parentFd, name, followLink);
    }

    void release() {
        std::lock_guard<std::mutex> guard(mutex_);
        released_ = true;
        wake_.notify_all();
    }
    // Waits until the held listing has started.
    bool waitUntilHeld(std::chrono::milliseconds limit) {
        std::unique_lock<std::mutex> lock(mutex_);
        return wake_.wait_for(lock, limit, [this] { return held_; });
    }

    bool readEntries(int fd, Listing& out) override {
        if (!heldFolder.empty() && folderName(fd) == heldFolder) {
            std::unique_lock<std::mutex> lock(mutex_);
            held_ = true;
            wake_.notify_all();
            wake_.wait(lock, [this] { return released_; });
        }
        if (!DirectoryReader::readEntries(fd, out)) {
            return false;
        }
        std::vector<std::string> names;
        for (size_t i = 0; i < out.size(); ++i) {
            names.emplace_back(out.name(i));
        }
        std::sort(names.begin(), names.end());
        out.clear();
        for (const auto& name : names) {
            out.add(name.c_str(), name.size());
        }
        return true;
    }

    int statEntry(int dirFd, const char* name, struct stat& st) override {
        if (name == slowEntry) {
            std::this_thread::sleep_for(slowFor);
        }
        return DirectoryReader::statEntry(dirFd, name, st);
    }

  private:
    static std::string folderName(int fd) {
        std::error_code ec;
        return fs::read_symlink("/proc/self/fd/" + std::to_string(fd), ec).filename().string();
    }

    std::mutex mutex_;
    std::condition_variable wake_;
    bool held_ = false;      // guarded by mutex_
    bool released_ = false;  // guarded by mutex_
};

// A fixture with every kind of entry. Hard links stay inside one first-level folder here, so
// which link carries the bytes does not depend on walker timing.
void makeRichTree(const fs::path& root) {
    ts::makeFile(root / "top.bin", 30000);
    ts::makeFile(root / "alpha" / "a1", 5000);
    ts::makeFile(root / "alpha" / "deep" / "er" / "a2", 70000);
    ts::makeHardLink(root / "alpha" / "a1", root / "alpha" / "deep" / "a1-link");
    ts::makeSparseFile(root / "beta" / "sparse", 256 << 20, 8192);
    ts::makeFifo(root / "beta" / "pipe");
    ts::makeSymlink("../nowhere", root / "beta" / "dangling");
    ts::makeSymlinkLoop(root / "beta" / "loop1", root / "beta" / "loop2");
    ts::makeSymlink(root / "alpha", root / "beta" / "to-alpha");
    ts::makeDir(root / "empty");
    for (int i = 0; i < 12; ++i) {
        ts::makeFile(root / ("gamma/g" + std::to_string(i % 3)) / ("f" + std::to_string(i)),
                     1000 * i);
    }
}

// --- walking ---------------------------------------------------------------------------------

TEST(ScannerTest, TotalsMatchAnIndependentCountAtEveryWidth) {
    ts::TempDir dir;
    makeRichTree(dir.path());
    // A folder longer than one batch of stats, with folders and links among its files.
    for (int i = 0; i < 150; ++i) {
        const fs::path entry = dir / "gamma" / "many" / ("m" + std::to_string(i));
        if (i % 37 == 5) {
            ts::makeFile(entry / "inner", 3000 + i);
        } else if (i % 41 == 7) {
            ts::makeSymlink(dir / "alpha", entry);
        } else {
            ts::makeFile(entry, 100 * i);
        }
    }
    const auto [bytes, files] = independentTotals(dir.path());

    // The system reader (batched stats where the kernel allows) and the plain one (one fstatat
    // per entry) must build the same tree at every width.
    std::string first;
    for (const auto& reader : {DirectoryReader::system(), std::make_shared<DirectoryReader>()}) {
        for (int width : {1, 2, 4, 8}) {
            ScannerOptions options = withWidth(width);
            options.reader = reader;
            auto root = scanWith(dir.path(), options);
            EXPECT_EQ(root->size(), bytes) << "width " << width;
            EXPECT_EQ(root->fileCount(), files) << "width " << width;
            EXPECT_EQ(root->inaccessibleCount(), 0);
            expectConsistent(*root);
            const std::string tree = describe(*root);
            if (first.empty()) {
                first = tree;
            }
            EXPECT_EQ(tree, first) << "width " << width;
        }
    }
    auto root = scanWith(dir.path(), withWidth(4));
    EXPECT_EQ(root->name(), dir.path().filename().string());
    EXPECT_EQ(*root->rootPath(), dir.path().string());
    // Links are never followed and make no node; a FIFO counts as a file of 0 bytes.
    const FileNode* beta = find(*root, (dir / "beta").string());
    ASSERT_NE(beta, nullptr);
    std::set<std::string> names;
    for (const auto& child : beta->children()) {
        names.insert(child->name());
    }
    EXPECT_EQ(names, (std::set<std::string>{"pipe", "sparse"}));
    EXPECT_LT(beta->size(), 1 << 20);
    EXPECT_EQ(find(*root, (dir / "beta" / "pipe").string())->size(), 0);
}

TEST(ScannerTest, HardLinksInDifferentFirstLevelFoldersCountOnce) {
    ts::TempDir dir;
    const int64_t bytes = ts::makeFile(dir / "one" / "data", 100000);
    ts::makeHardLink(dir / "one" / "data", dir / "two" / "data");
    ts::makeFile(dir / "two" / "other", 4096);
    for (int width : {1, 2, 4, 8}) {
        auto root = scanWith(dir.path(), withWidth(width));
        EXPECT_EQ(root->size(), bytes + ts::allocatedSize(dir / "two" / "other"));
        EXPECT_EQ(root->fileCount(), 3);
        const int64_t one = find(*root, (dir / "one" / "data").string())->size();
        const int64_t two = find(*root, (dir / "two" / "data").string())->size();
        EXPECT_EQ(one + two, bytes);
        EXPECT_TRUE(one == 0 || two == 0);
    }
}

TEST(ScannerTest, SymlinkToALargeFolderAddsNothing) {
    ts::TempDir big;
    ts::makeFile(big / "huge", 1 << 20);
    ts::TempDir dir;
    ts::makeFile(dir / "small", 100);
    ts::makeSymlink(big.path(), dir / "link-to-big");
    auto root = scanWith(dir.path(), withWidth(1));
    ASSERT_EQ(root->children().size(), 1u);
    EXPECT_EQ(root->children()[0]->name(), "small");
    EXPECT_EQ(root->size(), ts::allocatedSize(dir / "small"));
}

TEST(ScannerTest, RootKindsAndLinkedRoots) {
    ts::TempDir dir;
    const int64_t fileBytes = ts::makeFile(dir / "single", 12345);
    ts::makeFile(dir / "target" / "inside", 5000);
    ts::makeSymlink(dir / "target", dir / "linked");
    ts::makeSymlink(dir / "single", dir / "linked-file");
    for (int width : {1, 4}) {
        auto file = scanWith(dir / "single", withWidth(width));
        EXPECT_FALSE(file->isDirectory());
        EXPECT_EQ(file->size(), fileBytes);
        EXPECT_EQ(file->fileCount(), 1);

        // A linked location is scanned as its target but keeps the chosen path.
        auto linked = scanWith(dir / "linked", withWidth(width));
        EXPECT_TRUE(linked->isDirectory());
        EXPECT_EQ(linked->name(), "linked");
        EXPECT_EQ(*linked->rootPath(), (dir / "linked").string());
        EXPECT_EQ(linked->fileCount(), 1);
        EXPECT_EQ(linked->children()[0]->path(), (dir / "linked" / "inside").string());
        EXPECT_EQ(scanWith(dir / "linked-file", withWidth(width))->size(), fileBytes);

        auto trailing = scanWith(dir.path().string() + "/target//", withWidth(width));
        EXPECT_EQ(trailing->name(), "target");
        EXPECT_EQ(*trailing->rootPath(), (dir / "target").string());

        auto missing = scanWith(dir / "missing", withWidth(width));
        EXPECT_TRUE(missing->isDirectory());
        EXPECT_TRUE(missing->inaccessible());
    }
}

TEST(ScannerTest, FolderBelowDepth128IsInaccessible) {
    ts::TempDir dir;
    fs::path path = dir.path();
    for (int depth = 1; depth <= 130; ++depth) {
        path /= "d";
    }
    ts::makeFile(path / "f", 10);
    for (int width : {1, 4}) {
        auto root = scanWith(dir.path(), withWidth(width));
        const FileNode* node = root.get();
        for (int depth = 1; depth <= 129; ++depth) {
            ASSERT_EQ(node->children().size(), 1u) << "depth " << depth;
            node = node->children()[0].get();
            EXPECT_EQ(node->inaccessible(), depth == 129) << "depth " << depth;
        }
        EXPECT_TRUE(node->children().empty());
        EXPECT_EQ(root->inaccessibleCount(), 1);
        EXPECT_EQ(root->fileCount(), 0);
    }
}

TEST(ScannerTest, UnreadableFolderIsMarkedForAnOrdinaryUserAndCountedAsDenied) {
    ts::TempDir dir;
    dir.openToEveryone();
    ts::makeFile(dir / "open" / "f", 4096);
    ts::makeFile(dir / "locked" / "secret", 4096);
    ::chmod((dir / "locked").c_str(), 0);
    // A chain past the depth limit: marked as well, but nobody's permission would open it.
    fs::path deep = dir / "deep";
    for (int depth = 1; depth <= 130; ++depth) {
        deep /= "d";
    }
    ts::makeDir(deep);
    const auto result = ts::runUnprivileged([&] {
        std::string out;
        for (int width : {1, 4}) {
            Scanner scanner([](const ScanProgress&) {}, withWidth(width));
            auto root = scanner.scan(dir.path().string());
            const FileNode* locked = find(*root, (dir / "locked").string());
            out += std::to_string(root->inaccessibleCount()) + " " +
                   std::to_string(scanner.foldersDeniedAccess()) + " " +
                   std::to_string(root->fileCount()) + " " +
                   (locked && locked->inaccessible() && locked->children().empty() &&
                            locked->size() == 0
                        ? "marked"
                        : "unmarked") +
                   ";";
        }
        // A root closed to the walk is denied as well.
        Scanner scanner([](const ScanProgress&) {}, withWidth(4));
        auto root = scanner.scan((dir / "locked").string());
        out += std::to_string(root->inaccessibleCount()) + " " +
               std::to_string(scanner.foldersDeniedAccess());
        return out;
    });
    EXPECT_EQ(result.exitCode, 0) << result.output;
    EXPECT_EQ(result.output, "2 1 1 marked;2 1 1 marked;1 1");
}

TEST(ScannerTest, FileSystemRootSkipsSystemMountsAndOtherVolumes) {
    // The listing of "/" is scripted; every other folder is empty, so this stays fast.
    class RootReader : public DirectoryReader {
      public:
        bool readEntries(int fd, Listing& out) override {
            out.clear();
            std::error_code ec;
            if (fs::read_symlink("/proc/self/fd/" + std::to_string(fd), ec) == "/") {
                for (const char* name : {"etc", ".vol", ".nofollow", ".resolve", "proc"}) {
                    out.add(name, std::strlen(name));
                }
            }
            return true;
        }
    };
    for (int width : {1, 4}) {
        ScannerOptions options = withWidth(width);
        options.reader = std::make_shared<RootReader>();
        auto root = scanWith("/", options);
        EXPECT_EQ(root->name(), "/");
        EXPECT_EQ(*root->rootPath(), "/");
        ASSERT_EQ(root->children().size(), 1u) << describe(*root);  // proc is another volume
        EXPECT_EQ(root->children()[0]->path(), "/etc");
        EXPECT_FALSE(root->inaccessible());
    }
}

TEST(ScannerTest, ExcludedLocationsGiveAnEmptyUnmarkedRoot) {
    struct Case {
        std::string path;
        bool excluded;
    };
    const std::vector<Case> cases = {
        {"/.vol", true},     {"/.vol/", true},      {"/.vol//", true},   {"/.nofollow", true},
        {"/.resolve", true}, {"/.vol/x", false},    {"/", false},        {"//", false},
        {".vol", false},     {"/home/.vol", false}, {"/.volume", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Scanner::isExcluded(c.path), c.excluded) << c.path;
    }
    for (int width : {1, 4}) {
        auto root = scanWith("/.vol", withWidth(width));
        EXPECT_TRUE(root->children().empty());
        EXPECT_FALSE(root->inaccessible());
        EXPECT_EQ(root->size(), 0);
    }
}

TEST(ScannerTest, WorkerWidthFollowsMediumAndProcessors) {
    using K = VolumeInfo::MediumKind;
    struct Case {
        K medium;
        int processors, width;
    };
    const std::vector<Case> cases = {
        {K::solidState, 10, 8},  {K::solidState, 2, 4},    {K::solidState, 6, 6},
        {K::undetermined, 6, 3}, {K::undetermined, 12, 4}, {K::undetermined, 3, 2},
        {K::undetermined, 4, 2}, {K::notLocal, 16, 1},     {K::rotational, 16, 1},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Scanner::workerWidth(c.medium, c.processors), c.width)
            << static_cast<int>(c.medium) << "/" << c.processors;
    }
}

// Counts the reader's calls that run at the same time. Each stat takes a little while, so calls
// that may overlap do.
class InFlightCountingReader : public DirectoryReader {
  public:
    int openDirectory(int parentFd, const char* name, bool followLink) override {
        const Counted counted(*this);
        return DirectoryReader::openDirectory(parentFd, name, followLink);
    }
    bool readEntries(int fd, Listing& out) override {
        const Counted counted(*this);
        return DirectoryReader::readEntries(fd, out);
    }
    int statEntry(int dirFd, const char* name, struct stat& st) override {
        const Counted counted(*this);
        std::this_thread::sleep_for(100us);
        return DirectoryReader::statEntry(dirFd, name, st);
    }
    int mostInFlight() const { return most_.load(); }

  private:
    struct Counted {
        explicit Counted(InFlightCountingReader& reader) : reader(reader) {
            const int now = reader.inFlight_.fetch_add(1) + 1;
            int most = reader.most_.load();
            while (now > most && !reader.most_.compare_exchange_weak(most, now)) {
            }
        }
        ~Counted() { reader.inFlight_.fetch_sub(1); }
        InFlightCountingReader& reader;
    };
    std::atomic<int> inFlight_{0};
    std::atomic<int> most_{0};
};

// A sysfs in which the disk behind `place` reports "1" (rotational) or "0" (solid state) in
// queue/rotational.
VolumeInfoSources sysfsWithDisk(const fs::path& sysfs, const fs::path& place,
                                const std::string& rotational) {
    struct stat st {};
    EXPECT_EQ(::stat(place.c_str(), &st), 0);
    ts::writeText(sysfs / "devices/pci/sdz/queue/rotational", rotational + "\n");
    ts::makeSymlink("../../devices/pci/sdz", sysfs / "class/block/sdz");
    ts::makeSymlink("../../devices/pci/sdz",
                    sysfs / ("dev/block/" + std::to_string(major(st.st_dev)) + ":" +
                             std::to_string(minor(st.st_dev))));
    ts::writeText(sysfs / "mountinfo", "");
    return {sysfs.string(), (sysfs / "mountinfo").string()};
}

TEST(ScannerTest, RotationalDiskSeesOneRequestAtATime) {
    ts::TempDir dir;
    for (const char* folder : {"a", "b", "c"}) {
        for (int i = 0; i < 100; ++i) {
            ts::makeFile(dir / folder / "sub" / ("f" + std::to_string(i)), 100);
        }
    }
    const auto [bytes, files] = independentTotals(dir.path());
    for (const std::string rotational : {"1", "0"}) {
        ts::TempDir sysfs("cb-sysfs");
        auto reader = std::make_shared<InFlightCountingReader>();
        ScannerOptions options;
        options.reader = reader;
        options.volumeSources = sysfsWithDisk(sysfs.path(), dir.path(), rotational);
        auto root = scanWith(dir.path(), options);
        EXPECT_EQ(root->size(), bytes);
        EXPECT_EQ(root->fileCount(), files);
        if (rotational == "1") {
            EXPECT_EQ(reader->mostInFlight(), 1);
        } else if (Scanner::activeProcessorCount() > 1) {
            // The control: on solid state the same walk overlaps its requests.
            EXPECT_GT(reader->mostInFlight(), 1);
        }
    }
}

TEST(ScannerTest, ActiveProcessorCountIsTheAffinityCount) {
    cpu_set_t original;
    CPU_ZERO(&original);
    ASSERT_EQ(::sched_getaffinity(0, sizeof original, &original), 0);
    EXPECT_EQ(Scanner::activeProcessorCount(), CPU_COUNT(&original));
    // Restricted to two CPUs, the count follows the mask, not the machine.
    cpu_set_t two;
    CPU_ZERO(&two);
    for (int cpu = 0, taken = 0; cpu < CPU_SETSIZE && taken < 2; ++cpu) {
        if (CPU_ISSET(cpu, &original)) {
            CPU_SET(cpu, &two);
            ++taken;
        }
    }
    ASSERT_EQ(::sched_setaffinity(0, sizeof two, &two), 0);
    const int restricted = Scanner::activeProcessorCount();
    ::sched_setaffinity(0, sizeof original, &original);
    EXPECT_EQ(restricted, CPU_COUNT(&two));
}

// A reader with a descriptor limit of its own: opening a folder beyond `limit` open ones fails
// with EMFILE. Once the folder `holdFolder` is open, its walker waits until some open has been
// refused, holding its descriptor; the folder `afterHold` is opened only once `holdFolder` is, so
// its walker is the one that runs out.
class DescriptorLimitedReader : public DirectoryReader {
  public:
    DescriptorLimitedReader(int limit, std::string holdFolder = "", std::string afterHold = "")
        : limit_(limit), holdFolder_(std::move(holdFolder)), afterHold_(std::move(afterHold)) {}

    int openDirectory(int parentFd, const char* name, bool followLink) override {
        {
            std::unique_lock<std::mutex> lock(mutex_);
            if (name == afterHold_) {
                changed_.wait_for(lock, 5s, [this] { return holdOpen_; });
            }
            if (open_ >= limit_) {
                ++refusals_;
                changed_.notify_all();
                errno = EMFILE;
                return -1;
            }
            ++open_;
        }
        const int fd = DirectoryReader::openDirectory(parentFd, name, followLink);
        if (fd < 0) {
            std::lock_guard<std::mutex> guard(mutex_);
            --open_;
        } else if (name == holdFolder_) {
            std::unique_lock<std::mutex> lock(mutex_);
            holdOpen_ = true;
            changed_.notify_all();
            changed_.wait_for(lock, 5s, [this] { return refusals_ > 0; });
        }
        return fd;
    }

    void closeDirectory(int fd) override {
        DirectoryReader::closeDirectory(fd);
        std::lock_guard<std::mutex> guard(mutex_);
        --open_;
    }

    int refusals() {
        std::lock_guard<std::mutex> guard(mutex_);
        return refusals_;
    }

  private:
    const int limit_;
    const std::string holdFolder_;
    const std::string afterHold_;
    std::mutex mutex_;
    std::condition_variable changed_;
    int open_ = 0;           // guarded by mutex_
    int refusals_ = 0;       // guarded by mutex_
    bool holdOpen_ = false;  // guarded by mutex_
};

TEST(ScannerTest, RunningOutOfDescriptorsWaitsForAnotherWalkerInsteadOfLosingFolders) {
    // Root, "hold" and the six folders of the chain need eight descriptors; seven are allowed.
    ts::TempDir dir;
    fs::path chain = dir / "deep";
    for (int level = 0; level < 5; ++level) {
        chain /= "d";
    }
    ts::makeFile(chain / "bottom", 4096);
    ts::makeFile(dir / "hold" / "f", 4096);
    for (int width : {2, 4}) {
        auto reader = std::make_shared<DescriptorLimitedReader>(7, "hold", "deep");
        ScannerOptions options = withWidth(width);
        options.reader = reader;
        auto root = scanWith(dir.path(), options);
        EXPECT_GE(reader->refusals(), 1);
        EXPECT_EQ(root->inaccessibleCount(), 0) << describe(*root);
        EXPECT_EQ(root->fileCount(), 2) << describe(*root);
    }
    // Four deep walks at once that fit only a few levels each: whichever walkers end up waiting
    // for each other, one sets its outer folders aside and all are counted.
    ts::TempDir chains;
    for (const char* name : {"c1", "c2", "c3", "c4"}) {
        fs::path folder = chains / name;
        for (int level = 0; level < 8; ++level) {
            folder /= "d";
        }
        ts::makeFile(folder / "bottom", 4096);
    }
    for (int round = 0; round < 5; ++round) {
        auto reader = std::make_shared<DescriptorLimitedReader>(13);
        ScannerOptions options = withWidth(4);
        options.reader = reader;
        auto root = scanWith(chains.path(), options);
        EXPECT_EQ(root->inaccessibleCount(), 0) << describe(*root);
        EXPECT_EQ(root->fileCount(), 4) << describe(*root);
    }
    // Alone and short of descriptors, a walker closes the folders above the one it lists and
    // opens them again on its way back; with room for the root alone it can only give up.
    struct Case {
        int limit;
        int64_t files;
        int inaccessible;
    };
    for (const Case& c : {Case{3, 2, 0}, Case{1, 0, 2}}) {
        auto reader = std::make_shared<DescriptorLimitedReader>(c.limit);
        ScannerOptions options = withWidth(1);
        options.reader = reader;
        auto root = scanWith(dir.path(), options);
        EXPECT_EQ(root->inaccessibleCount(), c.inaccessible) << c.limit << "\n" << describe(*root);
        EXPECT_EQ(root->fileCount(), c.files) << c.limit;
        expectConsistent(*root);
    }
}

// --- progress, watchdog, cancellation -------------------------------------------------------

// A clock the test moves by hand.
struct ManualClock {
    std::atomic<int64_t> nanos{1'000'000'000'000};
    Scanner::Clock::time_point operator()() const {
        return Scanner::Clock::time_point(std::chrono::nanoseconds(nanos.load()));
    }
    void advance(std::chrono::nanoseconds by) { nanos += by.count(); }
};

struct Recorder {
    std::mutex mutex;
    std::vector<ScanProgress> reports;
    Scanner::ProgressHandler handler() {
        return [this](const ScanProgress& p) {
            std::lock_guard<std::mutex> guard(mutex);
            reports.push_back(p);
        };
    }
};

TEST(ScannerProgressTest, ReportsAreThrottledAndCarryTheLatestPath) {
    ManualClock clock;
    Recorder recorder;
    ScannerOptions options;
    options.now = [&clock] { return clock(); };
    Scanner scanner(recorder.handler(), options);

    scanner.noteCurrentPath("/first");  // the first note reports at once
    clock.advance(10ms);
    scanner.noteCurrentPath("/second");
    ASSERT_EQ(recorder.reports.size(), 1u);
    EXPECT_EQ(recorder.reports[0].currentPath, "/first");

    for (int i = 0; i < 1000; ++i) {  // 1000 files within 50 ms: no report
        scanner.addCounts(10, 1);
        clock.advance(40us);
    }
    EXPECT_EQ(recorder.reports.size(), 1u);
    clock.advance(40ms);  // 80 ms after the first report
    scanner.addCounts(10, 1);
    ASSERT_EQ(recorder.reports.size(), 2u);
    EXPECT_EQ(recorder.reports[1].currentPath, "/second");
    EXPECT_EQ(recorder.reports[1].filesScanned, 1001);

    scanner.publishFinalProgress();  // unthrottled
    ASSERT_EQ(recorder.reports.size(), 3u);
    EXPECT_EQ(recorder.reports[2].bytesScanned, 10010);
}

TEST(ScannerProgressTest, CountsEveryMillisecondReportEvery80msWithRateEveryHalfSecond) {
    ManualClock clock;
    std::vector<int64_t> reportedAt;
    std::vector<double> rates;
    ScannerOptions options;
    options.now = [&clock] { return clock(); };
    Scanner scanner(
        [&](const ScanProgress& p) {
            reportedAt.push_back(clock.nanos.load());
            rates.push_back(p.filesPerSecond);
        },
        options);
    const int64_t start = clock.nanos.load();
    clock.advance(1ms);
    for (int ms = 1; ms <= 2000; ++ms) {
        scanner.addCounts(1, 1 + ms / 100);  // a rising rate, so every computation shows
        clock.advance(1ms);
    }
    // Reports at 1, 81, 161, ... ms: 25 of them, exactly 80 ms apart.
    ASSERT_EQ(reportedAt.size(), 25u);
    for (size_t i = 0; i < reportedAt.size(); ++i) {
        EXPECT_EQ(reportedAt[i] - start, static_cast<int64_t>((1 + 80 * i) * 1'000'000));
    }
    // The rate is 0 until the first report at least 0.5 s after the start (561 ms), then changes
    // at the first report at least 0.5 s after the previous computation: every 7th report.
    std::vector<size_t> changes;
    for (size_t i = 1; i < rates.size(); ++i) {
        if (rates[i] != rates[i - 1]) {
            changes.push_back(i);
        }
    }
    EXPECT_EQ(rates[6], 0);
    EXPECT_EQ(changes, (std::vector<size_t>{7, 14, 21}));
    int64_t filesBy561 = 0;
    for (int ms = 1; ms <= 561; ++ms) {
        filesBy561 += 1 + ms / 100;
    }
    EXPECT_DOUBLE_EQ(rates[7], static_cast<double>(filesBy561) / 0.561);
}

TEST(ScannerProgressTest, WalkersReportTheirCountsDuringTheWalkAndTheLastReportIsExact) {
    ts::TempDir dir;
    for (int folder = 0; folder < 8; ++folder) {
        for (int file = 0; file < 40; ++file) {
            ts::makeFile(dir / ("d" + std::to_string(folder)) / ("f" + std::to_string(file)),
                         512 * (file % 5));
        }
    }
    for (int width : {1, 4, 8}) {
        // Every clock read moves 1 ms, so reports fall due many times during the walk.
        ManualClock clock;
        Recorder recorder;
        ScannerOptions options = withWidth(width);
        options.now = [&clock] {
            clock.advance(1ms);
            return clock();
        };
        Scanner scanner(recorder.handler(), options);
        auto root = scanner.scan(dir.path().string());
        ASSERT_EQ(root->fileCount(), 320);
        ASSERT_GE(recorder.reports.size(), 3u) << "width " << width;
        const ScanProgress& last = recorder.reports.back();
        EXPECT_EQ(last.filesScanned, root->fileCount()) << "width " << width;
        EXPECT_EQ(last.bytesScanned, root->size()) << "width " << width;
        int64_t mostDuringWalk = 0;
        for (size_t i = 0; i + 1 < recorder.reports.size(); ++i) {
            EXPECT_LE(recorder.reports[i].filesScanned, root->fileCount());
            mostDuringWalk = std::max(mostDuringWalk, recorder.reports[i].filesScanned);
        }
        EXPECT_GT(mostDuringWalk, 0) << "width " << width;
    }
}

TEST(ScannerProgressTest, LongFoldersNoteEvery500thChildExactly) {
    // The counter counts children that became nodes: in "skips" the 101 links make 1,100
    // entries but only 999 children, so there is no 1000th text.
    ts::TempDir dir;
    for (int i = 0; i < 1200; ++i) {
        ts::writeText(dir / "big" / ("f" + std::to_string(i)), "");
    }
    for (int i = 0; i < 999; ++i) {
        ts::writeText(dir / "skips" / ("f" + std::to_string(i)), "");
    }
    for (int i = 0; i < 101; ++i) {
        ts::makeSymlink("f0", dir / "skips" / ("link" + std::to_string(i)));
    }
    // Every clock read moves 100 ms, so every note is reported and visible.
    ManualClock clock;
    Recorder recorder;
    ScannerOptions options = withWidth(1);
    options.now = [&clock] {
        clock.advance(100ms);
        return clock();
    };
    Scanner scanner(recorder.handler(), options);
    scanner.scan(dir.path().string());
    auto textsOf = [&](const std::string& folder) {
        std::vector<std::string> texts;
        for (const auto& report : recorder.reports) {
            if (report.currentPath.rfind(folder + "/\u2026", 0) == 0 &&
                (texts.empty() || texts.back() != report.currentPath)) {
                texts.push_back(report.currentPath);
            }
        }
        return texts;
    };
    const std::string big = (dir / "big").string();
    const std::string skips = (dir / "skips").string();
    EXPECT_EQ(textsOf(big),
              (std::vector<std::string>{big + "/\u2026 (500)", big + "/\u2026 (1000)"}));
    EXPECT_EQ(textsOf(skips), (std::vector<std::string>{skips + "/\u2026 (500)"}));
}

TEST(ScannerProgressTest, StalledFolderKeepsWhatItHadAndIsMarked) {
    ts::TempDir dir;
    for (const char* name : {"a0", "a1", "a2", "m-slow", "z0", "z1"}) {
        ts::makeFile(dir / "a-stalls" / name, 100);
    }
    ts::makeFile(dir / "b-after" / "x", 100);
    ts::makeFile(dir / "b-after" / "y", 100);
    for (int width : {1, 2}) {
        auto reader = std::make_shared<ScriptedReader>();
        reader->slowEntry = "m-slow";
        reader->slowFor = 1200ms;
        ScannerOptions options = withWidth(width);
        options.reader = reader;
        options.stallThreshold = 300ms;
        options.watchdogTick = 10ms;
        auto root = scanWith(dir.path(), options);
        const FileNode* stalled = find(*root, (dir / "a-stalls").string());
        ASSERT_NE(stalled, nullptr);
        EXPECT_TRUE(stalled->inaccessible()) << "width " << width;
        std::set<std::string> kept;
        for (const auto& child : stalled->children()) {
            kept.insert(child->name());
        }
        const std::vector<std::string> upToTheStall = {"a0", "a1", "a2", "m-slow"};
        if (width == 1) {
            // One stat at a time: every entry counted before the stall stays, the slow one too.
            EXPECT_EQ(kept, std::set<std::string>(upToTheStall.begin(), upToTheStall.end()))
                << describe(*root);
        } else {
            // The stats of a batch end together, so the stall is noticed at some entry of the
            // slow one's batch: what stays is a leading part of the listing, never past it.
            size_t leading = 0;
            while (leading < upToTheStall.size() && kept.count(upToTheStall[leading]) != 0) {
                ++leading;
            }
            EXPECT_EQ(kept.size(), leading) << describe(*root);
        }
        const FileNode* after = find(*root, (dir / "b-after").string());
        ASSERT_NE(after, nullptr) << describe(*root);
        EXPECT_FALSE(after->inaccessible());
        EXPECT_EQ(after->fileCount(), 2);
        EXPECT_EQ(root->inaccessibleCount(), 1);
        expectConsistent(*root);
    }
}

TEST(ScannerProgressTest, StallInTheRootListingLeavesEveryFirstLevelFolderWhole) {
    // The stat of one root entry (a hung mount point, say) outlasts the stall threshold.
    ts::TempDir dir;
    ts::makeFile(dir / "0-slow", 100);
    ts::makeFile(dir / "z-top", 100);
    for (const char* folder : {"a", "b", "c"}) {
        for (const char* file : {"f1", "f2", "f3"}) {
            ts::makeFile(dir / folder / file, 100);
        }
    }
    for (int width : {1, 2, 4}) {
        auto reader = std::make_shared<ScriptedReader>();
        reader->slowEntry = "0-slow";
        reader->slowFor = 1200ms;
        ScannerOptions options = withWidth(width);
        options.reader = reader;
        options.stallThreshold = 300ms;
        options.watchdogTick = 10ms;
        auto root = scanWith(dir.path(), options);
        if (width == 1) {
            // Sequentially the root is an ordinary listing: it keeps what it had and is marked.
            EXPECT_TRUE(root->inaccessible());
            ASSERT_EQ(root->children().size(), 1u) << describe(*root);
            EXPECT_EQ(root->children()[0]->name(), "0-slow");
            continue;
        }
        EXPECT_EQ(root->inaccessibleCount(), 0) << "width " << width << "\n" << describe(*root);
        for (const char* folder : {"a", "b", "c"}) {
            const FileNode* node = find(*root, (dir / folder).string());
            ASSERT_NE(node, nullptr) << describe(*root);
            EXPECT_EQ(node->fileCount(), 3) << folder << " at width " << width;
        }
        EXPECT_EQ(root->fileCount(), 11);
        expectConsistent(*root);
    }
}

TEST(ScannerProgressTest, StallOpeningAFirstLevelFolderAbandonsOnlyThatFolder) {
    // Both walkers hang opening their first folder until the watchdog has fired; the opens then
    // fail. The folders they take next are whole.
    ts::TempDir dir;
    for (const char* folder : {"a-hangs", "b-hangs", "c", "d"}) {
        ts::makeFile(dir / folder / "f1", 100);
        ts::makeFile(dir / folder / "f2", 100);
    }
    auto reader = std::make_shared<ScriptedReader>();
    reader->failingOpens = {"a-hangs", "b-hangs"};
    reader->failOpenAfter = 1000ms;
    ScannerOptions options = withWidth(2);
    options.reader = reader;
    options.stallThreshold = 300ms;
    options.watchdogTick = 10ms;
    auto root = scanWith(dir.path(), options);
    EXPECT_EQ(root->inaccessibleCount(), 2) << describe(*root);
    for (const char* folder : {"c", "d"}) {
        const FileNode* node = find(*root, (dir / folder).string());
        ASSERT_NE(node, nullptr) << describe(*root);
        EXPECT_FALSE(node->inaccessible()) << describe(*root);
        EXPECT_EQ(node->fileCount(), 2) << describe(*root);
    }
    expectConsistent(*root);
}

TEST(ScannerProgressTest, CancelReturnsAPartialSortedUnmarkedTreeWithOneLastReport) {
    ts::TempDir dir;
    for (int folder = 0; folder < 6; ++folder) {
        for (int file = 0; file < 5; ++file) {
            ts::makeFile(dir / ("d" + std::to_string(folder)) / ("f" + std::to_string(file)),
                         4096 * (file + folder + 1));
        }
    }
    for (int width : {1, 4}) {
        auto reader = std::make_shared<ScriptedReader>();
        reader->heldFolder = "d3";
        Recorder recorder;
        ScannerOptions options = withWidth(width);
        options.reader = reader;
        Scanner scanner(recorder.handler(), options);
        auto pending = std::async(std::launch::async, [&] { return scanner.scan(dir.path()); });
        ASSERT_TRUE(reader->waitUntilHeld(10s));
        scanner.markCancelled();
        size_t reportsBefore;
        {
            std::lock_guard<std::mutex> guard(recorder.mutex);
            reportsBefore = recorder.reports.size();
        }
        const auto releasedAt = std::chrono::steady_clock::now();
        reader->release();
        ASSERT_EQ(pending.wait_for(5s), std::future_status::ready);
        EXPECT_LT(std::chrono::steady_clock::now() - releasedAt, 1s);
        auto root = pending.get();

        EXPECT_TRUE(scanner.isCancelled());
        EXPECT_EQ(recorder.reports.size(), reportsBefore + 1) << "width " << width;
        EXPECT_EQ(recorder.reports.back().filesScanned, root->fileCount());
        EXPECT_LT(root->fileCount(), 30);
        EXPECT_EQ(root->inaccessibleCount(), 0);
        const FileNode* held = find(*root, (dir / "d3").string());
        EXPECT_TRUE(held == nullptr || held->children().empty());
        expectConsistent(*root);
    }
}

}  // namespace
}  // namespace cb
