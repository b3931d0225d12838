#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <unordered_set>
#include <vector>

#include "app/uninstaller/InstalledApp.h"

namespace cb {

// Discovery of installed applications. An application is a folder "X.app" (the extension in any
// letter case) holding "Contents/Info.plist" with a non-empty "CFBundleIdentifier". Nothing here
// reports an error: what cannot be read is left out. Everything blocks on the file system; the
// window state runs it off the UI thread. Nothing is cached between calls.

// The applications in `folders`, each folder listed to three levels (folder/X.app,
// folder/A/X.app, folder/A/B/X.app), sorted by name (AppNameOrder) with a stable sort, so equal
// names keep the order they were found in: folders in the order given, entries of a folder in
// byte order of their names. Without `folders`, defaultAppFolders(); an empty list gives an empty
// result. A bundle reached twice (a folder given twice) is listed once; the same application in
// two folders is listed twice. The objects are made as InstalledApp::make() says (moved to the
// application's thread when there is a QCoreApplication).
std::vector<std::shared_ptr<InstalledApp>> listInstalledApps(
    const std::optional<std::vector<std::filesystem::path>>& folders = std::nullopt);

// AppLocations::current().applicationsRoot, existing or not, then "$HOME/Applications" when
// something (of any kind) exists at that path; a link counts when its target exists.
std::vector<std::filesystem::path> defaultAppFolders();

// Adds to `apps` the applications in `folder`, which lies `depth` levels below a root (0 for a
// root; nothing happens above 2). Hidden entries (names starting with ".") and symbolic links are
// passed over: links are never followed nor taken, whatever their name. An entry named "*.app"
// (any case) is never entered: its path goes into `seen`, and makeInstalledApp() of it into
// `apps` when it gives an application and the path was not in `seen` before. Other folders are
// entered below depth 2. A root folder may itself be a symbolic link; a folder that cannot be
// listed adds nothing, and an entry whose type cannot be read is taken when named "*.app" but
// never entered.
void collectApps(const std::filesystem::path& folder, int depth,
                 std::unordered_set<std::string>& seen,
                 std::vector<std::shared_ptr<InstalledApp>>& apps);

// The application in the bundle at `url`, or null when it does not open as a bundle or has no or
// an empty "CFBundleIdentifier". Name: "CFBundleDisplayName" when it is a string (even empty),
// else "CFBundleName" when it is a string, else the bundle's file name without its extension.
// Version: "CFBundleShortVersionString", else "CFBundleVersion" (strings only), else none. Icon:
// loadAppIcon(). Last opened: lastOpenedDate().
std::shared_ptr<InstalledApp> makeInstalledApp(const std::filesystem::path& url);

// When the application at `url` was last used: the access time (st_atim) of the bundle's
// executable, else, when there is no bundle, no executable or it cannot be read, that of `url`
// itself; nullopt when neither can be read.
std::optional<InstalledApp::Date> lastOpenedDate(const std::filesystem::path& url);

}  // namespace cb
