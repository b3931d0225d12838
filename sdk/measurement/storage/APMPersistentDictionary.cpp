#include "sdk/measurement/storage/APMPersistentDictionary.h"

#include <chrono>

#include "sdk/measurement/engine/APMFilePaths.h"
#include "sdk/utilities/FormatString.h"
#include "sdk/utilities/VDULogger.h"
#include "sdk/utilities/ValuePlist.h"

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kService = "com.vovidu.razudizo.analytics";
constexpr std::string_view kCategory = "<DivEdadevadeze>";
constexpr auto kPersistDelay = std::chrono::seconds(1);

std::string messageCode(std::int64_t code) {
    return sdk::formatString("I-ACS%06ld", {{sdk::FormatArg(code)}});
}

}  // namespace

std::shared_ptr<APMPersistentDictionary> APMPersistentDictionary::initWithFileName(
    std::string_view name, platform::PreferencesFileSystem& fileSystem) {
    const std::string path = APMMeasurementPlistPath(name);
    if (name.empty() || path.empty()) {
        return nullptr;
    }
    const fs::path file(path);
    if (fileSystem.createFolder(file.parent_path())) {
        VDULoggerLogError(kService, kCategory, false, messageCode(43004),
                          "Cannot create subdirectories for config plist files.");
        return nullptr;
    }
    removeStaleTemporaryFiles(file, fileSystem);
    return std::make_shared<APMPersistentDictionary>(Passkey(), file, fileSystem,
                                                     loadFile(file, fileSystem));
}

void APMPersistentDictionary::removeStaleTemporaryFiles(
    const fs::path& file, platform::PreferencesFileSystem& fileSystem) {
    int lockFd = -1;
    if (fileSystem.lockFolder(file.parent_path(), &lockFd)) {
        return;
    }
    const std::string target = file.filename().string();
    platform::removeStaleTemporaryFiles(fileSystem, file.parent_path(),
                                        [&](std::string_view name) { return name == target; });
    fileSystem.unlockFolder(lockFd);
}

APMPersistentDictionary::APMPersistentDictionary(Passkey, fs::path fileURL,
                                                 platform::PreferencesFileSystem& fileSystem,
                                                 sdk::Value::Dictionary content)
    : fileURL_(std::move(fileURL)),
      fileSystem_(fileSystem),
      serialQueue_(platform::DispatchQueue::createSerial("APMPersistentDictionary")),
      content_(std::move(content)) {}

APMPersistentDictionary::~APMPersistentDictionary() {
    bool pending = false;
    {
        std::lock_guard lock(mutex_);
        pending = hasPendingPersistence_;
    }
    if (pending) {
        persistToDisk();
    }
}

sdk::Value::Dictionary APMPersistentDictionary::loadFile(
    const fs::path& file, platform::PreferencesFileSystem& fileSystem) {
    std::string bytes;
    if (fileSystem.readFile(file, kMaxFileSize, &bytes)) {
        return {};  // missing or unreadable: start empty
    }
    sdk::Value value;
    if (!sdk::valueFromPlist(sdk::Bytes(bytes.begin(), bytes.end()), &value).ok() ||
        !value.isDictionary()) {
        return {};
    }
    return std::move(*value.dictionary());
}

std::optional<sdk::Value> APMPersistentDictionary::objectForKey(std::string_view key) const {
    if (key.empty()) {
        VDULoggerLogWarning(kService, kCategory, false, messageCode(43001),
                            "Cannot get object for invalid config key.");
        return std::nullopt;
    }
    std::lock_guard lock(mutex_);
    if (auto found = content_.find(key); found != content_.end()) {
        return found->second;
    }
    return std::nullopt;
}

void APMPersistentDictionary::setObject(const std::optional<sdk::Value>& value,
                                        std::string_view key) {
    if (key.empty()) {
        VDULoggerLogWarning(kService, kCategory, false, messageCode(43002),
                            "Cannot set object for invalid config key.");
        return;
    }
    platform::PlistValue checked;
    if (value && !sdk::plistValueFromValue(*value, &checked).ok()) {
        VDULoggerLogWarning(kService, kCategory, false, messageCode(43003),
                            "Cannot set invalid object to config. Must be a string, number, "
                            "array, dictionary, date, or data. Value %@",
                            value->description());
        return;
    }
    {
        std::lock_guard lock(mutex_);
        auto found = content_.find(key);
        if (!value) {
            if (found == content_.end()) {
                return;
            }
            content_.erase(found);
        } else if (found != content_.end()) {
            if (found->second == *value) {
                return;
            }
            found->second = *value;
        } else {
            content_.emplace(std::string(key), *value);
        }
    }
    schedulePersistToDisk();
}

void APMPersistentDictionary::clearAllData() {
    {
        std::lock_guard lock(mutex_);
        if (content_.empty()) {
            return;
        }
        content_.clear();
    }
    schedulePersistToDisk();
}

void APMPersistentDictionary::schedulePersistToDisk() {
    std::lock_guard lock(mutex_);
    if (hasPendingPersistence_) {
        return;
    }
    hasPendingPersistence_ = true;
    serialQueue_->after(kPersistDelay, [weak = weak_from_this()] {
        if (std::shared_ptr<APMPersistentDictionary> self = weak.lock()) {
            self->persistToDisk();
        }
    });
}

void APMPersistentDictionary::persistToDisk() {
    std::lock_guard writing(writeMutex_);
    sdk::Value::Dictionary copy;
    {
        std::lock_guard lock(mutex_);
        copy = content_;
        hasPendingPersistence_ = false;
    }
    if (!writeFile(copy)) {
        VDULoggerLogError(kService, kCategory, false, messageCode(43000),
                          "Cannot persist configs to disk");
    }
}

bool APMPersistentDictionary::writeFile(const sdk::Value::Dictionary& content) {
    sdk::Bytes encoded;
    if (!sdk::plistFromValue(sdk::Value(content), sdk::PlistFormat::kBinary, &encoded).ok()) {
        return false;
    }
    // Under the folder lock, which a dictionary opening on this file takes to remove the
    // temporary files of killed writers: a live write's file is never taken for one.
    int lockFd = -1;
    if (fileSystem_.lockFolder(fileURL_.parent_path(), &lockFd)) {
        return false;
    }
    const bool written = writeFileLocked(encoded);
    fileSystem_.unlockFolder(lockFd);
    return written;
}

bool APMPersistentDictionary::writeFileLocked(const sdk::Bytes& encoded) {
    return !platform::writeFileAtomically(fileSystem_, fileURL_,
                                          std::string(encoded.begin(), encoded.end()));
}
