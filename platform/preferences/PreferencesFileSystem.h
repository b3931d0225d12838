#pragma once

#include <sys/stat.h>

#include <cstddef>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>

namespace platform {

// The file calls the preferences store makes, so tests can fail any one of them. The real
// implementation is systemFileSystem(); a test double derives from PreferencesFileSystemWrapper
// and overrides the single call it wants to break. Every call returns an error code rather than
// throwing, and is safe from any thread.
class PreferencesFileSystem {
  public:
    virtual ~PreferencesFileSystem() = default;

    // Reads the whole file at `path` into `*bytes`. ENOENT when it does not exist; EFBIG when it
    // is larger than `maxSize`; EINVAL, without waiting, when it is not a regular file (a FIFO,
    // a folder, a device).
    virtual std::error_code readFile(const std::filesystem::path& path, size_t maxSize,
                                     std::string* bytes) = 0;

    // stat(2) of `path`.
    virtual std::error_code statFile(const std::filesystem::path& path, struct stat* info) = 0;

    // Creates `folder` and its parents (mode 0700 for new folders).
    virtual std::error_code createFolder(const std::filesystem::path& folder) = 0;

    // Creates a new, empty, private (0600) temporary file next to `target`; returns its open
    // descriptor in `*fd` and its path in `*path`.
    virtual std::error_code createTemporary(const std::filesystem::path& target, int* fd,
                                            std::filesystem::path* path) = 0;

    // Writes all of `bytes` to `fd`.
    virtual std::error_code writeAll(int fd, const std::string& bytes) = 0;

    // fsync(2) of `fd`.
    virtual std::error_code sync(int fd) = 0;

    // close(2) of `fd`.
    virtual std::error_code close(int fd) = 0;

    // rename(2), replacing `to` atomically.
    virtual std::error_code rename(const std::filesystem::path& from,
                                   const std::filesystem::path& to) = 0;

    // Removes `path`; used to drop a temporary file after a failed write.
    virtual std::error_code removeFile(const std::filesystem::path& path) = 0;

    // fsync(2) of the folder, so a rename in it survives a crash.
    virtual std::error_code syncFolder(const std::filesystem::path& folder) = 0;

    // Takes an exclusive lock that other processes honour, held until unlockFolder(fd).
    virtual std::error_code lockFolder(const std::filesystem::path& folder, int* fd) = 0;
    virtual void unlockFolder(int fd) = 0;
};

// Forwards every call to another file system; derive from it to override one call.
class PreferencesFileSystemWrapper : public PreferencesFileSystem {
  public:
    explicit PreferencesFileSystemWrapper(PreferencesFileSystem& target) : target_(target) {}

    std::error_code readFile(const std::filesystem::path& path, size_t maxSize,
                             std::string* bytes) override {
        return target_.readFile(path, maxSize, bytes);
    }
    std::error_code statFile(const std::filesystem::path& path, struct stat* info) override {
        return target_.statFile(path, info);
    }
    std::error_code createFolder(const std::filesystem::path& folder) override {
        return target_.createFolder(folder);
    }
    std::error_code createTemporary(const std::filesystem::path& target, int* fd,
                                    std::filesystem::path* path) override {
        return target_.createTemporary(target, fd, path);
    }
    std::error_code writeAll(int fd, const std::string& bytes) override {
        return target_.writeAll(fd, bytes);
    }
    std::error_code sync(int fd) override { return target_.sync(fd); }
    std::error_code close(int fd) override { return target_.close(fd); }
    std::error_code rename(const std::filesystem::path& from,
                           const std::filesystem::path& to) override {
        return target_.rename(from, to);
    }
    std::error_code removeFile(const std::filesystem::path& path) override {
        return target_.removeFile(path);
    }
    std::error_code syncFolder(const std::filesystem::path& folder) override {
        return target_.syncFolder(folder);
    }
    std::error_code lockFolder(const std::filesystem::path& folder, int* fd) override {
        return target_.lockFolder(folder, fd);
    }
    void unlockFolder(int fd) override { target_.unlockFolder(fd); }

  private:
    PreferencesFileSystem& target_;
};

// The real file system; one process-wide instance.
PreferencesFileSystem& systemFileSystem();

// Replaces the file at `target` with `bytes` so that a reader (or a crash) sees either the old
// file or the whole new one: a private temporary file beside it, written, synced, closed and
// renamed over it, then the folder synced. On any failure the temporary file is removed and
// `target` is untouched. A failed folder sync is not an error: the new file is already in place
// and only its crash safety is weaker. REQUIRES: the caller holds the folder's lock
// (lockFolder), as removeStaleTemporaryFiles() relies on.
std::error_code writeFileAtomically(PreferencesFileSystem& fileSystem,
                                    const std::filesystem::path& target, const std::string& bytes);

// The name of the file a temporary file made by createTemporary() stands for: "X" for
// ".X.ab12CD" (a dot, X, a dot and six letters or digits); nullopt for any other name.
std::optional<std::string> temporaryFileTarget(std::string_view name);

// Removes the temporary files in `folder` whose target name `isTarget` accepts: what a writer
// killed between creating its temporary file and renaming it over the target left behind.
// The caller holds the folder's lock (lockFolder) and so does every writer of those targets,
// so no live write owns one of them. Returns how many were removed; a missing folder has none.
size_t removeStaleTemporaryFiles(PreferencesFileSystem& fileSystem,
                                 const std::filesystem::path& folder,
                                 const std::function<bool(std::string_view)>& isTarget);

}  // namespace platform
