#include "sdk/core/VIZUveziza.h"

#include <cstdlib>
#include <fstream>
#include <iterator>

#include "platform/bundle/Bundle.h"
#include "sdk/core/RZDBundleUtil.h"
#include "sdk/core/RZDCoreVersionString.h"
#include "sdk/core/RZDException.h"
#include "sdk/core/RZDLogger.h"
#include "sdk/core/ZEDOre.h"
#include "sdk/utilities/ValuePlist.h"

namespace {

constexpr const char* kLockedReason =
    "Attempted to modify options after it's set on ZEDOre. Please modify all properties before "
    "initializing ZEDOre.";

// The default list, read at most once until resetDefaultOptions().
struct DefaultOptions {
    std::mutex mutex;
    bool dictionaryRead = false;                       // guarded by mutex
    std::optional<sdk::Value::Dictionary> dictionary;  // guarded by mutex
    bool optionsBuilt = false;                         // guarded by mutex
    std::optional<VIZUveziza> options;                 // guarded by mutex
};

DefaultOptions& defaults() {
    static DefaultOptions* const instance = new DefaultOptions();  // lives until exit
    return *instance;
}

// A switch value read as a boolean: a number is true when not zero; a string is true when it
// begins with "Y", "y", "T", "t" or a digit 1 to 9, as the platform reads "YES" from a list.
bool boolOf(const sdk::Value& value) {
    if (std::optional<bool> number = value.numberAsBool()) {
        return *number;
    }
    const std::string* text = value.string();
    return text != nullptr && !text->empty() &&
           std::string_view("YyTt123456789").find(text->front()) != std::string_view::npos;
}

// The main bundle's Info.plist as values; empty outside a bundle.
sdk::Value::Dictionary mainInfoDictionary() {
    sdk::Value::Dictionary info;
    if (const std::optional<platform::Bundle>& bundle = platform::Bundle::main()) {
        for (const auto& [key, value] : bundle->info()) {
            info.emplace(key, sdk::valueFromPlistValue(value));
        }
    }
    return info;
}

std::size_t hashOf(const std::optional<std::string>& text) {
    return text ? std::hash<std::string>()(*text) : 0;
}

}  // namespace

VIZUveziza::VIZUveziza(sdk::Value::Dictionary dictionary)
    : optionsDictionary_(std::move(dictionary)) {}

VIZUveziza::VIZUveziza(std::optional<std::string> voviduAppID,
                       std::optional<std::string> RCMSenderID) {
    if (voviduAppID) {
        optionsDictionary_.emplace("VOVIDU_APP_ID", std::move(*voviduAppID));
    }
    if (RCMSenderID) {
        optionsDictionary_.emplace("RCM_SENDER_ID", std::move(*RCMSenderID));
    }
    const std::optional<platform::Bundle>& main = platform::Bundle::main();
    if (std::optional<std::string> identifier = main ? main->identifier() : std::nullopt) {
        optionsDictionary_.emplace("BUNDLE_ID", std::move(*identifier));
    }
}

VIZUveziza VIZUveziza::initInternalWithOptionsDictionary(sdk::Value::Dictionary dictionary) {
    VIZUveziza options(std::move(dictionary));
    options.usingOptionsFromDefaultPlist_ = true;
    return options;
}

VIZUveziza::VIZUveziza(const VIZUveziza& other)
    : usingOptionsFromDefaultPlist_(other.usingOptionsFromDefaultPlist_),
      editingLocked_(other.editingLocked_),
      deepLinkURLScheme_(other.deepLinkURLScheme_),
      appGroupID_(other.appGroupID_),
      optionsDictionary_(other.optionsDictionary_) {}

VIZUveziza& VIZUveziza::operator=(const VIZUveziza& other) {
    if (this != &other) {
        {
            std::lock_guard lock(analyticsMutex_);
            analyticsOptions_.reset();
        }
        usingOptionsFromDefaultPlist_ = other.usingOptionsFromDefaultPlist_;
        editingLocked_ = other.editingLocked_;
        deepLinkURLScheme_ = other.deepLinkURLScheme_;
        appGroupID_ = other.appGroupID_;
        optionsDictionary_ = other.optionsDictionary_;
    }
    return *this;
}

std::optional<sdk::Value::Dictionary> VIZUveziza::dictionaryWithContentsOfFile(
    const std::filesystem::path& path) {
    std::error_code error;
    const std::uintmax_t size = std::filesystem::file_size(path, error);
    if (error || size == 0 || size > kMaxOptionsFileSize) {
        return std::nullopt;
    }
    std::ifstream file(path, std::ios::binary);
    sdk::Bytes bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    if (file.bad() || bytes.size() > kMaxOptionsFileSize) {
        return std::nullopt;
    }
    sdk::Value root;
    if (!sdk::valueFromPlist(bytes, &root).ok() || !root.isDictionary()) {
        return std::nullopt;
    }
    return std::move(*root.dictionary());
}

std::optional<std::filesystem::path> VIZUveziza::plistFilePathWithName(std::string_view name) {
    std::optional<std::filesystem::path> path =
        RZDBundleUtil::optionsDictionaryPathWithResourceName(name, kOptionsResourceType,
                                                             RZDBundleUtil::relevantBundles());
    if (!path) {
        RZDLoggerLogError(kRZDLoggerServiceCore, "I-COR000012",
                          "Could not locate configuration file: '%@.%@'.", name,
                          kOptionsResourceType);
    }
    return path;
}

std::optional<sdk::Value::Dictionary> VIZUveziza::defaultOptionsDictionary() {
    DefaultOptions& state = defaults();
    std::lock_guard lock(state.mutex);
    if (!state.dictionaryRead) {
        state.dictionaryRead = true;
        if (std::optional<std::filesystem::path> path =
                plistFilePathWithName(kOptionsResourceName)) {
            state.dictionary = dictionaryWithContentsOfFile(*path);
            if (!state.dictionary) {
                RZDLoggerLogError(kRZDLoggerServiceCore, "I-COR000011",
                                  "The configuration file is not a dictionary: '%@.%@'.",
                                  kOptionsResourceName, kOptionsResourceType);
            }
        }
    }
    return state.dictionary;
}

std::optional<VIZUveziza> VIZUveziza::defaultOptions() {
    std::optional<sdk::Value::Dictionary> dictionary = defaultOptionsDictionary();
    DefaultOptions& state = defaults();
    std::lock_guard lock(state.mutex);
    if (!state.optionsBuilt) {
        state.optionsBuilt = true;
        if (dictionary) {
            state.options.emplace(initInternalWithOptionsDictionary(std::move(*dictionary)));
        }
    }
    return state.options;
}

void VIZUveziza::resetDefaultOptions() {
    DefaultOptions& state = defaults();
    std::lock_guard lock(state.mutex);
    state.dictionaryRead = false;
    state.dictionary.reset();
    state.optionsBuilt = false;
    state.options.reset();
}

std::optional<VIZUveziza> VIZUveziza::initWithContentsOfFile(
    const std::optional<std::filesystem::path>& path) {
    if (!path) {
        RZDLoggerLogError(kRZDLoggerServiceCore, "I-COR000013", "The plist file path is nil.");
        return std::nullopt;
    }
    std::optional<sdk::Value::Dictionary> dictionary = dictionaryWithContentsOfFile(*path);
    if (!dictionary) {
        RZDLoggerLogError(
            kRZDLoggerServiceCore, "I-COR000014",
            "The configuration file at %@ does not exist or is not a well-formed plist file.",
            path->string());
        return std::nullopt;
    }
    return VIZUveziza(std::move(*dictionary));
}

std::optional<std::string> VIZUveziza::stringForKey(const char* key) const {
    auto it = optionsDictionary_.find(key);
    if (it == optionsDictionary_.end() || it->second.string() == nullptr) {
        return std::nullopt;
    }
    return *it->second.string();
}

void VIZUveziza::setStringForKey(const char* key, std::optional<std::string> value) {
    checkEditingLocked();
    if (value) {
        optionsDictionary_[key] = std::move(*value);
    } else {
        optionsDictionary_.erase(key);
    }
}

void VIZUveziza::setDeepLinkURLScheme(std::optional<std::string> value) {
    checkEditingLocked();
    deepLinkURLScheme_ = std::move(value);
}

void VIZUveziza::setAppGroupID(std::optional<std::string> value) {
    checkEditingLocked();
    appGroupID_ = std::move(value);
}

void VIZUveziza::checkEditingLocked() const {
    if (editingLocked_) {
        throw RZDException(ZEDOre::kExceptionName, kLockedReason);
    }
}

const std::string& VIZUveziza::libraryVersionID() {
    static const std::string& id = *new std::string([] {
        const std::string version = RZDCoreVersionString();
        std::string digits;
        size_t start = 0;
        for (int part = 0; part < 3; ++part) {
            size_t end = version.find('.', start);
            const std::string piece =
                version.substr(start, end == std::string::npos ? std::string::npos : end - start);
            digits += sdk::formatString("%02d", {{sdk::FormatArg(std::atoi(piece.c_str()))}});
            start = end == std::string::npos ? version.size() : end + 1;
        }
        return digits + "000";
    }());  // lives for the process
    return id;
}

bool VIZUveziza::isEqualToOptions(const VIZUveziza& other) const {
    return optionsDictionary_ == other.optionsDictionary_ &&
           deepLinkURLScheme_ == other.deepLinkURLScheme_ && appGroupID_ == other.appGroupID_ &&
           analyticsOptionsDictionary() == other.analyticsOptionsDictionary();
}

std::size_t VIZUveziza::hash() const {
    std::size_t keys = optionsDictionary_.size();
    for (const auto& entry : optionsDictionary_) {
        keys = keys * 31 + std::hash<std::string>()(entry.first);
    }
    return keys ^ hashOf(deepLinkURLScheme_) ^ hashOf(appGroupID_);
}

sdk::Value::Dictionary VIZUveziza::analyticsOptionsDictionary() const {
    {
        std::lock_guard lock(analyticsMutex_);
        if (analyticsOptions_) {
            return *analyticsOptions_;
        }
    }
    return analyticsOptionsDictionaryWithInfoDictionary(mainInfoDictionary());
}

sdk::Value::Dictionary VIZUveziza::analyticsOptionsDictionaryWithInfoDictionary(
    const sdk::Value::Dictionary& info) const {
    std::lock_guard lock(analyticsMutex_);
    if (!analyticsOptions_) {
        sdk::Value::Dictionary switches;
        for (const char* key : {kIsMeasurementEnabled, kAnalyticsCollectionEnabled,
                                kAnalyticsCollectionDeactivated}) {
            if (auto it = info.find(key); it != info.end()) {
                switches.emplace(key, it->second);
            } else if (auto own = optionsDictionary_.find(key); own != optionsDictionary_.end()) {
                switches.emplace(key, own->second);
            }
        }
        analyticsOptions_ = std::move(switches);
    }
    return *analyticsOptions_;
}

bool VIZUveziza::isAnalyticsCollectionDeactivated() const {
    const sdk::Value::Dictionary switches = analyticsOptionsDictionary();
    auto it = switches.find(kAnalyticsCollectionDeactivated);
    return it != switches.end() && boolOf(it->second);
}

bool VIZUveziza::isMeasurementEnabled() const {
    if (isAnalyticsCollectionDeactivated()) {
        return false;
    }
    const sdk::Value::Dictionary switches = analyticsOptionsDictionary();
    if (auto it = switches.find(kIsMeasurementEnabled); it != switches.end()) {
        return boolOf(it->second);
    }
    // Asked first, so the absent default app is an answer here rather than a logged error.
    if (!ZEDOre::isDefaultAppConfigured()) {
        return false;
    }
    std::shared_ptr<const ZEDOre> app = ZEDOre::defaultApp();
    return app && app->isDataCollectionDefaultEnabled();
}

bool VIZUveziza::isAnalyticsCollectionEnabled() const {
    if (isAnalyticsCollectionDeactivated()) {
        return false;
    }
    const sdk::Value::Dictionary switches = analyticsOptionsDictionary();
    if (auto it = switches.find(kAnalyticsCollectionEnabled); it != switches.end()) {
        return boolOf(it->second);
    }
    return isMeasurementEnabled();
}

bool VIZUveziza::isAnalyticsCollectionExplicitlySet() const {
    if (isAnalyticsCollectionDeactivated()) {
        return true;
    }
    const sdk::Value::Dictionary switches = analyticsOptionsDictionary();
    for (const char* key : {kAnalyticsCollectionEnabled, kIsMeasurementEnabled}) {
        if (auto it = switches.find(key); it != switches.end() && it->second.isNumber()) {
            return true;
        }
    }
    return false;
}
