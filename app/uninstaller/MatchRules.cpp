// The twelve match rules of the Library scan: matches().
#include "app/uninstaller/AppRelatedFiles.h"
#include "app/uninstaller/IdentifierText.h"
#include "app/uninstaller/RelatedFilesSupport.h"

namespace cb::AppRelatedFiles {

namespace fs = std::filesystem;
using platform::PlistArray;
using platform::PlistDictionary;

namespace {

// Every comparison is made between canonical (NFC) forms; `name` below is the entry's name in
// that form, and members are taken from IdentifierSet::byCanonical(). Empty members never match.

bool inSet(const IdentifierSet& set, std::string_view name) {
    return !name.empty() && set.containsCanonical(name);
}

// Whether `name` is some identifier followed by `suffix`.
bool isIdentifierWith(const IdentifierSet& ids, std::string_view name, std::string_view suffix) {
    return name.size() > suffix.size() && name.ends_with(suffix) &&
           inSet(ids, name.substr(0, name.size() - suffix.size()));
}

bool isNameIgnoringCase(const IdentifierSet& names, std::string_view name) {
    for (const auto& [canonical, member] : names.byCanonical()) {
        if (!canonical.empty() && sameTextIgnoringCase(name, canonical)) {
            return true;
        }
    }
    return false;
}

// id + "." + UUID + ".plist" for some identifier.
bool isByHostName(const IdentifierSet& ids, std::string_view name) {
    constexpr std::string_view kSuffix = ".plist";
    for (const auto& [id, member] : ids.byCanonical()) {
        if (id.empty() || name.size() < id.size() + 1 + kSuffix.size() || !name.starts_with(id) ||
            name[id.size()] != '.' || !name.ends_with(kSuffix)) {
            continue;
        }
        const size_t middle = id.size() + 1;
        if (isUuidText(name.substr(middle, name.size() - middle - kSuffix.size()))) {
            return true;
        }
    }
    return false;
}

// Some identifier, or anything followed by "." and some identifier (a team prefix).
bool isGroupContainerName(const IdentifierSet& ids, std::string_view name) {
    for (const auto& [id, member] : ids.byCanonical()) {
        if (!id.empty() && name.ends_with(id) &&
            (name.size() == id.size() || name[name.size() - id.size() - 1] == '.')) {
            return true;
        }
    }
    return false;
}

std::optional<std::string> canonicalString(const PlistDictionary& dictionary,
                                           std::string_view key) {
    const auto found = dictionary.find(key);
    const std::string* text =
        found != dictionary.end() ? found->second.getIf<std::string>() : nullptr;
    if (text == nullptr) {
        return std::nullopt;
    }
    return canonicalIdentifier(*text);
}

// A UUID-named container whose metadata names one of the identifiers.
bool isContainerOf(const fs::path& entry, const IdentifierSet& ids) {
    const std::optional<PlistDictionary> metadata =
        readPlistDictionaryFile(entry / ".com.apple.containermanagerd.metadata.plist");
    const std::optional<std::string> identifier =
        metadata ? canonicalString(*metadata, "MCMMetadataIdentifier") : std::nullopt;
    return identifier && inSet(ids, *identifier);
}

// "Program" when it is a string, else the first of "ProgramArguments" when that is a non-empty
// array of strings.
std::optional<std::string> launchdProgram(const PlistDictionary& list) {
    if (std::optional<std::string> program = canonicalString(list, "Program")) {
        return program;
    }
    const auto found = list.find("ProgramArguments");
    const PlistArray* arguments = found != list.end() ? found->second.getIf<PlistArray>() : nullptr;
    if (arguments == nullptr || arguments->empty()) {
        return std::nullopt;
    }
    for (const platform::PlistValue& argument : *arguments) {
        if (argument.getIf<std::string>() == nullptr) {
            return std::nullopt;
        }
    }
    return canonicalIdentifier(*arguments->front().getIf<std::string>());
}

// A launchd property list whose "Label" is an identifier, or whose program lies inside the
// application bundle (the bundle folder itself does not count).
bool isLaunchdListOf(const fs::path& entry, const Identity& identity, const IdentifierSet& ids) {
    if (entry.extension() != ".plist") {
        return false;
    }
    const std::optional<PlistDictionary> list = readPlistDictionaryFile(entry);
    if (!list) {
        return false;
    }
    const std::optional<std::string> label = canonicalString(*list, "Label");
    if (label && inSet(ids, *label)) {
        return true;
    }
    const std::optional<std::string> program =
        identity.appURL ? launchdProgram(*list) : std::nullopt;
    if (!program || !program->starts_with('/')) {
        return false;
    }
    const std::string bundle = canonicalIdentifier(standardisedPath(*identity.appURL)) + "/";
    return canonicalIdentifier(standardisedPath(*program)).starts_with(bundle);
}

}  // namespace

bool matches(const fs::path& entry, const Identity& identity, MatchRule rule) {
    const std::string name = canonicalIdentifier(entry.filename().string());
    const IdentifierSet& ids = identity.bundleIDs;
    switch (rule) {
        case MatchRule::exactBundleID:
            return inSet(ids, name);
        case MatchRule::bundleIDOrName:
            return inSet(ids, name) || isNameIgnoringCase(identity.names, name);
        case MatchRule::preferencesPlist:
            return isIdentifierWith(ids, name, ".plist");
        case MatchRule::byHostPlist:
            return isByHostName(ids, name);
        case MatchRule::containerFolder:
            return inSet(ids, name) || (isUuidText(name) && isContainerOf(entry, ids));
        case MatchRule::groupContainerFolder:
            return inSet(identity.groupIDs, name) || isGroupContainerName(ids, name);
        case MatchRule::scriptsFolder:
            return inSet(ids, name) || inSet(identity.groupIDs, name);
        case MatchRule::savedStateFolder:
            return isIdentifierWith(ids, name, ".savedState");
        case MatchRule::cookiesFile:
            return isIdentifierWith(ids, name, ".binarycookies");
        case MatchRule::httpStorageEntry:
            return inSet(ids, name) || isIdentifierWith(ids, name, ".binarycookies");
        case MatchRule::launchdPlist:
            return isIdentifierWith(ids, name, ".plist") || isLaunchdListOf(entry, identity, ids);
        case MatchRule::helperTool:
            return inSet(identity.privilegedHelperIDs, name);
    }
    return false;
}

}  // namespace cb::AppRelatedFiles
