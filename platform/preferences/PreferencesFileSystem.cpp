#include "platform/preferences/PreferencesFileSystem.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

namespace platform {

namespace fs = std::filesystem;

namespace {

std::error_code lastError() {
    return std::error_code(errno, std::generic_category());
}

class SystemFileSystem final : public PreferencesFileSystem {
  public:
    std::error_code readFile(const fs::path& path, size_t maxSize, std::string* bytes) override {
        // Non-blocking, so a FIFO in the file's place cannot hang the reader; only a regular
        // file is read (a folder or device in its place is not ours).
        int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
        if (fd < 0) {
            return lastError();
        }
        struct stat info {};
        int failure = ::fstat(fd, &info) != 0 ? errno : 0;
        if (failure == 0 && !S_ISREG(info.st_mode)) {
            failure = EINVAL;
        }
        if (failure != 0) {
            ::close(fd);
            return std::error_code(failure, std::generic_category());
        }
        std::error_code error = readOpenFile(fd, maxSize, bytes);
        ::close(fd);
        return error;
    }

    std::error_code statFile(const fs::path& path, struct stat* info) override {
        return ::stat(path.c_str(), info) == 0 ? std::error_code() : lastError();
    }

    std::error_code createFolder(const fs::path& folder) override {
        std::error_code error;
        if (fs::create_directories(folder, error)) {
            fs::permissions(folder, fs::perms::owner_all, error);
        }
        return error;
    }

    std::error_code createTemporary(const fs::path& target, int* fd, fs::path* path) override {
        std::string name = (target.parent_path() / ("." + target.filename().string() + ".XXXXXX"));
        *fd = ::mkstemp(name.data());  // mode 0600
        if (*fd < 0) {
            return lastError();
        }
        ::fcntl(*fd, F_SETFD, FD_CLOEXEC);
        *path = name;
        return {};
    }

    std::error_code writeAll(int fd, const std::string& bytes) override {
        size_t written = 0;
        while (written < bytes.size()) {
            ssize_t n = ::write(fd, bytes.data() + written, bytes.size() - written);
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n < 0) {
                return lastError();
            }
            written += static_cast<size_t>(n);
        }
        return {};
    }

    std::error_code sync(int fd) override {
        return ::fsync(fd) == 0 ? std::error_code() : lastError();
    }

    std::error_code close(int fd) override {
        return ::close(fd) == 0 ? std::error_code() : lastError();
    }

    std::error_code rename(const fs::path& from, const fs::path& to) override {
        return ::rename(from.c_str(), to.c_str()) == 0 ? std::error_code() : lastError();
    }

    std::error_code removeFile(const fs::path& path) override {
        return ::unlink(path.c_str()) == 0 ? std::error_code() : lastError();
    }

    std::error_code syncFolder(const fs::path& folder) override {
        int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0) {
            return lastError();
        }
        std::error_code error = sync(fd);
        ::close(fd);
        return error;
    }

    std::error_code lockFolder(const fs::path& folder, int* fd) override {
        *fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (*fd < 0) {
            return lastError();
        }
        while (::flock(*fd, LOCK_EX) != 0) {
            if (errno != EINTR) {
                std::error_code error = lastError();
                ::close(*fd);
                *fd = -1;
                return error;
            }
        }
        return {};
    }

    void unlockFolder(int fd) override {
        if (fd >= 0) {
            ::close(fd);  // closing releases the lock
        }
    }

  private:
    static std::error_code readOpenFile(int fd, size_t maxSize, std::string* bytes) {
        bytes->clear();
        char buffer[16384];
        for (;;) {
            ssize_t n = ::read(fd, buffer, sizeof buffer);
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n < 0) {
                return lastError();
            }
            if (n == 0) {
                return {};
            }
            if (bytes->size() + static_cast<size_t>(n) > maxSize) {
                return std::error_code(EFBIG, std::generic_category());
            }
            bytes->append(buffer, static_cast<size_t>(n));
        }
    }
};

}  // namespace

PreferencesFileSystem& systemFileSystem() {
    static SystemFileSystem& instance = *new SystemFileSystem();  // lives for the process
    return instance;
}

std::error_code writeFileAtomically(PreferencesFileSystem& fileSystem, const fs::path& target,
                                    const std::string& bytes) {
    int fd = -1;
    fs::path temporary;
    if (std::error_code error = fileSystem.createTemporary(target, &fd, &temporary)) {
        return error;
    }
    std::error_code error = fileSystem.writeAll(fd, bytes);
    if (!error) {
        error = fileSystem.sync(fd);
    }
    std::error_code closeError = fileSystem.close(fd);
    if (!error) {
        error = closeError;
    }
    if (!error) {
        error = fileSystem.rename(temporary, target);
    }
    if (error) {
        (void)fileSystem.removeFile(temporary);
        return error;
    }
    (void)fileSystem.syncFolder(target.parent_path());
    return {};
}

std::optional<std::string> temporaryFileTarget(std::string_view name) {
    constexpr size_t kSuffix = 6;  // mkstemp's XXXXXX
    if (name.size() < 1 + 1 + 1 + kSuffix || name.front() != '.' ||
        name[name.size() - kSuffix - 1] != '.') {
        return std::nullopt;
    }
    for (char c : name.substr(name.size() - kSuffix)) {
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))) {
            return std::nullopt;
        }
    }
    return std::string(name.substr(1, name.size() - kSuffix - 2));
}

size_t removeStaleTemporaryFiles(PreferencesFileSystem& fileSystem, const fs::path& folder,
                                 const std::function<bool(std::string_view)>& isTarget) {
    std::vector<fs::path> stale;
    std::error_code error;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        const std::string name = it->path().filename().string();
        const std::optional<std::string> target = temporaryFileTarget(name);
        std::error_code typeError;
        if (target && isTarget(*target) &&
            it->symlink_status(typeError).type() == fs::file_type::regular) {
            stale.push_back(it->path());
        }
    }
    size_t removed = 0;
    for (const fs::path& path : stale) {
        if (!fileSystem.removeFile(path)) {
            ++removed;
        }
    }
    return removed;
}

}  // namespace platform
