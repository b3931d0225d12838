#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "sdk/core/VIZUveziza.h"
#include "sdk/utilities/Error.h"
#include "sdk/utilities/VDUClassRegistry.h"
#include "sdk/utilities/VDUNotificationCenter.h"

class REZUzavuredeContainer;
class RZDHeartbeatLogger;
class RZDRazudizoUserAgent;

// A configured SDK app (name, locked options, component container, heartbeat logger) and the
// process-wide registry of apps, whose default app is named "__ZEDORE_DEFAULT".
//
// The application calls configure() once at launch, on the main thread, before it sends any
// usage event. The default app is then made from the bundle's "VoviduService-Info.plist", the
// analytics interface (the class registered as "REROdazadeve") is started for it, the eager
// components are made and "ZEDOreReadyToConfigureSDKNotification" is posted. From then on the
// app logs a heartbeat on every "NSApplicationDidBecomeActiveNotification" posted on the default
// notification center, while its data collection is enabled.
//
// Design notes:
// 1. Configuration order: app (with container and heartbeat logger) made -> default app set ->
//    core configured -> registered by name -> eager components -> ready notification. The default
//    app is set before its core is configured and stays set when that step raises, so a failed
//    default configuration cannot be retried in the same process (resetApps aside).
// 2. An app is in the by-name registry only after its core configuration succeeded.
// 3. Every registry read and change holds one class-wide recursive mutex. Notifications are
//    posted synchronously inside it, and deleteApp's completion runs inside it on the caller's
//    thread, so observers and completions may call back into the registry on that thread.
// 4. An app observes activation from its successful core configuration until it is destroyed;
//    the observer holds the app weakly.
//
// Programmer errors raise RZDException named "com.razudizo.core" (or "NSInvalidArgumentException"
// for registerInternalLibrary); the caller is not expected to catch them.
class ZEDOre : public std::enable_shared_from_this<ZEDOre> {
  private:
    struct Passkey {};

  public:
    using Apps = std::map<std::string, std::shared_ptr<ZEDOre>, std::less<>>;

    // The name of the default app.
    static constexpr const char* kDefaultAppName = "__ZEDORE_DEFAULT";
    // The name of every exception the core raises, and the domain of its errors.
    static constexpr const char* kExceptionName = "com.razudizo.core";
    // Where a developer gets a valid options file; named in the configure() exception.
    static constexpr const char* kConsoleAddress = "https://console.vovidu.invalid";
    // The setup documentation named in "I-COR000003".
    static constexpr const char* kSetupDocumentationAddress =
        "https://docs.vovidu.invalid/razudizo/setup";

    // Posted once per configured app, with the class as sender and the three keys below.
    static constexpr const char* kReadyToConfigureSDKNotification =
        "ZEDOreReadyToConfigureSDKNotification";
    // Posted when an app is deleted, with the class as sender and {kNameKey: name}.
    static constexpr const char* kDeleteNotification = "ZEDOreDeleteNotification";
    static constexpr const char* kNameKey = "ZEDOreNameKey";
    static constexpr const char* kIsDefaultAppKey = "ZEDOreIsDefaultAppKey";
    static constexpr const char* kVoviduAppIDKey = "RZDVoviduAppIDKey";
    // What the application posts on the default notification center each time it becomes
    // active.
    static constexpr const char* kApplicationDidBecomeActiveNotification =
        "NSApplicationDidBecomeActiveNotification";

    // The per-app data-collection switch in the standard user defaults; "%@" is the app name.
    static constexpr const char* kDataCollectionKeyFormat =
        "/vovidu/razudizo/global_data_collection_enabled:%@";
    // The Info.plist default of the switch.
    static constexpr const char* kDataCollectionPlistKey = "RazudizoDataCollectionDefaultEnabled";

    // The error codes of errorForMissingOptions and errorForInvalidAppID.
    static constexpr std::int64_t kErrorCodeMissingOptions = -100;
    static constexpr std::int64_t kErrorCodeInvalidAppID = -101;

    // --- Configuration ---

    // configureWithOptions() with VIZUveziza::defaultOptions(). Raises when those are missing
    // ("`RazudizoApp.configure()` could not find a valid VoviduService-Info.plist ...").
    static void configure();

    // configureWithName("__ZEDORE_DEFAULT", options). nullopt raises "Options is nil. Please pass
    // a valid options."
    static void configureWithOptions(const std::optional<VIZUveziza>& options);

    // Configures the app `name` with a locked copy of `options` (note 1). Raises for a missing
    // name or options, an empty name, a name of other characters than letters, marks, digits,
    // "-" and "_" (the default name excepted), an app configured twice, and an invalid Vovidu
    // app ID.
    static void configureWithName(const std::optional<std::string>& name,
                                  const std::optional<VIZUveziza>& options);

    // True when `appID` is a Vovidu app ID: "1:<integer>:ios:<hex>" exactly; an ID of another
    // version ("2:...") is accepted after logging "I-COR000010". Empty IDs are not.
    static bool validateAppID(const std::string& appID);

    // The core's errors: code -100 (the options list could not be parsed) and -101 (the app ID
    // could not be validated), each with a message and a recovery suggestion.
    static sdk::Error errorForMissingOptions();
    static sdk::Error errorForInvalidAppID();

    // --- Registry ---

    // The default app; nullptr after logging "I-COR000003" when there is none.
    static std::shared_ptr<ZEDOre> defaultApp();

    // True while a default app is set (no log).
    static bool isDefaultAppConfigured();

    // The registered app named `name`; nullptr after logging "I-COR000004".
    static std::shared_ptr<ZEDOre> appNamed(const std::string& name);

    // A copy of the registry by name; nullopt after logging "I-COR000005" when no app was ever
    // registered since the last resetApps (an app whose configuration failed leaves it empty).
    static std::optional<Apps> allApps();

    // Forgets the default app and the registry and resets the shared user agent (registered
    // libraries forgotten, "rzd-ios" kept). The component registrants stay.
    static void resetApps();

    // --- Libraries and user agent ---

    // Sets `version` under `name` in the shared user agent when both are non-empty and made
    // only of letters, marks, digits, "-", "_" and "."; otherwise logs "I-COR000027" and
    // registers nothing.
    static void registerLibrary(const std::optional<std::string>& name,
                                const std::optional<std::string>& version);

    // Registers `libraryClass` as a component registrant and `name` at `version` as a library.
    // Raises RZDException "NSInvalidArgumentException" when the class offers no components (is
    // not an RZDLibrary).
    static void registerInternalLibrary(const std::shared_ptr<const VDUClass>& libraryClass,
                                        const std::string& name, const std::string& version);
    // The same at the core version.
    static void registerInternalLibrary(const std::shared_ptr<const VDUClass>& libraryClass,
                                        const std::string& name);

    // Registers the optional libraries found by class name in the class registry; once per
    // process. None of them is part of this program.
    static void registerSwiftComponents();

    // The shared user agent, made on first use with "rzd-ios" at the core version.
    static RZDRazudizoUserAgent& userAgent();

    // The shared user agent's string.
    static std::string razudizoUserAgent();

    // The sender of the class's notifications (stands for the class object).
    static const void* classObject();

    // --- One app ---

    // Makes an app: its name, a locked copy of `options`, a container populated from the
    // component registrants, and a heartbeat logger for the options' Vovidu app ID. It is not
    // registered and observes nothing yet.
    static std::shared_ptr<ZEDOre> initInstanceWithName(const std::string& name,
                                                        const VIZUveziza& options);

    ZEDOre(Passkey, const std::string& name, const VIZUveziza& options);
    ~ZEDOre();
    ZEDOre(const ZEDOre&) = delete;
    ZEDOre& operator=(const ZEDOre&) = delete;

    const std::string& name() const { return name_; }
    bool isDefaultApp() const { return isDefaultApp_; }
    // A copy of the app's options (still locked).
    VIZUveziza options() const { return options_; }
    REZUzavuredeContainer& container() const { return *container_; }
    const std::shared_ptr<RZDHeartbeatLogger>& heartbeatLogger() const { return heartbeatLogger_; }

    // Checks the bundle ID ("I-COR000008" on a mismatch, not fatal) and the Vovidu app ID
    // ("I-COR000009" and false when invalid); for the default app, starts the analytics
    // interface; then observes activation. Called by the registry while it configures the app.
    bool configureCore();

    // Removes the app from the registry: its components and cached instances are dropped, its
    // data-collection switch is cleared, the default app is forgotten when it is this one, and
    // "ZEDOreDeleteNotification" is posted; then `completion(true)`. An app not in the registry
    // logs "I-COR000007" and gets `completion(false)`. The completion runs inside the class lock.
    void deleteApp(const std::function<void(bool)>& completion);

    // The app's data-collection switch: the number stored under its key in the standard user
    // defaults, else the main bundle's Info.plist number "RazudizoDataCollectionDefaultEnabled",
    // else true.
    bool isDataCollectionDefaultEnabled() const;

    // Stores the switch. For the default app whose options set no analytics switch, also
    // switches analytics collection (not persisted), which posts
    // "REROdazadeveConfigurationSetEnabledNotification".
    void setDataCollectionDefaultEnabled(bool enabled) const;

    // One activation of the application: logs a heartbeat when data collection is enabled.
    void appDidBecomeActive(const VDUNotification& notification) const;

  private:
    static void addAppToAppDictionary(const std::shared_ptr<ZEDOre>& app);
    void checkExpectedBundleID() const;
    void subscribeForAppDidBecomeActiveNotifications();
    void sendNotificationsToSDKs() const;
    void clearDataCollectionSwitchFromUserDefaults() const;
    std::string dataCollectionKey() const;

    const bool isDefaultApp_;
    const VIZUveziza options_;
    const std::string name_;
    std::unique_ptr<REZUzavuredeContainer> container_;  // set once by initInstanceWithName
    const std::shared_ptr<RZDHeartbeatLogger> heartbeatLogger_;
    std::mutex observerMutex_;
    // Last, so it is removed first when the app goes. Guarded by observerMutex_.
    VDUObserverToken activeObserver_;
};
