#include "tests/support/Fixtures.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <system_error>
#include <vector>

namespace cb::testsupport {

namespace fs = std::filesystem;

namespace {

[[noreturn]] void fail(const std::string& what, const fs::path& path) {
    throw std::runtime_error(what + " " + path.string() + ": " + std::strerror(errno));
}

void makeParents(const fs::path& path) {
    std::error_code ec;
    if (path.has_parent_path()) {
        fs::create_directories(path.parent_path(), ec);
        if (ec) {
            throw std::runtime_error("create_directories " + path.parent_path().string() + ": " +
                                     ec.message());
        }
    }
}

void writeAll(int fd, const fs::path& path, int64_t bytes) {
    std::vector<char> block(64 * 1024);
    for (size_t i = 0; i < block.size(); ++i) {
        block[i] = static_cast<char>('a' + i % 26);
    }
    while (bytes > 0) {
        const size_t chunk = static_cast<size_t>(std::min<int64_t>(bytes, block.size()));
        const ssize_t written = ::write(fd, block.data(), chunk);
        if (written <= 0) {
            ::close(fd);
            fail("write", path);
        }
        bytes -= written;
    }
}

}  // namespace

void makeDir(const fs::path& path, mode_t mode) {
    makeParents(path);
    if (::mkdir(path.c_str(), mode) != 0 && errno != EEXIST) {
        fail("mkdir", path);
    }
    ::chmod(path.c_str(), mode);
}

int64_t makeFile(const fs::path& path, int64_t bytes) {
    return makeSparseFile(path, bytes, bytes);
}

int64_t makeSparseFile(const fs::path& path, int64_t logicalBytes, int64_t dataBytes) {
    makeParents(path);
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        fail("open", path);
    }
    writeAll(fd, path, dataBytes);
    if (::ftruncate(fd, logicalBytes) != 0) {
        ::close(fd);
        fail("ftruncate", path);
    }
    // Flush so st_blocks reports the final allocation on every file system.
    ::fsync(fd);
    ::close(fd);
    return allocatedSize(path);
}

void makeHardLink(const fs::path& target, const fs::path& link) {
    makeParents(link);
    if (::link(target.c_str(), link.c_str()) != 0) {
        fail("link", link);
    }
}

void makeSymlink(const fs::path& target, const fs::path& link) {
    makeParents(link);
    if (::symlink(target.c_str(), link.c_str()) != 0) {
        fail("symlink", link);
    }
}

void makeSymlinkLoop(const fs::path& a, const fs::path& b) {
    makeSymlink(b, a);
    makeSymlink(a, b);
}

void makeFifo(const fs::path& path) {
    makeParents(path);
    if (::mkfifo(path.c_str(), 0644) != 0) {
        fail("mkfifo", path);
    }
}

void makeUnreadableDir(const fs::path& path) {
    makeDir(path, 0);
}

void writeText(const fs::path& path, const std::string& text) {
    makeParents(path);
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        fail("open", path);
    }
    if (::write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size())) {
        ::close(fd);
        fail("write", path);
    }
    ::close(fd);
}

int64_t allocatedSize(const fs::path& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) {
        return -1;
    }
    return static_cast<int64_t>(st.st_blocks) * 512;
}

}  // namespace cb::testsupport
