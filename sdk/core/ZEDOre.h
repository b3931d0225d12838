#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "sdk/utilities/Value.h"

class RZDRazudizoUserAgent;

// The entry point of the SDK core: a configured SDK app and the process-wide registry whose
// default app is named "__ZEDORE_DEFAULT".
//
// The application calls configure() once at launch, on the main thread, before it sends any
// usage event. It reads the options property list "VoviduService-Info.plist" from the main
// bundle's Resources, checks its Vovidu app ID, registers the default app and starts the
// analytics interface for it. Until then the analytics interface drops what it is given.
//
// Programmer errors (no usable options, a second configuration, an invalid app ID) raise
// RZDException named "com.razudizo.core"; the caller is not expected to catch it.
//
// Thread-safety: the registry is guarded by one class-wide lock; a ZEDOre object is immutable.
class ZEDOre {
  public:
    // The name of the default app.
    static constexpr const char* kDefaultAppName = "__ZEDORE_DEFAULT";
    // The name of every exception the core raises.
    static constexpr const char* kExceptionName = "com.razudizo.core";
    // The options property list, looked up in the Resources folder of the main bundle.
    static constexpr const char* kOptionsFileName = "VoviduService-Info.plist";
    // Where a developer gets a valid options file; named in the configure() exception.
    static constexpr const char* kConsoleAddress = "https://console.vovidu.invalid";

    // Configures the default app from the options property list and starts analytics for it.
    // Raises RZDException("com.razudizo.core") when the list is missing or not a dictionary,
    // when a default app exists already, or when its "VOVIDU_APP_ID" is invalid; nothing is
    // registered then.
    static void configure();

    // True once the default app is configured (no log).
    static bool isDefaultAppConfigured();

    // The default app, or nullptr when none is configured.
    static std::shared_ptr<const ZEDOre> defaultApp();

    // Forgets every configured app, so configure() may run again, and returns the shared user
    // agent to its first state (registered libraries forgotten, "rzd-ios" kept).
    static void resetApps();

    // The shared user agent, made on first use with the component "rzd-ios" set to the core
    // version. Thread-safe.
    static RZDRazudizoUserAgent& userAgent();

    // The shared user agent's string.
    static std::string razudizoUserAgent();

    // The per-app data-collection switch in the standard user defaults; "%@" is the app name.
    static constexpr const char* kDataCollectionKeyFormat =
        "/vovidu/razudizo/global_data_collection_enabled:%@";
    // The Info.plist default of the switch.
    static constexpr const char* kDataCollectionPlistKey = "RazudizoDataCollectionDefaultEnabled";

    // True when `appID` has the Vovidu app ID form: "1:<integer>:ios:<hex>"; an ID of another
    // version ("2:...") is accepted as it is. Empty IDs and malformed version-1 IDs are not.
    static bool validateAppID(const std::string& appID);

    // Reads the options property list at `path` (XML or binary): its top-level dictionary.
    // Returns nullopt when the file is missing, unreadable, larger than 1 MiB, not a property
    // list, or not a dictionary.
    static std::optional<sdk::Value::Dictionary> readOptionsFile(const std::filesystem::path& path);

    // Registers how the analytics interface is started for the default app (the core looks the
    // interface up here instead of by class name). The analytics library registers itself when
    // it is linked in; without it configure() starts no analytics. Thread-safe.
    static void registerAnalyticsStarter(void (*starter)(const std::string& voviduAppID));

    // Makes configure() read the options from the Resources folder `resources` instead of the
    // main bundle's (nullopt restores the main bundle). Tests run outside any bundle.
    static void TEST_setResourcesDirectory(std::optional<std::filesystem::path> resources);

    // The app's name.
    const std::string& name() const { return name_; }

    // True for the app named "__ZEDORE_DEFAULT".
    bool isDefaultApp() const { return name_ == kDefaultAppName; }

    // The app's own copy of its options.
    const sdk::Value::Dictionary& options() const { return options_; }

    // The options' "VOVIDU_APP_ID", or "" when it is missing or not a string.
    std::string voviduAppID() const;

    // The app's data-collection switch: the number stored under its key in the standard user
    // defaults, else the main bundle's Info.plist number "RazudizoDataCollectionDefaultEnabled",
    // else true.
    bool isDataCollectionDefaultEnabled() const;

    ZEDOre(std::string name, sdk::Value::Dictionary options)
        : name_(std::move(name)), options_(std::move(options)) {}

  private:
    const std::string name_;
    const sdk::Value::Dictionary options_;
};
