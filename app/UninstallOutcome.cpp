#include "app/UninstallOutcome.h"

#include <algorithm>
#include <cctype>

#include "app/disk/FailureReason.h"
#include "app/uninstaller/AppLocations.h"

namespace cb {

bool isPermissionFailure(const std::string& reason) {
    std::string lower = reason;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    for (const char* marker : {"permission", "not permitted", "operation not permitted"}) {
        if (lower.find(marker) != std::string::npos) {
            return true;
        }
    }
    return false;
}

bool isPermissionFailure(const TrashFailure& failure) {
    return isPermissionError(failure.error) || isPermissionFailure(failure.reason);
}

bool isUnderFolder(const std::filesystem::path& path, const std::filesystem::path& folder) {
    if (folder.empty()) {
        return false;
    }
    const std::filesystem::path item = path.lexically_normal();
    const std::filesystem::path base = folder.lexically_normal();
    auto itemPart = item.begin();
    for (auto basePart = base.begin(); basePart != base.end(); ++basePart) {
        if (basePart->empty()) {
            continue;  // the trailing "" of a folder written with a final "/"
        }
        if (itemPart == item.end() || *itemPart != *basePart) {
            return false;
        }
        ++itemPart;
    }
    return true;
}

NeededPermissions neededPermissions(const std::vector<std::filesystem::path>& paths) {
    // The system's folders, and the same folders where the uninstaller is told to look (they
    // differ only when tests point it at fixture trees).
    const AppLocations locations = AppLocations::current();
    const std::vector<std::filesystem::path> appFolders = {"/Applications",
                                                           locations.applicationsRoot};
    std::vector<std::filesystem::path> protectedFolders = {"/Library", locations.machineLibrary,
                                                           "/private", "/var"};
    if (const std::filesystem::path home = homeFolder(); !home.empty()) {
        protectedFolders.push_back(home / "Library");
    }
    auto isUnderAny = [](const std::filesystem::path& path,
                         const std::vector<std::filesystem::path>& folders) {
        return std::any_of(folders.begin(), folders.end(),
                           [&path](const auto& folder) { return isUnderFolder(path, folder); });
    };
    NeededPermissions needed;
    for (const std::filesystem::path& path : paths) {
        needed.appManagement = needed.appManagement || isUnderAny(path, appFolders);
        needed.fullDiskAccess = needed.fullDiskAccess || isUnderAny(path, protectedFolders);
    }
    return needed;
}

std::string failureLines(const std::vector<TrashFailure>& failures) {
    std::string lines;
    for (const TrashFailure& failure : failures) {
        if (!lines.empty()) {
            lines += '\n';
        }
        lines += "\xE2\x80\xA2 " + lastPathComponent(failure.url) + ": " + failure.reason;
    }
    return lines;
}

}  // namespace cb
