#pragma once

#include <cerrno>
#include <filesystem>
#include <string>
#include <system_error>

#include "platform/preferences/PreferencesFileSystem.h"

namespace platform {

// Fails one named write step of the real file system with EIO: "lockFolder",
// "createTemporary", "writeAll" (after half the bytes reached the file), "sync", "close" (after
// really closing) or "rename".
class FailingFileSystem : public PreferencesFileSystemWrapper {
  public:
    explicit FailingFileSystem(std::string step)
        : PreferencesFileSystemWrapper(systemFileSystem()), step_(std::move(step)) {}

    std::error_code lockFolder(const std::filesystem::path& folder, int* fd) override {
        return step_ == "lockFolder" ? injected()
                                     : PreferencesFileSystemWrapper::lockFolder(folder, fd);
    }
    std::error_code createTemporary(const std::filesystem::path& target, int* fd,
                                    std::filesystem::path* path) override {
        if (step_ == "createTemporary") {
            return injected();
        }
        return PreferencesFileSystemWrapper::createTemporary(target, fd, path);
    }
    std::error_code writeAll(int fd, const std::string& bytes) override {
        if (step_ == "writeAll") {
            // A short write: half the bytes reach the temporary file before the failure.
            (void)PreferencesFileSystemWrapper::writeAll(fd, bytes.substr(0, bytes.size() / 2));
            return injected();
        }
        return PreferencesFileSystemWrapper::writeAll(fd, bytes);
    }
    std::error_code sync(int fd) override {
        return step_ == "sync" ? injected() : PreferencesFileSystemWrapper::sync(fd);
    }
    std::error_code close(int fd) override {
        std::error_code closed = PreferencesFileSystemWrapper::close(fd);
        return step_ == "close" ? injected() : closed;
    }
    std::error_code rename(const std::filesystem::path& from,
                           const std::filesystem::path& to) override {
        return step_ == "rename" ? injected() : PreferencesFileSystemWrapper::rename(from, to);
    }

    static std::error_code injected() { return std::error_code(EIO, std::generic_category()); }

  private:
    std::string step_;
};

}  // namespace platform
