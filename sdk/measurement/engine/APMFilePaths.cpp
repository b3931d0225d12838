#include "sdk/measurement/engine/APMFilePaths.h"

#include <cerrno>
#include <filesystem>
#include <system_error>

#include "platform/folders/Folders.h"
#include "platform/preferences/PreferencesStore.h"
#include "sdk/measurement/engine/APMError.h"
#include "sdk/measurement/engine/APMExcludeFromBackup.h"

namespace fs = std::filesystem;

std::string APMPreferencesPlistPath(std::string_view name) {
    if (name.empty()) {
        return {};
    }
    return (platform::PreferencesStore::defaultFolder() / (std::string(name) + ".plist")).string();
}

std::string APMMeasurementFilePath(std::string_view name) {
    if (name.empty()) {
        return {};
    }
    return (platform::applicationSupportFolder() / kAPMMeasurementFolder / std::string(name))
        .string();
}

std::string APMMeasurementPlistPath(std::string_view name) {
    if (name.empty()) {
        return {};
    }
    std::string file(name);
    if (fs::path(file).extension() != ".plist") {
        file += ".plist";
    }
    return APMMeasurementFilePath(file);
}

bool APMRemoveFile(const std::string& path, sdk::Error* error) {
    if (path.empty()) {
        APMSetErrorWithCode(error, 1, "Received empty path for deleting file");
        return false;
    }
    std::error_code failure;
    fs::remove(path, failure);
    if (failure) {
        if (error != nullptr) {
            *error = APMPOSIXError(failure.value(), "Cannot remove", path);
        }
        return false;
    }
    return true;
}

bool APMMigratePlistToApplicationSupport(std::string_view name) {
    const std::string oldPath = APMPreferencesPlistPath(name);
    const std::string newPath = APMMeasurementPlistPath(name);
    if (oldPath.empty() || newPath.empty()) {
        return false;
    }
    std::error_code failure;
    const fs::file_status oldStatus = fs::symlink_status(oldPath, failure);
    if (!fs::exists(oldStatus)) {
        return true;
    }
    if (fs::is_directory(oldStatus)) {
        return false;
    }
    const fs::file_status newStatus = fs::symlink_status(newPath, failure);
    if (fs::exists(newStatus)) {
        // The newer file wins; the old copy is only in the way.
        return !fs::is_directory(newStatus) && APMRemoveFile(oldPath, nullptr);
    }
    fs::create_directories(fs::path(newPath).parent_path(), failure);
    if (failure) {
        return false;
    }
    fs::rename(oldPath, newPath, failure);
    if (failure.value() == EXDEV) {
        // Preferences and data homes on different file systems: copy, then drop the old file.
        failure.clear();
        fs::copy_file(oldPath, newPath, failure);
        return !failure && APMRemoveFile(oldPath, nullptr);
    }
    return !failure;
}
