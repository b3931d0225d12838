#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/uninstaller/IdentifierSet.h"
#include "app/uninstaller/RelatedCategory.h"
#include "app/uninstaller/RelatedFile.h"

// The related-file search: what one application keeps outside its bundle, in the user's and the
// machine's Library folders. First the application's identity is gathered from the caller's
// values and the bundle (buildIdentity), then fifteen Library subfolders under each of the two
// roots are listed one level deep and every entry is tested by its folder's match rule
// (scanLibrary, matches).
//
// Nothing here reports an error: a folder or file that cannot be read contributes nothing. All
// of it blocks on the file system; the window state runs it on a worker thread. Calls share no
// state, and nothing is cached between them.
namespace cb::AppRelatedFiles {

// The identifier sets of one application, compared against by the match rules. Built once per
// search, then only read.
struct Identity {
    // The caller's identifier (even empty), the identifiers of the bundle and of every bundle
    // nested in it, and the privileged helpers' labels.
    IdentifierSet bundleIDs;
    // The caller's name (even empty), the bundle's file name without its extension, and the main
    // bundle's non-empty "CFBundleName" and "CFBundleDisplayName".
    IdentifierSet names;
    // The application groups of every bundle's entitlements.
    IdentifierSet groupIDs;
    // The keys of the main bundle's "SMPrivilegedExecutables".
    IdentifierSet privilegedHelperIDs;
    // The application bundle, when the caller gave one.
    std::optional<std::filesystem::path> appURL;
};

// How an entry of a Library subfolder is tested against the identity. The values are fixed.
enum class MatchRule : uint8_t {
    exactBundleID = 0,         // name is a bundle identifier
    bundleIDOrName = 1,        // ... or a name, letter case ignored
    preferencesPlist = 2,      // id + ".plist"
    byHostPlist = 3,           // id + "." + UUID + ".plist"
    containerFolder = 4,       // id, or a UUID folder whose container metadata names an id
    groupContainerFolder = 5,  // a group, an id, or anything + "." + id
    scriptsFolder = 6,         // an id or a group
    savedStateFolder = 7,      // id + ".savedState"
    cookiesFile = 8,           // id + ".binarycookies"
    httpStorageEntry = 9,      // id, or id + ".binarycookies"
    launchdPlist = 10,         // id + ".plist", or a launchd list naming an id or the bundle
    helperTool = 11,           // a privileged helper's label
};

// One folder of the search: a subpath of a Library folder, its rule and the category of what it
// yields.
struct SearchRow {
    std::string_view subpath;
    MatchRule rule;
    RelatedCategory category;
};

// The fifteen folders, searched in this order under each root.
inline constexpr std::array<SearchRow, 15> searchTable = {{
    {"Application Support", MatchRule::bundleIDOrName, RelatedCategory::applicationSupport},
    {"Caches", MatchRule::bundleIDOrName, RelatedCategory::caches},
    {"Preferences", MatchRule::preferencesPlist, RelatedCategory::preferences},
    {"Preferences/ByHost", MatchRule::byHostPlist, RelatedCategory::preferences},
    {"Containers", MatchRule::containerFolder, RelatedCategory::containers},
    {"Group Containers", MatchRule::groupContainerFolder, RelatedCategory::groupContainers},
    {"Application Scripts", MatchRule::scriptsFolder, RelatedCategory::applicationScripts},
    {"Saved Application State", MatchRule::savedStateFolder, RelatedCategory::savedState},
    {"Logs", MatchRule::bundleIDOrName, RelatedCategory::logs},
    {"Cookies", MatchRule::cookiesFile, RelatedCategory::cookies},
    {"WebKit", MatchRule::exactBundleID, RelatedCategory::webkit},
    {"HTTPStorages", MatchRule::httpStorageEntry, RelatedCategory::httpStorages},
    {"LaunchAgents", MatchRule::launchdPlist, RelatedCategory::launchAgents},
    {"LaunchDaemons", MatchRule::launchdPlist, RelatedCategory::launchDaemons},
    {"PrivilegedHelperTools", MatchRule::helperTool, RelatedCategory::privilegedHelpers},
}};

// The identity of the application with the caller's `bundleID` and display `name`, and, when
// `appURL` is given, what its bundle declares: the bundle's file name without extension, the
// identifiers of the bundle and of every "app", "appex" or "xpc" bundle below its "Contents"
// (extension in any case, at any depth; symbolic links are neither entered nor taken, folders
// named exactly "*.framework" are not entered), the main bundle's names and privileged helpers,
// and the application groups of every one of those bundles. Strings are kept as found. Never
// fails: what cannot be read adds nothing. `stop`, when set, cuts the walk of "Contents" short
// (the identity is then partial and the caller drops the search).
Identity buildIdentity(const std::string& bundleID, const std::string& name,
                       const std::optional<std::filesystem::path>& appURL,
                       const std::atomic<bool>* stop = nullptr);

// The application groups ("com.apple.security.application-groups", when it is an array of
// strings) in the code-signature entitlements of the executable of the bundle at `bundleURL`.
// Empty when the bundle does not open, names no executable, or the executable carries no
// readable entitlements (unsigned, not Mach-O, damaged).
IdentifierSet appGroupIDs(const std::filesystem::path& bundleURL);

// Whether the entry `entry` of a Library subfolder belongs to the application under `rule`. Reads
// at most one property list (a container's metadata for rule 4, a launchd list for rule 10),
// only when the name alone does not decide; a list that is not a regular file, is over 16 MiB,
// or does not parse means no match.
bool matches(const std::filesystem::path& entry, const Identity& identity, MatchRule rule);

// The related files of `identity` in "<home>/Library" (skipped when `home` is empty) and then in
// `library`, each row of searchTable in order under each root. A folder entry that does not match
// its row is, under "Application Support" only, looked into one level further (vendor folders);
// an item reached twice (same lexically standardised path) is kept from its first reach. Items
// in groupContainerFolder, and items named like one of the identity's groups, are shared. The
// result is sorted by path (NFC forms, byte order, stable), with fresh ids and the sizes of
// allocatedSize(). `stop`, when set, ends the search early with a partial result that the
// caller must drop.
std::vector<RelatedFile> scanLibrary(const Identity& identity, const std::filesystem::path& home,
                                     const std::filesystem::path& library,
                                     const std::atomic<bool>* stop = nullptr);

// The whole search for one application: buildIdentity() of the three values, then scanLibrary()
// with $HOME (homeFolder()) and AppLocations::current().machineLibrary. Blocks; run it off the UI
// thread. `stop` as for scanLibrary().
std::vector<RelatedFile> find(const std::string& bundleID, const std::string& name,
                              const std::optional<std::filesystem::path>& appURL,
                              const std::atomic<bool>* stop = nullptr);

}  // namespace cb::AppRelatedFiles
