#include "app/disk/DirectoryReader.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <limits>

#include "app/disk/EntryStatter.h"
#include "app/disk/StatHelpers.h"

namespace cb {

namespace {

// The kernel's record layout for getdents64 (not exported by glibc headers).
struct LinuxDirent64 {
    uint64_t d_ino;
    int64_t d_off;
    unsigned short d_reclen;
    unsigned char d_type;
    char d_name[];
};

bool isDotOrDotDot(const char* name) {
    return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

}  // namespace

void DirectoryReader::Listing::add(const char* name, size_t length) {
    if (names_.size() + length + 1 > std::numeric_limits<uint32_t>::max()) {
        return;  // a folder this large cannot be listed anyway; keep what fits
    }
    offsets_.push_back(static_cast<uint32_t>(names_.size()));
    names_.insert(names_.end(), name, name + length);
    names_.push_back('\0');
}

char* DirectoryReader::Listing::scratch() {
    if (!scratch_) {
        scratch_ = std::make_unique_for_overwrite<char[]>(kScratchSize);
    }
    return scratch_.get();
}

void DirectoryReader::Listing::clear() {
    names_.clear();
    offsets_.clear();
}

int DirectoryReader::openDirectory(int parentFd, const char* name, bool followLink) {
    int flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
    if (!followLink) {
        flags |= O_NOFOLLOW;
    }
    int fd;
    do {
        fd = ::openat(parentFd, name, flags);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

bool DirectoryReader::readEntries(int fd, Listing& out) {
    out.clear();
    char* buffer = out.scratch();
    for (;;) {
        const long n = ::syscall(SYS_getdents64, fd, buffer, Listing::kScratchSize);
        if (n == 0) {
            return true;
        }
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        for (long offset = 0; offset < n;) {
            const auto* entry = reinterpret_cast<const LinuxDirent64*>(buffer + offset);
            if (!isDotOrDotDot(entry->d_name)) {
                out.add(entry->d_name, std::strlen(entry->d_name));
            }
            offset += entry->d_reclen;
        }
    }
}

int DirectoryReader::statEntry(int dirFd, const char* name, struct stat& st) {
    return ::fstatat(dirFd, name, &st, AT_SYMLINK_NOFOLLOW);
}

void DirectoryReader::closeDirectory(int fd) {
    ::close(fd);
}

std::unique_ptr<EntryStatter> DirectoryReader::makeStatter(StatHelpers* helpers, size_t slot) {
    if (helpers != nullptr) {
        return helpers->makeStatter(slot);
    }
    return std::make_unique<PerEntryStatter>(*this);
}

std::shared_ptr<DirectoryReader> DirectoryReader::system() {
    static const std::shared_ptr<DirectoryReader> instance = std::make_shared<DirectoryReader>();
    return instance;
}

}  // namespace cb
