#include "app/disk/FullDiskAccess.h"

#include <dirent.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <string_view>

namespace fs = std::filesystem;

namespace cb {
namespace {

std::string homeDirectory() {
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] != '\0')
        return home;
    const passwd* entry = ::getpwuid(::getuid());
    return entry != nullptr && entry->pw_dir != nullptr ? entry->pw_dir : "/";
}

std::string withoutTrailingSlashes(std::string path) {
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path;
}

bool startsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

// Lists the whole folder, as a directory listing call would.
bool canList(const fs::path& path) {
    DIR* dir = ::opendir(path.c_str());
    if (dir == nullptr)
        return false;
    errno = 0;
    while (::readdir(dir) != nullptr) {
    }
    const bool complete = errno == 0;
    ::closedir(dir);
    return complete;
}

// A URL parses when it has a scheme (a letter, then letters, digits, "+", "-" or ".") followed
// by ":", and no spaces or control characters.
bool parsesAsUrl(std::string_view text) {
    const size_t colon = text.find(':');
    if (colon == std::string_view::npos || colon == 0)
        return false;
    if (!std::isalpha(static_cast<unsigned char>(text[0])))
        return false;
    for (size_t i = 1; i < colon; ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (!std::isalnum(c) && c != '+' && c != '-' && c != '.')
            return false;
    }
    for (char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (c <= 0x20 || c == 0x7F)
            return false;
    }
    return true;
}

void openSettings(platform::Workspace& workspace, std::string_view preferred,
                  std::string_view fallback) {
    const std::string_view url = parsesAsUrl(preferred) ? preferred : fallback;
    (void)workspace.openUrl(std::string(url));  // the outcome is not shown to anyone
}

}  // namespace

bool isProtectedLocation(const fs::path& location) {
    return isProtectedLocation(location, homeDirectory());
}

bool isProtectedLocation(const fs::path& location, const std::string& homeFolder) {
    const std::string path = withoutTrailingSlashes(location.string());
    // HOME=/home/u/ is as good a home as /home/u.
    const std::string home = withoutTrailingSlashes(homeFolder);
    if (path == "/")
        return true;
    if (home != "/" && (path == home || startsWith(path, home + "/")))
        return false;
    for (std::string_view prefix : {"/Library", "/System", "/private", "/usr", "/var"}) {
        if (startsWith(path, prefix))
            return true;
    }
    return false;
}

std::vector<fs::path> fullDiskAccessProbePaths() {
    // Folders of mode 700 owned by root on every Debian system.
    return {"/root", "/var/cache/ldconfig", "/etc/ssl/private"};
}

bool hasFullDiskAccess() {
    return hasFullDiskAccess(fullDiskAccessProbePaths());
}

bool hasFullDiskAccess(const std::vector<fs::path>& probes) {
    for (const fs::path& probe : probes) {
        struct stat st {};
        if (::stat(probe.c_str(), &st) != 0)
            continue;
        if (canList(probe))
            return true;
    }
    return false;
}

void openFullDiskAccessSettings(platform::Workspace& workspace) {
    openSettings(workspace,
                 "x-apple.systempreferences:com.apple.settings.PrivacySecurity.extension?"
                 "Privacy_AllFiles",
                 "x-apple.systempreferences:com.apple.preference.security?Privacy_AllFiles");
}

void openAppManagementSettings(platform::Workspace& workspace) {
    openSettings(workspace,
                 "x-apple.systempreferences:com.apple.settings.PrivacySecurity.extension?"
                 "Privacy_AppBundles",
                 "x-apple.systempreferences:com.apple.preference.security?Privacy_AppBundles");
}

}  // namespace cb
