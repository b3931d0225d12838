#include "sdk/measurement/storage/APMImmutableFlag.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <optional>

#include "sdk/measurement/engine/APMExcludeFromBackup.h"

namespace {

// An open descriptor for the flag calls; O_NONBLOCK so that a FIFO at the path cannot block.
class FlagDescriptor {
  public:
    explicit FlagDescriptor(const std::string& path)
        : fd_(open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY)) {}
    ~FlagDescriptor() {
        if (fd_ >= 0) {
            close(fd_);
        }
    }
    FlagDescriptor(const FlagDescriptor&) = delete;
    FlagDescriptor& operator=(const FlagDescriptor&) = delete;

    int get() const { return fd_; }

    // The file's flags; no value when they cannot be read (errno tells why).
    std::optional<int> flags() const {
        int flags = 0;
        if (fd_ < 0 || ioctl(fd_, FS_IOC_GETFLAGS, &flags) != 0) {
            return std::nullopt;
        }
        return flags;
    }

  private:
    int fd_;
};

}  // namespace

bool APMFileIsImmutable(const std::string& path) {
    const std::optional<int> flags = FlagDescriptor(path).flags();
    return flags && (*flags & FS_IMMUTABLE_FL) != 0;
}

bool APMClearImmutableFlag(const std::string& path, sdk::Error* error) {
    const FlagDescriptor descriptor(path);
    std::optional<int> flags = descriptor.flags();
    if (!flags || (*flags & FS_IMMUTABLE_FL) == 0) {
        return true;  // no flags here, or nothing to clear
    }
    int cleared = *flags & ~FS_IMMUTABLE_FL;
    if (ioctl(descriptor.get(), FS_IOC_SETFLAGS, &cleared) != 0) {
        if (error != nullptr) {
            *error = APMPOSIXError(errno, "Cannot clear the immutable flag of", path);
        }
        return false;
    }
    return true;
}
