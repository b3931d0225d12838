#include "sdk/core/heartbeat/FileStorage.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <system_error>

namespace heartbeat {

namespace {

// Closes a descriptor on every path out.
class FileDescriptor {
  public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return fd_; }
    // Closes now and reports whether the close succeeded.
    bool close() { return ::close(std::exchange(fd_, -1)) == 0; }

  private:
    int fd_;
};

bool writeAll(int fd, const sdk::Bytes& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

bool ensureFolder(const std::filesystem::path& folder) {
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    // A folder that is already there is success (create_directories may still report EEXIST
    // when another writer made it at the same moment).
    return !ec || std::filesystem::is_directory(folder, ec);
}

}  // namespace

std::optional<StorageError> FileStorage::read(sdk::Bytes* out) {
    // Non-blocking open so a named pipe in the file's place cannot stall the store's queue.
    FileDescriptor fd(::open(url_.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    struct stat info {};
    if (fd.get() < 0 || ::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode) ||
        static_cast<std::size_t>(info.st_size) > kMaxFileSize) {
        return StorageError::readError;
    }
    sdk::Bytes bytes;
    std::uint8_t chunk[16384];
    for (;;) {
        const ssize_t n = ::read(fd.get(), chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 || bytes.size() + static_cast<std::size_t>(n) > kMaxFileSize) {
            return StorageError::readError;
        }
        if (n == 0) {
            break;
        }
        bytes.insert(bytes.end(), chunk, chunk + n);
    }
    *out = std::move(bytes);
    return std::nullopt;
}

std::optional<StorageError> FileStorage::write(const std::optional<sdk::Bytes>& data) {
    const auto folder = url_.parent_path();
    if (!ensureFolder(folder)) {
        return StorageError::writeError;
    }
    std::string temporary = (folder / ("." + url_.filename().string() + ".XXXXXX")).string();
    FileDescriptor fd(::mkostemp(temporary.data(), O_CLOEXEC));
    if (fd.get() < 0) {
        return StorageError::writeError;
    }
    const bool written = writeAll(fd.get(), data.value_or(sdk::Bytes{})) &&
                         ::fsync(fd.get()) == 0 && fd.close() &&
                         ::rename(temporary.c_str(), url_.c_str()) == 0;
    if (!written) {
        ::unlink(temporary.c_str());
        return StorageError::writeError;
    }
    return std::nullopt;
}

}  // namespace heartbeat
