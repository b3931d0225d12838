#include "app/uninstaller/AllocatedSize.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <deque>

#include "app/disk/DirectoryReader.h"
#include "app/disk/FileAllocationTracker.h"

namespace cb {

namespace {

constexpr size_t kMaxDepth = 256;

int64_t saturatingAdd(int64_t a, int64_t b) {
    int64_t sum = 0;
    return __builtin_add_overflow(a, b, &sum) ? INT64_MAX : sum;
}

// One measurement: the tracker, and a listing buffer per folder level, reused across folders.
class SizeWalk {
  public:
    explicit SizeWalk(const std::atomic<bool>* stop) : stop_(stop) {}

    int64_t measure(const std::filesystem::path& path) {
        struct stat st {};
        if (lstatPath(path.c_str(), st) != 0 || S_ISLNK(st.st_mode)) {
            return 0;
        }
        if (!S_ISDIR(st.st_mode)) {
            return tracker_.fileSize(st);
        }
        if (!tracker_.shouldDescend(st)) {
            return 0;
        }
        const int fd = reader_.openDirectory(AT_FDCWD, path.c_str(), false);
        if (fd >= 0) {
            walkFolder(fd, 0);
            reader_.closeDirectory(fd);
        }
        return total_;
    }

  private:
    bool stopped() const { return stop_ != nullptr && stop_->load(std::memory_order_relaxed); }

    // Counts the entries of the open folder `fd`, which lies `depth` levels below the root.
    void walkFolder(int fd, size_t depth) {
        if (listings_.size() <= depth) {
            listings_.resize(depth + 1);
        }
        DirectoryReader::Listing& listing = listings_[depth];
        // A folder that fails part way still counts the entries read before the failure.
        reader_.readEntries(fd, listing);
        for (size_t i = 0; i < listing.size() && !stopped(); ++i) {
            struct stat st {};
            if (reader_.statEntry(fd, listing.name(i), st) != 0 || S_ISLNK(st.st_mode)) {
                continue;
            }
            if (!S_ISDIR(st.st_mode)) {
                total_ = saturatingAdd(total_, tracker_.fileSize(st));
                continue;
            }
            if (depth + 1 > kMaxDepth || !tracker_.shouldDescend(st)) {
                continue;
            }
            const int child = reader_.openDirectory(fd, listing.name(i), false);
            if (child >= 0) {
                walkFolder(child, depth + 1);
                reader_.closeDirectory(child);
            }
        }
    }

    const std::atomic<bool>* stop_;
    FileAllocationTracker tracker_;
    DirectoryReader reader_;                         // the plain system calls
    std::deque<DirectoryReader::Listing> listings_;  // a deque: growing keeps references valid
    int64_t total_ = 0;
};

}  // namespace

int64_t allocatedSize(const std::filesystem::path& path, const std::atomic<bool>* stop) {
    return SizeWalk(stop).measure(path);
}

int64_t measureBundleSize(const std::filesystem::path& bundle, const std::atomic<bool>* stop) {
    return allocatedSize(bundle, stop);
}

}  // namespace cb
