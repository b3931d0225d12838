#pragma once

#include <sys/stat.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "platform/preferences/PlistValue.h"
#include "platform/preferences/PreferencesFileSystem.h"

namespace platform {

// The user's preferences of one suite: a dictionary of property-list values kept in
// "<folder>/<suite>.plist" (binary when we write it; XML is read as well).
//
// Design notes:
// 1. Every read first checks the file's identity (device, inode, size, modification time) and
//    reloads it when it changed, so a value another process wrote is seen on the next read.
// 2. Every write holds the store's mutex and an exclusive lock on the folder (shared with other
//    processes), re-reads the file, changes one key, and replaces the file atomically
//    (temporary file, write, fsync, rename, fsync of the folder). The other keys are kept.
// 3. A failed write leaves the previous file and the cached values as they were.
// 4. A file whose contents are refused (not a property list, not a dictionary, nested or
//    expanding past the reader's bounds, larger than kMaxFileSize) is set aside under the
//    folder lock: renamed to "<suite>.plist.damaged" (or ".damaged-2", ... never replacing one
//    set aside before), reported on stderr, and the suite starts empty. Nothing is deleted.
//    When it cannot be renamed it reads as empty, is reported once, and writes fail with the
//    rename's error rather than replace it. A file that cannot be read at all (permissions,
//    I/O, not a regular file) reads as empty, is reported once and is left where it is.
// 5. Opening a suite (the first store of its file in this process) removes the temporary files
//    a writer killed between writing and renaming left beside the file.
//
// All members are safe to call from any thread.
class PreferencesStore {
  public:
    // Files larger than this are treated as damaged.
    static constexpr size_t kMaxFileSize = 16u << 20;

    // Returns "$XDG_CONFIG_HOME/cellarbright" when XDG_CONFIG_HOME is an absolute path, else
    // "$HOME/.config/cellarbright". Read on every call, so tests can point it elsewhere.
    static std::filesystem::path defaultFolder();

    // True when `name` can name a suite file: not empty, at most 255 bytes with ".plist", not
    // "." or "..", and without "/" or NUL.
    static bool isValidSuiteName(std::string_view name);

    // Returns the store of suite `name` in defaultFolder(): one store per file in this process
    // while anyone holds it. Returns nullptr when the name is not valid.
    static std::shared_ptr<PreferencesStore> suite(std::string_view name);

    // The same in `folder`, doing its file work through `fileSystem`, which must outlive the
    // store. A store already open for the same file is returned as it is.
    static std::shared_ptr<PreferencesStore> suite(std::string_view name,
                                                   const std::filesystem::path& folder,
                                                   PreferencesFileSystem& fileSystem);

    // Returns the value of `key`, or nullopt when the suite has none.
    std::optional<PlistValue> get(std::string_view key);

    // Stores `value` under `key`. Returns the error of the failed step; the file is then as it
    // was before the call.
    [[nodiscard]] std::error_code set(std::string_view key, PlistValue value);

    // Removes `key`. Removing an absent key writes nothing and succeeds.
    [[nodiscard]] std::error_code remove(std::string_view key);

    // Removes every key in one write. An empty suite writes nothing and succeeds.
    [[nodiscard]] std::error_code removeAll();

    // Returns every key of the suite, sorted.
    std::vector<std::string> allKeys();

    // The suite's file.
    const std::filesystem::path& path() const { return path_; }

    PreferencesStore(std::filesystem::path path, PreferencesFileSystem& fileSystem);
    PreferencesStore(const PreferencesStore&) = delete;
    PreferencesStore& operator=(const PreferencesStore&) = delete;

  private:
    struct FileIdentity {
        bool exists = false;
        dev_t device = 0;
        ino_t inode = 0;
        off_t size = 0;
        timespec modified{};
        bool operator==(const FileIdentity& other) const;
    };

    // Removes the temporary files of this suite that a writer killed mid-write left behind;
    // under the folder lock, which every writer holds.
    void removeStaleTemporaryFiles();
    FileIdentity identify();
    // Reloads values_ when the file changed (or always, with `force`). `folderLocked` tells
    // whether the caller holds the folder lock. Returns the error of a failed set-aside.
    std::error_code refreshLocked(bool force, bool folderLocked);
    // Renames the damaged file `identity` describes to a free set-aside name, returned in
    // `*aside` (left empty, with success, when another process replaced the file meanwhile).
    std::error_code setAsideLocked(const FileIdentity& identity, bool folderLocked,
                                   std::filesystem::path* aside);
    std::error_code change(std::string_view key, std::optional<PlistValue> value);
    // Re-reads the file, lets `edit` change the values, and writes them when it returns true.
    std::error_code update(const std::function<bool(PlistDictionary&)>& edit);
    std::error_code writeLocked(const PlistDictionary& values);

    const std::filesystem::path path_;
    PreferencesFileSystem& fileSystem_;

    std::mutex mutex_;
    PlistDictionary values_;                // guarded by mutex_
    FileIdentity loaded_;                   // guarded by mutex_; the file values_ came from
    bool everLoaded_ = false;               // guarded by mutex_
    std::optional<FileIdentity> reported_;  // guarded by mutex_; damaged file already logged
};

}  // namespace platform
