#include "platform/preferences/PreferencesStore.h"

#include <cstdlib>
#include <iostream>
#include <map>

#include "platform/preferences/PlistCodec.h"

namespace platform {

namespace fs = std::filesystem;

namespace {

void logDamagedFile(const fs::path& path, const std::string& reason) {
    std::cerr << "preferences: cannot read " << path.string() << " (" << reason
              << "); using no stored values until a setting is written\n";
}

void logSetAside(const fs::path& path, const std::string& reason, const fs::path& aside) {
    std::cerr << "preferences: cannot read " << path.string() << " (" << reason << "); kept as "
              << aside.string() << ", starting from no stored values\n";
}

// Set-aside names tried for a damaged file before giving up.
constexpr int kMaxSetAsideNames = 100;

// Open stores by file path. Weak, so a suite nobody uses any more is freed.
struct Registry {
    std::mutex mutex;
    std::map<fs::path, std::weak_ptr<PreferencesStore>> stores;  // guarded by mutex
};

Registry& registry() {
    static Registry& instance = *new Registry();  // lives for the process
    return instance;
}

}  // namespace

bool PreferencesStore::FileIdentity::operator==(const FileIdentity& other) const {
    return exists == other.exists && device == other.device && inode == other.inode &&
           size == other.size && modified.tv_sec == other.modified.tv_sec &&
           modified.tv_nsec == other.modified.tv_nsec;
}

fs::path PreferencesStore::defaultFolder() {
    const char* config = std::getenv("XDG_CONFIG_HOME");
    if (config != nullptr && config[0] == '/') {
        return fs::path(config) / "cellarbright";
    }
    const char* home = std::getenv("HOME");
    return fs::path(home != nullptr ? home : "/") / ".config" / "cellarbright";
}

bool PreferencesStore::isValidSuiteName(std::string_view name) {
    return !name.empty() && name.size() <= 255 - 6 && name != "." && name != ".." &&
           name.find('/') == std::string_view::npos && name.find('\0') == std::string_view::npos;
}

std::shared_ptr<PreferencesStore> PreferencesStore::suite(std::string_view name) {
    return suite(name, defaultFolder(), systemFileSystem());
}

std::shared_ptr<PreferencesStore> PreferencesStore::suite(std::string_view name,
                                                          const fs::path& folder,
                                                          PreferencesFileSystem& fileSystem) {
    if (!isValidSuiteName(name)) {
        return nullptr;
    }
    fs::path path = folder / (std::string(name) + ".plist");
    std::shared_ptr<PreferencesStore> store;
    bool opened = false;
    {
        Registry& open = registry();
        std::lock_guard lock(open.mutex);
        std::weak_ptr<PreferencesStore>& slot = open.stores[path];
        store = slot.lock();
        if (!store) {
            store = std::make_shared<PreferencesStore>(path, fileSystem);
            slot = store;
            opened = true;
        }
    }
    if (opened) {
        store->removeStaleTemporaryFiles();
    }
    return store;
}

void PreferencesStore::removeStaleTemporaryFiles() {
    std::lock_guard lock(mutex_);
    const fs::path folder = path_.parent_path();
    int lockFd = -1;
    if (fileSystem_.lockFolder(folder, &lockFd)) {
        return;  // no folder yet, so nothing left behind
    }
    const std::string target = path_.filename().string();
    platform::removeStaleTemporaryFiles(fileSystem_, folder,
                                        [&](std::string_view name) { return name == target; });
    fileSystem_.unlockFolder(lockFd);
}

PreferencesStore::PreferencesStore(fs::path path, PreferencesFileSystem& fileSystem)
    : path_(std::move(path)), fileSystem_(fileSystem) {}

PreferencesStore::FileIdentity PreferencesStore::identify() {
    struct stat info {};
    FileIdentity identity;
    if (fileSystem_.statFile(path_, &info)) {
        return identity;
    }
    identity.exists = true;
    identity.device = info.st_dev;
    identity.inode = info.st_ino;
    identity.size = info.st_size;
    identity.modified = info.st_mtim;
    return identity;
}

std::error_code PreferencesStore::refreshLocked(bool force, bool folderLocked) {
    FileIdentity identity = identify();
    if (!force && everLoaded_ && identity == loaded_) {
        return {};
    }
    everLoaded_ = true;
    loaded_ = identity;
    values_.clear();
    std::string bytes;
    std::error_code error = fileSystem_.readFile(path_, kMaxFileSize, &bytes);
    if (error == std::errc::no_such_file_or_directory) {
        return {};
    }
    std::string reason;
    std::optional<PlistValue> root;
    // Contents we refuse are set aside; a file we could not read (permissions, I/O, a FIFO or
    // folder in its place) is not the file's fault and stays where it is.
    bool damaged = true;
    if (error == std::errc::invalid_argument) {
        reason = "not a regular file";
        damaged = false;
    } else if (error == std::errc::file_too_large) {
        reason = error.message();
    } else if (error) {
        reason = error.message();
        damaged = false;
    } else if (!(root = decodePlist(bytes, &reason))) {
    } else if (const PlistDictionary* dictionary = root->getIf<PlistDictionary>()) {
        values_ = *dictionary;
        reported_.reset();
        return {};
    } else {
        reason = "the top level is not a dictionary";
    }
    std::error_code setAsideError;
    if (damaged) {
        fs::path aside;
        setAsideError = setAsideLocked(identity, folderLocked, &aside);
        if (!setAsideError && aside.empty()) {
            everLoaded_ = false;  // replaced meanwhile: the next read loads the new file
            return {};
        }
        if (!setAsideError) {
            logSetAside(path_, reason, aside);
            loaded_ = identify();
            reported_.reset();
            return {};
        }
    }
    if (reported_ != identity) {
        logDamagedFile(path_, reason);
        reported_ = identity;
    }
    return setAsideError;
}

std::error_code PreferencesStore::setAsideLocked(const FileIdentity& identity, bool folderLocked,
                                                 fs::path* aside) {
    const fs::path folder = path_.parent_path();
    int lockFd = -1;
    if (!folderLocked) {
        if (std::error_code error = fileSystem_.lockFolder(folder, &lockFd)) {
            return error;
        }
    }
    std::error_code result = std::make_error_code(std::errc::file_exists);
    // Another process may have replaced the file since it was read: that one is not ours to
    // move.
    if (!(identify() == identity)) {
        result = {};
    } else {
        for (int n = 1; n <= kMaxSetAsideNames; ++n) {
            fs::path candidate = path_;
            candidate += n == 1 ? ".damaged" : ".damaged-" + std::to_string(n);
            struct stat info {};
            if (fileSystem_.statFile(candidate, &info) != std::errc::no_such_file_or_directory) {
                continue;  // never replace a file set aside before
            }
            result = fileSystem_.rename(path_, candidate);
            if (!result) {
                (void)fileSystem_.syncFolder(folder);
                *aside = std::move(candidate);
            }
            break;
        }
    }
    if (!folderLocked) {
        fileSystem_.unlockFolder(lockFd);
    }
    return result;
}

std::optional<PlistValue> PreferencesStore::get(std::string_view key) {
    std::lock_guard lock(mutex_);
    (void)refreshLocked(false, false);
    auto found = values_.find(key);
    if (found == values_.end()) {
        return std::nullopt;
    }
    return found->second;
}

std::vector<std::string> PreferencesStore::allKeys() {
    std::lock_guard lock(mutex_);
    (void)refreshLocked(false, false);
    std::vector<std::string> keys;
    keys.reserve(values_.size());
    for (const auto& entry : values_) {
        keys.push_back(entry.first);
    }
    return keys;
}

std::error_code PreferencesStore::set(std::string_view key, PlistValue value) {
    return change(key, std::move(value));
}

std::error_code PreferencesStore::remove(std::string_view key) {
    return change(key, std::nullopt);
}

std::error_code PreferencesStore::removeAll() {
    return update([](PlistDictionary& values) {
        const bool changed = !values.empty();
        values.clear();
        return changed;
    });
}

std::error_code PreferencesStore::change(std::string_view key, std::optional<PlistValue> value) {
    return update([&](PlistDictionary& values) {
        if (value) {
            values.insert_or_assign(std::string(key), std::move(*value));
            return true;
        }
        if (auto found = values.find(key); found != values.end()) {
            values.erase(found);
            return true;
        }
        return false;
    });
}

std::error_code PreferencesStore::update(const std::function<bool(PlistDictionary&)>& edit) {
    std::lock_guard lock(mutex_);
    fs::path folder = path_.parent_path();
    if (std::error_code error = fileSystem_.createFolder(folder)) {
        return error;
    }
    int lockFd = -1;
    if (std::error_code error = fileSystem_.lockFolder(folder, &lockFd)) {
        return error;
    }
    // Another process may have written since our last read. A damaged file that cannot be set
    // aside is not written over.
    std::error_code error = refreshLocked(true, true);
    PlistDictionary updated = values_;
    if (!error && edit(updated)) {
        error = writeLocked(updated);
    }
    fileSystem_.unlockFolder(lockFd);
    return error;
}

std::error_code PreferencesStore::writeLocked(const PlistDictionary& values) {
    if (std::error_code error =
            writeFileAtomically(fileSystem_, path_, encodeBinaryPlist(PlistValue(values)))) {
        return error;
    }
    values_ = values;
    loaded_ = identify();
    reported_.reset();
    return {};
}

}  // namespace platform
