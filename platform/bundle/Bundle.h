#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/preferences/PlistValue.h"

namespace platform {

// Identifier of the application's own preferences and data when the program does not run from
// a bundle (tests, a bare build): the identifier our Info.plist carries.
inline constexpr std::string_view kFallbackBundleIdentifier = "com.cellarbright.Cellarbright";

// Whether `name` can name an entry inside one folder: not empty, not "." or "..", and without
// "/" or NUL. Names a bundle gives for its own files must pass this before they are joined to a
// folder of the bundle.
bool isSinglePathComponent(std::string_view name);

// Whether `path` names an application bundle folder: its last component is "<X>.app" with a
// non-empty X and the extension in any letter case ("Tool.APP" is one, ".app" is not). Only the
// name is examined.
bool hasAppExtension(const std::filesystem::path& path);

// A bundle laid out as "<Name>.app/Contents/Info.plist", with the executable in
// "Contents/MacOS" and resources in "Contents/Resources". The Info.plist (XML or binary) is read
// once when the bundle is opened; a Bundle is an immutable value, safe to share between threads.
class Bundle {
  public:
    // Opens the bundle at `bundlePath` (the ".app" folder). Returns nullopt when its
    // "Contents/Info.plist" is missing, not a regular file (a link to one counts), unreadable,
    // larger than 16 MiB, not a property list or not a dictionary.
    static std::optional<Bundle> open(const std::filesystem::path& bundlePath);

    // Returns the bundle folder that holds `executable` as "<X>.app/Contents/MacOS/<exe>" (the
    // extension in any letter case, as discovery takes it), or nullopt when the path has another
    // shape. Only the path is examined.
    static std::optional<std::filesystem::path> bundlePathOfExecutable(
        const std::filesystem::path& executable);

    // Returns the bundle the running program was started from, found from /proc/self/exe on the
    // first call; nullopt when the program does not run from a bundle. While a test bundle is
    // set (TEST_setMainBundle), that one.
    static const std::optional<Bundle>& main();

    // Test hook: makes main() answer the bundle at `bundlePath` (opened now; a folder that
    // open() refuses makes main() answer nullopt, as outside a bundle). nullopt restores the real
    // main bundle. REQUIRES: no other thread uses main() while the hook changes.
    static void TEST_setMainBundle(std::optional<std::filesystem::path> bundlePath);

    // Returns the main bundle's identifier, else kFallbackBundleIdentifier.
    static std::string mainBundleIdentifier();

    // The ".app" folder, as given to open().
    const std::filesystem::path& bundlePath() const { return bundlePath_; }

    // "<bundle>/Contents/Resources".
    std::filesystem::path resourcesPath() const;

    // The whole Info.plist dictionary.
    const PlistDictionary& info() const { return *info_; }

    // Returns the string value of `key` in the Info.plist, or nullopt when the key is absent or
    // its value is not a string.
    std::optional<std::string> infoString(std::string_view key) const;

    // The "CFBundleIdentifier" string, when present and not empty.
    std::optional<std::string> identifier() const;

    // "<bundle>/Contents/MacOS/<CFBundleExecutable>", whether or not that file exists. nullopt
    // when the key is absent, not a string, or not a single path component (see
    // isSinglePathComponent), so a bundle cannot point outside itself.
    std::optional<std::filesystem::path> executablePath() const;

  private:
    Bundle(std::filesystem::path bundlePath, std::shared_ptr<const PlistDictionary> info);

    std::filesystem::path bundlePath_;
    std::shared_ptr<const PlistDictionary> info_;  // shared by copies; never changed
};

}  // namespace platform
