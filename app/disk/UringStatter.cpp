#include "app/disk/UringStatter.h"

#include <fcntl.h>
#include <sched.h>
#include <sys/sysmacros.h>

#include <array>
#include <cerrno>
#include <thread>

namespace cb {

namespace {

constexpr unsigned kStatMask = STATX_BASIC_STATS;
// As fstatat(AT_SYMLINK_NOFOLLOW) behaves: fstatat never triggers an automount, statx does
// unless told not to, and a walk through a folder of automount points must not mount them all.
constexpr int kStatFlags = AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT;

// The lstat facts as fstatat would give them.
void toStat(const struct statx& sx, struct stat& st) {
    st = {};
    st.st_dev = makedev(sx.stx_dev_major, sx.stx_dev_minor);
    st.st_ino = sx.stx_ino;
    st.st_mode = sx.stx_mode;
    st.st_nlink = sx.stx_nlink;
    st.st_uid = sx.stx_uid;
    st.st_gid = sx.stx_gid;
    st.st_rdev = makedev(sx.stx_rdev_major, sx.stx_rdev_minor);
    st.st_size = static_cast<off_t>(sx.stx_size);
    st.st_blksize = static_cast<blksize_t>(sx.stx_blksize);
    st.st_blocks = static_cast<blkcnt_t>(sx.stx_blocks);
    st.st_atim = {sx.stx_atime.tv_sec, sx.stx_atime.tv_nsec};
    st.st_mtim = {sx.stx_mtime.tv_sec, sx.stx_mtime.tv_nsec};
    st.st_ctim = {sx.stx_ctime.tv_sec, sx.stx_ctime.tv_nsec};
}

// Completion-driven task work where the kernel has it (6.1 and later), else the plain ring.
bool initRing(io_uring& ring) {
    io_uring_params params{};
    params.flags = IORING_SETUP_SINGLE_ISSUER | IORING_SETUP_DEFER_TASKRUN;
    if (io_uring_queue_init_params(UringStatter::kBatch, &ring, &params) == 0) {
        return true;
    }
    params = {};
    return io_uring_queue_init_params(UringStatter::kBatch, &ring, &params) == 0;
}

}  // namespace

std::unique_ptr<UringStatter> UringStatter::create(std::optional<int> cpu) {
    std::unique_ptr<UringStatter> statter(new UringStatter());
    if (!initRing(statter->ring_)) {
        return nullptr;
    }
    // One kernel worker per ring (bounded and unbounded work): the walker's stats stay serial.
    unsigned maxWorkers[2] = {1, 1};
    io_uring_register_iowq_max_workers(&statter->ring_, maxWorkers);
    if (cpu && *cpu >= 0 && *cpu < CPU_SETSIZE) {
        cpu_set_t set;
        CPU_ZERO(&set);
        CPU_SET(*cpu, &set);
        io_uring_register_iowq_aff(&statter->ring_, sizeof set, &set);
    }
    return statter;
}

bool UringStatter::isAvailable() {
    // The kernel's workers belong to the thread that first uses a ring, with that ring's
    // settings; the probe runs on a thread of its own so no caller's thread keeps them.
    static const bool available = [] {
        bool works = false;
        std::thread([&works] {
            auto statter = create(std::nullopt);
            if (!statter) {
                return;
            }
            DirectoryReader::Listing listing;
            listing.add("/", 1);
            EntryFacts facts;
            works = statter->statBatch(AT_FDCWD, listing, 0, 1, &facts) && facts.error == 0 &&
                    S_ISDIR(facts.st.st_mode);
        }).join();
        return works;
    }();
    return available;
}

UringStatter::~UringStatter() {
    io_uring_queue_exit(&ring_);
}

void UringStatter::statEntries(int dirFd, const DirectoryReader::Listing& listing, size_t first,
                               size_t count, EntryFacts* out) {
    while (count > 0) {
        const size_t n = count < kBatch ? count : kBatch;
        if (broken_ || !results_ || !statBatch(dirFd, listing, first, n, out)) {
            broken_ = true;
            fallback_.statEntries(dirFd, listing, first, n, out);
        }
        first += n;
        count -= n;
        out += n;
    }
}

bool UringStatter::statBatch(int dirFd, const DirectoryReader::Listing& listing, size_t first,
                             size_t count, EntryFacts* out) {
    for (size_t i = 0; i < count; ++i) {
        io_uring_sqe* sqe = io_uring_get_sqe(&ring_);
        if (sqe == nullptr) {
            return false;  // cannot happen with an empty ring of kBatch entries
        }
        io_uring_prep_statx(sqe, dirFd, listing.name(first + i), kStatFlags, kStatMask,
                            &results_[i]);
        lastStatxFlags_ = static_cast<int>(sqe->statx_flags);
        io_uring_sqe_set_data64(sqe, i);
    }
    // The kernel copies each name when it takes the request, so only results_ must outlive the
    // requests; every submitted request is waited for before returning.
    size_t pending = 0;
    while (io_uring_sq_ready(&ring_) > 0) {
        const int submitted = io_uring_submit(&ring_);
        if (submitted == -EINTR) {
            continue;
        }
        if (submitted <= 0) {
            broken_ = true;  // a ring that takes nothing would be retried forever
            break;
        }
        pending += static_cast<size_t>(submitted);
    }
    bool complete = !broken_;
    std::array<bool, kBatch> done{};
    while (pending > 0) {
        io_uring_cqe* cqe = nullptr;
        const int waited = io_uring_wait_cqe(&ring_, &cqe);
        if (waited == -EINTR) {
            continue;
        }
        if (waited < 0) {
            (void)results_.release();  // see results_
            return false;
        }
        const uint64_t index = io_uring_cqe_get_data64(cqe);
        if (index < count) {
            done[index] = true;
            out[index].error = cqe->res < 0 ? -cqe->res : 0;
            if (cqe->res >= 0) {
                toStat(results_[index], out[index].st);
            }
        }
        io_uring_cqe_seen(&ring_, cqe);
        --pending;
    }
    for (size_t i = 0; i < count && complete; ++i) {
        complete = done[i];
    }
    return complete;
}

}  // namespace cb
