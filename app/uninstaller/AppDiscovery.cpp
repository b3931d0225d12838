#include "app/uninstaller/AppDiscovery.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>

#include "app/disk/DirectoryReader.h"
#include "app/uninstaller/AppIcon.h"
#include "app/uninstaller/AppLocations.h"
#include "app/uninstaller/AppNameOrder.h"
#include "platform/bundle/Bundle.h"

namespace cb {

namespace fs = std::filesystem;

namespace {

constexpr int kDeepestFolder = 2;

// The entry names of `folder` in byte order, hidden ones left out. Empty when it cannot be
// listed; `fd` is the open folder (-1 then).
std::vector<std::string> listFolder(DirectoryReader& reader, int fd) {
    std::vector<std::string> names;
    DirectoryReader::Listing listing;
    if (fd < 0) {
        return names;
    }
    reader.readEntries(fd, listing);
    for (size_t i = 0; i < listing.size(); ++i) {
        if (listing.name(i)[0] != '.') {
            names.emplace_back(listing.name(i));
        }
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::optional<InstalledApp::Date> accessTime(const fs::path& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        return std::nullopt;
    }
    // Times beyond what the clock's 64-bit nanoseconds hold (about the years 1678 to 2262) are
    // not dates we can show.
    constexpr int64_t kMaxSeconds = INT64_MAX / 1'000'000'000 - 1;
    const int64_t seconds = st.st_atim.tv_sec;
    if (seconds > kMaxSeconds || seconds < -kMaxSeconds) {
        return std::nullopt;
    }
    const auto since = std::chrono::seconds(seconds) + std::chrono::nanoseconds(st.st_atim.tv_nsec);
    return InstalledApp::Date(std::chrono::duration_cast<InstalledApp::Date::duration>(since));
}

std::optional<InstalledApp::Date> lastOpenedDate(const fs::path& url,
                                                 const std::optional<platform::Bundle>& bundle) {
    if (std::optional<fs::path> executable = bundle ? bundle->executablePath() : std::nullopt) {
        if (std::optional<InstalledApp::Date> date = accessTime(*executable)) {
            return date;
        }
    }
    return accessTime(url);
}

}  // namespace

std::vector<std::shared_ptr<InstalledApp>> listInstalledApps(
    const std::optional<std::vector<fs::path>>& folders) {
    const std::vector<fs::path> roots = folders ? *folders : defaultAppFolders();
    std::unordered_set<std::string> seen;
    std::vector<std::shared_ptr<InstalledApp>> apps;
    for (const fs::path& root : roots) {
        collectApps(root, 0, seen, apps);
    }
    const AppNameOrder order;
    std::stable_sort(apps.begin(), apps.end(), [&order](const auto& a, const auto& b) {
        return order.compare(a->name(), b->name()) < 0;
    });
    return apps;
}

std::vector<fs::path> defaultAppFolders() {
    std::vector<fs::path> folders{AppLocations::current().applicationsRoot};
    const fs::path home = homeFolder();
    struct stat st {};
    if (!home.empty() && ::stat((home / "Applications").c_str(), &st) == 0) {
        folders.push_back(home / "Applications");
    }
    return folders;
}

void collectApps(const fs::path& folder, int depth, std::unordered_set<std::string>& seen,
                 std::vector<std::shared_ptr<InstalledApp>>& apps) {
    if (depth > kDeepestFolder) {
        return;
    }
    DirectoryReader reader;  // the plain system calls
    // Only a root may be reached through a link; below it, opening refuses links.
    const int fd = reader.openDirectory(AT_FDCWD, folder.c_str(), depth == 0);
    for (const std::string& name : listFolder(reader, fd)) {
        struct stat st {};
        const bool known = reader.statEntry(fd, name.c_str(), st) == 0;
        if (known && S_ISLNK(st.st_mode)) {
            continue;
        }
        const fs::path path = (folder / name).lexically_normal();
        if (platform::hasAppExtension(path)) {
            if (seen.insert(path.string()).second) {
                if (std::shared_ptr<InstalledApp> app = makeInstalledApp(path)) {
                    apps.push_back(std::move(app));
                }
            }
        } else if (known && S_ISDIR(st.st_mode) && depth < kDeepestFolder) {
            collectApps(path, depth + 1, seen, apps);
        }
    }
    if (fd >= 0) {
        reader.closeDirectory(fd);
    }
}

std::shared_ptr<InstalledApp> makeInstalledApp(const fs::path& url) {
    std::optional<platform::Bundle> bundle = platform::Bundle::open(url);
    std::optional<std::string> identifier = bundle ? bundle->identifier() : std::nullopt;
    if (!identifier) {
        return nullptr;
    }
    InstalledApp::Fixed fixed;
    fixed.url = url;
    if (auto display = bundle->infoString("CFBundleDisplayName")) {
        fixed.name = std::move(*display);
    } else if (auto name = bundle->infoString("CFBundleName")) {
        fixed.name = std::move(*name);
    } else {
        fixed.name = url.stem().string();
    }
    fixed.bundleID = std::move(*identifier);
    fixed.version = bundle->infoString("CFBundleShortVersionString");
    if (!fixed.version) {
        fixed.version = bundle->infoString("CFBundleVersion");
    }
    fixed.lastOpened = lastOpenedDate(url, bundle);
    fixed.icon = loadAppIcon(*bundle);
    return InstalledApp::make(std::move(fixed));
}

std::optional<InstalledApp::Date> lastOpenedDate(const fs::path& url) {
    return lastOpenedDate(url, platform::Bundle::open(url));
}

}  // namespace cb
