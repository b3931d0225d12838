#include "sdk/core/ZEDOre.h"

#include <unicode/uchar.h>
#include <unicode/utf8.h>

#include <cctype>
#include <string_view>

#include "platform/bundle/Bundle.h"
#include "sdk/core/REROdazadeveConfiguration.h"
#include "sdk/core/REZUzavuredeContainer.h"
#include "sdk/core/RZDAnalyticsStarting.h"
#include "sdk/core/RZDBundleUtil.h"
#include "sdk/core/RZDConfiguration.h"
#include "sdk/core/RZDCoreVersionString.h"
#include "sdk/core/RZDException.h"
#include "sdk/core/RZDHeartbeatLogger.h"
#include "sdk/core/RZDLogger.h"
#include "sdk/core/RZDRazudizoUserAgent.h"
#include "sdk/utilities/FormatString.h"
#include "sdk/utilities/VDUUserDefaults.h"
#include "sdk/utilities/ValuePlist.h"

namespace {

// The class-wide registry (design note 3).
struct Registry {
    std::recursive_mutex mutex;
    std::shared_ptr<ZEDOre> defaultApp;   // guarded by mutex
    std::optional<ZEDOre::Apps> allApps;  // guarded by mutex; made on the first registration
};

Registry& registry() {
    static Registry* const instance = new Registry();  // never destroyed: used until exit
    return *instance;
}

// The user-agent component of the core itself.
constexpr const char* kCoreComponent = "rzd-ios";
constexpr const char* kOptionsResourceName = "VoviduService-Info";
constexpr const char* kOptionsResourceType = "plist";

// True when `text` is valid UTF-8 whose every code point is a letter, a mark, a number or one
// of `extra`.
bool consistsOfAllowedCharacters(std::string_view text, std::string_view extra) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
    const auto length = static_cast<int32_t>(text.size());
    if (text.size() != static_cast<size_t>(length)) {
        return false;
    }
    for (int32_t i = 0; i < length;) {
        UChar32 c = 0;
        U8_NEXT(bytes, i, length, c);
        if (c < 0) {
            return false;  // not UTF-8
        }
        const bool allowed =
            (U_GET_GC_MASK(c) & (U_GC_L_MASK | U_GC_M_MASK | U_GC_N_MASK)) != 0 ||
            (c < 0x80 && extra.find(static_cast<char>(c)) != std::string_view::npos);
        if (!allowed) {
            return false;
        }
    }
    return true;
}

// Reads a run of decimal digits at `pos`; returns false when there is none.
bool scanDigits(const std::string& text, size_t& pos) {
    const size_t start = pos;
    while (pos < text.size() && std::isdigit(static_cast<unsigned char>(text[pos])) != 0) {
        ++pos;
    }
    return pos > start;
}

// Reads a signed decimal integer at `pos`.
bool scanInteger(const std::string& text, size_t& pos) {
    if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) {
        ++pos;
    }
    return scanDigits(text, pos);
}

// Reads a hexadecimal number (an optional "0x" prefix, then hex digits) at `pos`.
bool scanHex(const std::string& text, size_t& pos) {
    if (pos + 2 < text.size() && text[pos] == '0' &&
        (text[pos + 1] == 'x' || text[pos + 1] == 'X') &&
        std::isxdigit(static_cast<unsigned char>(text[pos + 2])) != 0) {
        pos += 2;
    }
    const size_t start = pos;
    while (pos < text.size() && std::isxdigit(static_cast<unsigned char>(text[pos])) != 0) {
        ++pos;
    }
    return pos > start;
}

bool scanLiteral(const std::string& text, size_t& pos, char c) {
    if (pos < text.size() && text[pos] == c) {
        ++pos;
        return true;
    }
    return false;
}

// The whole version-1 form: "1:<integer>:ios:<hex>" and nothing after it. This also pins the
// four ":"-separated parts with a hexadecimal last one.
bool validateVersionOneFormat(const std::string& appID) {
    size_t pos = 0;
    if (!scanDigits(appID, pos) || !scanLiteral(appID, pos, ':') || !scanInteger(appID, pos) ||
        !scanLiteral(appID, pos, ':')) {
        return false;
    }
    const size_t platformEnd = appID.find(':', pos);
    if (platformEnd == std::string::npos || appID.compare(pos, platformEnd - pos, "ios") != 0) {
        return false;
    }
    pos = platformEnd + 1;
    return scanHex(appID, pos) && pos == appID.size();
}

// Raises when an app of `name` is configured already. REQUIRES: the class lock is held.
void raiseIfConfigured(const std::string& name) {
    Registry& r = registry();
    if (name == ZEDOre::kDefaultAppName) {
        if (r.defaultApp) {
            throw RZDException(ZEDOre::kExceptionName, "Default app has already been configured.");
        }
    } else if (r.allApps && r.allApps->contains(name)) {
        throw RZDException(ZEDOre::kExceptionName,
                           sdk::formatString("App named %@ has already been configured.",
                                             {{sdk::FormatArg(name)}}));
    }
}

}  // namespace

// --- Configuration ---

void ZEDOre::configure() {
    std::optional<VIZUveziza> options = VIZUveziza::defaultOptions();
    if (!options) {
        throw RZDException(kExceptionName,
                           sdk::formatString("`RazudizoApp.configure()` could not find a valid "
                                             "VoviduService-Info.plist in your project. Please "
                                             "download one from %@.",
                                             {{sdk::FormatArg(kConsoleAddress)}}));
    }
    configureWithOptions(options);
}

void ZEDOre::configureWithOptions(const std::optional<VIZUveziza>& options) {
    if (!options) {
        throw RZDException(kExceptionName, "Options is nil. Please pass a valid options.");
    }
    configureWithName(std::string(kDefaultAppName), options);
}

void ZEDOre::configureWithName(const std::optional<std::string>& name,
                               const std::optional<VIZUveziza>& options) {
    if (!name || !options) {
        throw RZDException(kExceptionName, "Neither name nor options can be nil.");
    }
    if (name->empty()) {
        throw RZDException(kExceptionName, "Name cannot be empty.");
    }
    if (*name == kDefaultAppName) {
        {
            std::lock_guard lock(registry().mutex);
            raiseIfConfigured(*name);
        }
        RZDLoggerLogDebug(kRZDLoggerServiceCore, "I-COR000001", "Configuring the default app.");
    } else {
        if (!consistsOfAllowedCharacters(*name, "-_")) {
            throw RZDException(kExceptionName,
                               "App name can only contain alphanumeric, hyphen (-), and "
                               "underscore (_) characters");
        }
        {
            std::lock_guard lock(registry().mutex);
            raiseIfConfigured(*name);
        }
        RZDLoggerLogDebug(kRZDLoggerServiceCore, "I-COR000002", "Configuring app named %@", *name);
    }
    registerSwiftComponents();

    std::lock_guard lock(registry().mutex);
    // Checked again: another thread may have configured the name since the check above.
    raiseIfConfigured(*name);
    std::shared_ptr<ZEDOre> app = initInstanceWithName(*name, *options);
    if (app->isDefaultApp()) {
        registry().defaultApp = app;  // before its core is configured (design note 1)
    }
    addAppToAppDictionary(app);
    app->container().instantiateEagerComponents();
    app->sendNotificationsToSDKs();
}

void ZEDOre::addAppToAppDictionary(const std::shared_ptr<ZEDOre>& app) {
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    if (!r.allApps) {
        r.allApps.emplace();
    }
    if (!app->configureCore()) {
        throw RZDException(kExceptionName,
                           "Configuration fails. It may be caused by an invalid VOVIDU_APP_ID in "
                           "VoviduService-Info.plist or set in the customized options.");
    }
    r.allApps->insert_or_assign(app->name(), app);
}

bool ZEDOre::configureCore() {
    checkExpectedBundleID();
    if (!validateAppID(options_.voviduAppID().value_or(""))) {
        const std::optional<std::string> bundleID = options_.bundleID();
        RZDLoggerLogError(
            kRZDLoggerServiceCore, "I-COR000009",
            "The VOVIDU_APP_ID either in the plist file '%@.%@' or the one set in the customized "
            "options is invalid. If you are using the plist file, use the iOS version of bundle "
            "identifier to download the file, and do not manually edit the VOVIDU_APP_ID. You "
            "may change your app's bundle identifier to '%@'. Or you can download a new "
            "configuration file that matches your bundle identifier from %@ and replace the "
            "current one.",
            kOptionsResourceName, kOptionsResourceType, bundleID ? bundleID->c_str() : nullptr,
            kConsoleAddress);
        return false;
    }
    if (isDefaultApp_) {
        if (std::shared_ptr<const RZDAnalyticsStarting> analytics =
                VDUClassRegistry::classNamed<RZDAnalyticsStarting>("REROdazadeve")) {
            analytics->startWithConfiguration(
                RZDConfiguration::sharedInstance().analyticsConfiguration(), options_);
        }
    }
    subscribeForAppDidBecomeActiveNotifications();
    return true;
}

void ZEDOre::checkExpectedBundleID() const {
    const std::optional<std::string> expected = options_.bundleID();
    if (!expected ||
        RZDBundleUtil::hasBundleIdentifierPrefix(*expected, RZDBundleUtil::relevantBundles())) {
        return;
    }
    RZDLoggerLogError(
        kRZDLoggerServiceCore, "I-COR000008",
        "The project's Bundle ID is inconsistent with either the Bundle ID in '%@.%@', or the "
        "Bundle ID in the options if you are using a customized options. To ensure that "
        "everything can be configured correctly, you may need to make the Bundle IDs consistent. "
        "To continue with this plist file, you may change your app's bundle identifier to '%@'. "
        "Or you can download a new configuration file that matches your bundle identifier from "
        "%@ and replace the current one.",
        kOptionsResourceName, kOptionsResourceType, *expected, kConsoleAddress);
}

void ZEDOre::subscribeForAppDidBecomeActiveNotifications() {
    // Weakly: the registration must not keep the app alive (design note 4).
    std::weak_ptr<const ZEDOre> weak = weak_from_this();
    VDUObserverToken token = VDUNotificationCenter::defaultCenter().addObserverForName(
        std::string(kApplicationDidBecomeActiveNotification), nullptr,
        [weak](const VDUNotification& notification) {
            if (std::shared_ptr<const ZEDOre> app = weak.lock()) {
                app->appDidBecomeActive(notification);
            }
        });
    std::lock_guard lock(observerMutex_);
    activeObserver_ = std::move(token);
}

void ZEDOre::sendNotificationsToSDKs() const {
    VDUNotificationCenter::defaultCenter().postNotificationName(
        kReadyToConfigureSDKNotification, classObject(),
        {{kNameKey, name_},
         {kIsDefaultAppKey, isDefaultApp_},
         {kVoviduAppIDKey, options_.voviduAppID().value_or("")}});
}

bool ZEDOre::validateAppID(const std::string& appID) {
    size_t pos = 0;
    if (appID.empty() || !scanDigits(appID, pos)) {
        return false;
    }
    const std::string version = appID.substr(0, pos);
    if (!scanLiteral(appID, pos, ':')) {
        return false;
    }
    if (version != "1") {
        RZDLoggerLogInfo(kRZDLoggerServiceCore, "I-COR000010", "Unknown VOVIDU_APP_ID version: %@",
                         version);
        return true;
    }
    return validateVersionOneFormat(appID);
}

sdk::Error ZEDOre::errorForMissingOptions() {
    return sdk::Error(kExceptionName, kErrorCodeMissingOptions,
                      "Unable to parse VoviduService-Info.plist in order to configure services.",
                      {{"NSLocalizedRecoverySuggestion",
                        "Check formatting and location of VoviduService-Info.plist."}});
}

sdk::Error ZEDOre::errorForInvalidAppID() {
    return sdk::Error(kExceptionName, kErrorCodeInvalidAppID, "Unable to validate Vovidu App ID",
                      {{"NSLocalizedRecoverySuggestion",
                        "Check formatting and location of VoviduService-Info.plist or VoviduAppID "
                        "set in the customized options."}});
}

// --- Registry ---

std::shared_ptr<ZEDOre> ZEDOre::defaultApp() {
    std::shared_ptr<ZEDOre> app;
    {
        std::lock_guard lock(registry().mutex);
        app = registry().defaultApp;
    }
    if (!app) {
        RZDLoggerLogError(kRZDLoggerServiceCore, "I-COR000003", "%@%@",
                          "The default Razudizo app has not yet been configured. Add "
                          "`RazudizoApp.configure()` to your application initialization. This "
                          "can be done in in the App Delegate's "
                          "application(_:didFinishLaunchingWithOptions:)` (or the `@main` "
                          "struct's initializer in SwiftUI). Read more: ",
                          kSetupDocumentationAddress);
    }
    return app;
}

bool ZEDOre::isDefaultAppConfigured() {
    std::lock_guard lock(registry().mutex);
    return registry().defaultApp != nullptr;
}

std::shared_ptr<ZEDOre> ZEDOre::appNamed(const std::string& name) {
    {
        std::lock_guard lock(registry().mutex);
        const Registry& r = registry();
        if (r.allApps) {
            if (auto it = r.allApps->find(name); it != r.allApps->end()) {
                return it->second;
            }
        }
    }
    RZDLoggerLogError(kRZDLoggerServiceCore, "I-COR000004", "App with name %@ does not exist.",
                      name);
    return nullptr;
}

std::optional<ZEDOre::Apps> ZEDOre::allApps() {
    {
        std::lock_guard lock(registry().mutex);
        if (registry().allApps) {
            return registry().allApps;
        }
    }
    RZDLoggerLogError(kRZDLoggerServiceCore, "I-COR000005", "No app has been configured yet.");
    return std::nullopt;
}

void ZEDOre::resetApps() {
    std::lock_guard lock(registry().mutex);
    registry().defaultApp.reset();
    registry().allApps.reset();
    RZDRazudizoUserAgent& agent = userAgent();
    agent.reset();
    // reset() forgets every library; "rzd-ios" is part of the agent's first state.
    agent.setValue(RZDCoreVersionString(), kCoreComponent);
}

// --- Libraries and user agent ---

void ZEDOre::registerLibrary(const std::optional<std::string>& name,
                             const std::optional<std::string>& version) {
    // An empty name or version would make a malformed "name/version" entry of the agent.
    if (name && version && !name->empty() && !version->empty() &&
        consistsOfAllowedCharacters(*name, "-_.") && consistsOfAllowedCharacters(*version, "-_.")) {
        userAgent().setValue(*version, *name);
        return;
    }
    RZDLoggerLogError(kRZDLoggerServiceCore, "I-COR000027",
                      "The library name (%@) or version number (%@) contain invalid characters. "
                      "Only alphanumeric, dash, underscore and period characters are allowed.",
                      name ? name->c_str() : nullptr, version ? version->c_str() : nullptr);
}

void ZEDOre::registerInternalLibrary(const std::shared_ptr<const VDUClass>& libraryClass,
                                     const std::string& name, const std::string& version) {
    std::shared_ptr<const RZDLibrary> library =
        std::dynamic_pointer_cast<const RZDLibrary>(libraryClass);
    if (!library) {
        throw RZDException(
            "NSInvalidArgumentException",
            sdk::formatString(
                "Class %@ attempted to register components, but it does not "
                "conform to `RZDLibrary or provide a `componentsToRegister:` "
                "method.",
                {{sdk::FormatArg(libraryClass ? libraryClass->className().c_str() : nullptr)}}));
    }
    REZUzavuredeContainer::registerAsComponentRegistrant(library);
    registerLibrary(name, version);
}

void ZEDOre::registerInternalLibrary(const std::shared_ptr<const VDUClass>& libraryClass,
                                     const std::string& name) {
    registerInternalLibrary(libraryClass, name, RZDCoreVersionString());
}

void ZEDOre::registerSwiftComponents() {
    static std::once_flag once;
    std::call_once(once, [] {
        static constexpr std::pair<const char*, const char*> kComponentLibraries[] = {
            {"RZDSessions", "rzd-ses"},
            {"RZDAuthComponent", "rzd-auth"},
        };
        static constexpr std::pair<const char*, const char*> kVersionedLibraries[] = {
            {"RZDCombineAuthLibrary", "comb-auth"},
            {"RZDCombineDocstoreLibrary", "comb-firestore"},
            {"RZDCombineFunctionsLibrary", "comb-functions"},
            {"RZDCombineStorageLibrary", "comb-storage"},
            {"RZDFunctions", "rzd-fun"},
            {"RZDStorage", "rzd-str"},
            {"RZDDataLinkComponent", "rzd-dc"},
        };
        for (const auto& [className, library] : kComponentLibraries) {
            if (auto cls = VDUClassRegistry::classNamed<RZDLibrary>(className)) {
                registerInternalLibrary(cls, library);
            }
        }
        for (const auto& [className, library] : kVersionedLibraries) {
            if (auto cls = VDUClassRegistry::classNamed(className)) {
                registerLibrary(library, cls->sdkVersion().value_or(RZDCoreVersionString()));
            }
        }
    });
}

RZDRazudizoUserAgent& ZEDOre::userAgent() {
    static RZDRazudizoUserAgent* const agent = [] {
        auto* made = new RZDRazudizoUserAgent();  // lives until exit
        made->setValue(RZDCoreVersionString(), kCoreComponent);
        return made;
    }();
    return *agent;
}

std::string ZEDOre::razudizoUserAgent() {
    return userAgent().razudizoUserAgent();
}

const void* ZEDOre::classObject() {
    static const char tag = 0;
    return &tag;
}

// --- One app ---

std::shared_ptr<ZEDOre> ZEDOre::initInstanceWithName(const std::string& name,
                                                     const VIZUveziza& options) {
    auto app = std::make_shared<ZEDOre>(Passkey{}, name, options);
    // The container holds the app weakly, so it is made once the app is shared.
    app->container_ = std::make_unique<REZUzavuredeContainer>(app);
    return app;
}

namespace {
VIZUveziza lockedCopy(const VIZUveziza& options) {
    VIZUveziza copy = options;
    copy.setEditingLocked(true);
    return copy;
}
}  // namespace

ZEDOre::ZEDOre(Passkey, const std::string& name, const VIZUveziza& options)
    : isDefaultApp_(name == kDefaultAppName),
      options_(lockedCopy(options)),
      name_(name),
      heartbeatLogger_(std::make_shared<RZDHeartbeatLogger>(options_.voviduAppID().value_or(""))) {}

ZEDOre::~ZEDOre() = default;

void ZEDOre::deleteApp(const std::function<void(bool)>& completion) {
    const std::shared_ptr<ZEDOre> self = shared_from_this();  // the registry may hold the last
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    // This very app: a deleted app must not remove a newer one configured under its name.
    auto it = r.allApps ? r.allApps->find(name_) : ZEDOre::Apps::iterator();
    if (!r.allApps || it == r.allApps->end() || it->second != self) {
        RZDLoggerLogError(kRZDLoggerServiceCore, "I-COR000007", "App does not exist.");
        if (completion) {
            completion(false);
        }
        return;
    }
    RZDLoggerLogDebug(kRZDLoggerServiceCore, "I-COR000006", "Deleting app named %@", name_);
    container_->removeAllComponents();
    container_->removeAllCachedInstances();
    r.allApps->erase(it);
    clearDataCollectionSwitchFromUserDefaults();
    if (name_ == kDefaultAppName) {
        r.defaultApp.reset();
    }
    VDUNotificationCenter::defaultCenter().postNotificationName(kDeleteNotification, classObject(),
                                                                {{kNameKey, name_}});
    if (completion) {
        completion(true);
    }
}

std::string ZEDOre::dataCollectionKey() const {
    return sdk::formatString(kDataCollectionKeyFormat, {{sdk::FormatArg(name_)}});
}

bool ZEDOre::isDataCollectionDefaultEnabled() const {
    std::optional<sdk::Value> stored =
        VDUUserDefaults::standardUserDefaults().objectForKey(dataCollectionKey());
    if (stored && stored->isNumber()) {
        return *stored->numberAsBool();
    }
    // The main bundle, with its Info.plist, is read once per process.
    if (const std::optional<platform::Bundle>& bundle = platform::Bundle::main()) {
        auto it = bundle->info().find(kDataCollectionPlistKey);
        if (it != bundle->info().end()) {
            const sdk::Value value = sdk::valueFromPlistValue(it->second);
            if (value.isNumber()) {
                return *value.numberAsBool();
            }
        }
    }
    return true;
}

void ZEDOre::setDataCollectionDefaultEnabled(bool enabled) const {
    VDUUserDefaults::standardUserDefaults().setBool(enabled, dataCollectionKey());
    if (isDefaultApp_ && !options_.isAnalyticsCollectionExplicitlySet()) {
        REROdazadeveConfiguration::sharedInstance()->setAnalyticsCollectionEnabled(enabled, false);
    }
}

void ZEDOre::clearDataCollectionSwitchFromUserDefaults() const {
    VDUUserDefaults::standardUserDefaults().removeObjectForKey(dataCollectionKey());
}

void ZEDOre::appDidBecomeActive(const VDUNotification& /*notification*/) const {
    if (isDataCollectionDefaultEnabled()) {
        heartbeatLogger_->log();
    }
}
