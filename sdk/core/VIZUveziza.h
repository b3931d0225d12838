#pragma once

#include <cstddef>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "sdk/utilities/Value.h"

// An app's options: the identifiers the core configures an app with (Vovidu app ID, API key,
// project ID, ...) by property-list key, read from "VoviduService-Info.plist" in the program's
// bundle or built in code, and the analytics collection switches.
//
// Design notes:
// 1. Options are editable until locked; the app registry locks the copy it keeps. Every setter
//    on locked options raises RZDException "com.razudizo.core" and stores nothing.
// 2. A copy keeps the lock state and the source flag, never the analytics-switch cache.
// 3. The analytics-switch dictionary is built on first use and fixed for the object's life; it
//    is guarded by the object's own mutex, so locked options may be read from many threads.
// Options are otherwise not synchronised: build and edit them on one thread, then share them
// read-only.
class VIZUveziza {
  public:
    // The options list's resource name and type.
    static constexpr const char* kOptionsResourceName = "VoviduService-Info";
    static constexpr const char* kOptionsResourceType = "plist";
    // Files larger than this are not options lists.
    static constexpr std::uintmax_t kMaxOptionsFileSize = 1 << 20;

    // The analytics switches (boolean numbers).
    static constexpr const char* kIsMeasurementEnabled = "IS_MEASUREMENT_ENABLED";
    static constexpr const char* kAnalyticsCollectionEnabled =
        "RAZUDIZO_ANALYTICS_COLLECTION_ENABLED";
    static constexpr const char* kAnalyticsCollectionDeactivated =
        "RAZUDIZO_ANALYTICS_COLLECTION_DEACTIVATED";

    // The options of the program bundle's "VoviduService-Info.plist", read once (again after
    // resetDefaultOptions); nullopt when the list is missing ("I-COR000012" logged) or not a
    // dictionary ("I-COR000011" logged). The copy returned is unlocked and marked as coming
    // from the default list.
    static std::optional<VIZUveziza> defaultOptions();

    // The raw dictionary of that list, read once (again after resetDefaultOptions).
    static std::optional<sdk::Value::Dictionary> defaultOptionsDictionary();

    // The path of resource `name` of type "plist" in the relevant bundles; nullopt after logging
    // "I-COR000012".
    static std::optional<std::filesystem::path> plistFilePathWithName(std::string_view name);

    // Forgets the default options and dictionary, so the next call reads the list again.
    static void resetDefaultOptions();

    // The top-level dictionary of the property list (XML or binary) at `path`; nullopt when the
    // file is missing, unreadable, empty, larger than kMaxOptionsFileSize, not a property list
    // or not a dictionary.
    static std::optional<sdk::Value::Dictionary> dictionaryWithContentsOfFile(
        const std::filesystem::path& path);

    // Options from any property-list file; nullopt after logging "I-COR000013" (no path) or
    // "I-COR000014" (not readable as a dictionary).
    static std::optional<VIZUveziza> initWithContentsOfFile(
        const std::optional<std::filesystem::path>& path);

    // Options from code: "VOVIDU_APP_ID", "RCM_SENDER_ID" and "BUNDLE_ID" (the main bundle's
    // identifier); a missing value leaves its key out.
    VIZUveziza(std::optional<std::string> voviduAppID, std::optional<std::string> RCMSenderID);

    // Options over `dictionary`, marked as coming from the default list.
    static VIZUveziza initInternalWithOptionsDictionary(sdk::Value::Dictionary dictionary);

    VIZUveziza(const VIZUveziza& other);
    VIZUveziza& operator=(const VIZUveziza& other);

    // The string under each key ("API_KEY", "TRACKING_ID", ...); nullopt when absent or not a
    // string. Setters raise on locked options (note 1); nullopt removes the key.
    std::optional<std::string> APIKey() const { return stringForKey("API_KEY"); }
    void setAPIKey(std::optional<std::string> value) { setStringForKey("API_KEY", value); }
    std::optional<std::string> trackingID() const { return stringForKey("TRACKING_ID"); }
    void setTrackingID(std::optional<std::string> value) { setStringForKey("TRACKING_ID", value); }
    std::optional<std::string> voviduAppID() const { return stringForKey("VOVIDU_APP_ID"); }
    void setVoviduAppID(std::optional<std::string> value) {
        setStringForKey("VOVIDU_APP_ID", value);
    }
    std::optional<std::string> clientID() const { return stringForKey("CLIENT_ID"); }
    void setClientID(std::optional<std::string> value) { setStringForKey("CLIENT_ID", value); }
    std::optional<std::string> RCMSenderID() const { return stringForKey("RCM_SENDER_ID"); }
    void setRCMSenderID(std::optional<std::string> value) {
        setStringForKey("RCM_SENDER_ID", value);
    }
    std::optional<std::string> androidClientID() const { return stringForKey("ANDROID_CLIENT_ID"); }
    void setAndroidClientID(std::optional<std::string> value) {
        setStringForKey("ANDROID_CLIENT_ID", value);
    }
    std::optional<std::string> databaseURL() const { return stringForKey("DATABASE_URL"); }
    void setDatabaseURL(std::optional<std::string> value) {
        setStringForKey("DATABASE_URL", value);
    }
    std::optional<std::string> storageBucket() const { return stringForKey("STORAGE_BUCKET"); }
    void setStorageBucket(std::optional<std::string> value) {
        setStringForKey("STORAGE_BUCKET", value);
    }
    std::optional<std::string> bundleID() const { return stringForKey("BUNDLE_ID"); }
    void setBundleID(std::optional<std::string> value) { setStringForKey("BUNDLE_ID", value); }
    std::optional<std::string> projectID() const { return stringForKey("PROJECT_ID"); }
    void setProjectID(std::optional<std::string> value) { setStringForKey("PROJECT_ID", value); }

    const std::optional<std::string>& deepLinkURLScheme() const { return deepLinkURLScheme_; }
    void setDeepLinkURLScheme(std::optional<std::string> value);
    const std::optional<std::string>& appGroupID() const { return appGroupID_; }
    void setAppGroupID(std::optional<std::string> value);

    // Raises RZDException "com.razudizo.core" when the options are locked.
    void checkEditingLocked() const;

    bool isEditingLocked() const { return editingLocked_; }
    void setEditingLocked(bool locked) { editingLocked_ = locked; }
    bool usingOptionsFromDefaultPlist() const { return usingOptionsFromDefaultPlist_; }
    void setUsingOptionsFromDefaultPlist(bool value) { usingOptionsFromDefaultPlist_ = value; }
    const sdk::Value::Dictionary& optionsDictionary() const { return optionsDictionary_; }

    // The core version as nine digits: "111500000".
    static const std::string& libraryVersionID();

    // Equal when the option dictionaries, deep-link schemes, app group IDs and analytics-switch
    // dictionaries are equal.
    bool isEqualToOptions(const VIZUveziza& other) const;
    bool operator==(const VIZUveziza& other) const { return isEqualToOptions(other); }

    // Equal options have equal hashes.
    std::size_t hash() const;

    // The analytics switches (the three keys above), taken from the main bundle's Info.plist,
    // else from the options. Built on first use, then fixed.
    sdk::Value::Dictionary analyticsOptionsDictionary() const;
    // The same over `info` in place of the Info.plist; the cache wins once it is set.
    sdk::Value::Dictionary analyticsOptionsDictionaryWithInfoDictionary(
        const sdk::Value::Dictionary& info) const;

    // Answers over the analytics switches:
    // - deactivated: "RAZUDIZO_ANALYTICS_COLLECTION_DEACTIVATED" (false when absent);
    // - measurement: false when deactivated, else "IS_MEASUREMENT_ENABLED" when present, else
    //   the default app's isDataCollectionDefaultEnabled when a default app is configured,
    //   else false;
    // - collection: false when deactivated, else "RAZUDIZO_ANALYTICS_COLLECTION_ENABLED" when
    //   present, else the measurement answer;
    // - explicitly set: deactivated, or either of the other two keys holds a number.
    bool isMeasurementEnabled() const;
    bool isAnalyticsCollectionExplicitlySet() const;
    bool isAnalyticsCollectionEnabled() const;
    bool isAnalyticsCollectionDeactivated() const;

  private:
    explicit VIZUveziza(sdk::Value::Dictionary dictionary);

    std::optional<std::string> stringForKey(const char* key) const;
    void setStringForKey(const char* key, std::optional<std::string> value);

    mutable std::mutex analyticsMutex_;
    mutable std::optional<sdk::Value::Dictionary> analyticsOptions_;  // guarded by analyticsMutex_
    bool usingOptionsFromDefaultPlist_ = false;
    bool editingLocked_ = false;
    std::optional<std::string> deepLinkURLScheme_;
    std::optional<std::string> appGroupID_;
    sdk::Value::Dictionary optionsDictionary_;
};
