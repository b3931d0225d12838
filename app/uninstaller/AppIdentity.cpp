// The identity half of the related-file search: buildIdentity() and appGroupIDs().
#include <algorithm>
#include <cctype>

#include "app/uninstaller/AppRelatedFiles.h"
#include "app/uninstaller/RelatedFilesSupport.h"
#include "platform/bundle/Bundle.h"
#include "platform/bundle/CodeSignature.h"

namespace cb::AppRelatedFiles {

namespace fs = std::filesystem;
using platform::PlistArray;
using platform::PlistDictionary;
using platform::PlistValue;

namespace {

// Deeper folders are not entered; far beyond any real bundle, it bounds the recursion.
constexpr size_t kMaxWalkDepth = 256;

bool isNestedBundleExtension(std::string extension) {
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return extension == ".app" || extension == ".appex" || extension == ".xpc";
}

// Appends to `bundles` the nested bundles below `folder`, depth first. A link is neither entered
// nor taken; a nested bundle is taken and still entered; a "*.framework" folder (that spelling
// only) is not entered.
void collectNestedBundles(const fs::path& folder, size_t depth, const std::atomic<bool>* stop,
                          std::vector<fs::path>& bundles) {
    for (const fs::path& entry : folderEntries(folder)) {
        if (stop != nullptr && stop->load(std::memory_order_relaxed)) {
            return;
        }
        std::error_code error;
        const fs::file_status status = fs::symlink_status(entry, error);
        if (fs::is_symlink(status)) {
            continue;
        }
        const std::string extension = entry.extension().string();
        if (isNestedBundleExtension(extension)) {
            bundles.push_back(entry);
        } else if (extension == ".framework") {
            continue;
        }
        if (fs::is_directory(status) && depth < kMaxWalkDepth) {
            collectNestedBundles(entry, depth + 1, stop, bundles);
        }
    }
}

// The keys of "SMPrivilegedExecutables" when it is a dictionary of strings to strings.
std::vector<std::string> privilegedHelperLabels(const PlistDictionary& info) {
    const auto found = info.find("SMPrivilegedExecutables");
    const PlistDictionary* helpers =
        found != info.end() ? found->second.getIf<PlistDictionary>() : nullptr;
    if (helpers == nullptr) {
        return {};
    }
    std::vector<std::string> labels;
    for (const auto& [label, requirement] : *helpers) {
        if (requirement.getIf<std::string>() == nullptr) {
            return {};
        }
        labels.push_back(label);
    }
    return labels;
}

// What the application bundle's own Info.plist adds: its names and its privileged helpers.
void addMainBundleInfo(const platform::Bundle& bundle, Identity& identity) {
    for (const char* key : {"CFBundleName", "CFBundleDisplayName"}) {
        std::optional<std::string> name = bundle.infoString(key);
        if (name && !name->empty()) {
            identity.names.insert(*name);
        }
    }
    for (std::string& label : privilegedHelperLabels(bundle.info())) {
        identity.privilegedHelperIDs.insert(label);
        identity.bundleIDs.insert(std::move(label));
    }
}

}  // namespace

IdentifierSet appGroupIDs(const fs::path& bundleURL) {
    const std::optional<platform::Bundle> bundle = platform::Bundle::open(bundleURL);
    const std::optional<fs::path> executable = bundle ? bundle->executablePath() : std::nullopt;
    const std::optional<PlistDictionary> entitlements =
        executable ? platform::readEntitlements(*executable) : std::nullopt;
    if (!entitlements) {
        return {};
    }
    const auto found = entitlements->find("com.apple.security.application-groups");
    const PlistArray* groups =
        found != entitlements->end() ? found->second.getIf<PlistArray>() : nullptr;
    if (groups == nullptr) {
        return {};
    }
    IdentifierSet result;
    for (const PlistValue& group : *groups) {
        const std::string* text = group.getIf<std::string>();
        if (text == nullptr) {
            return {};
        }
        result.insert(*text);
    }
    return result;
}

Identity buildIdentity(const std::string& bundleID, const std::string& name,
                       const std::optional<fs::path>& appURL, const std::atomic<bool>* stop) {
    Identity identity{{bundleID}, {name}, {}, {}, appURL};
    if (!appURL) {
        return identity;
    }
    const fs::path app = standardisedPath(*appURL);
    identity.names.insert(app.stem().string());
    std::vector<fs::path> bundles = {*appURL};
    collectNestedBundles(*appURL / "Contents", 0, stop, bundles);
    // The application bundle comes first; only its own Info.plist gives names and helpers.
    for (size_t i = 0; i < bundles.size(); ++i) {
        if (std::optional<platform::Bundle> bundle = platform::Bundle::open(bundles[i])) {
            if (std::optional<std::string> identifier = bundle->identifier()) {
                identity.bundleIDs.insert(*identifier);
            }
            if (i == 0) {
                addMainBundleInfo(*bundle, identity);
            }
        }
        identity.groupIDs.insertAll(appGroupIDs(bundles[i]));
    }
    return identity;
}

}  // namespace cb::AppRelatedFiles
