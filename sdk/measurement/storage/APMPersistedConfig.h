#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "platform/dispatch/Cancellable.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/preferences/PreferencesFileSystem.h"
#include "sdk/measurement/storage/APMPersistentDictionary.h"
#include "sdk/utilities/Value.h"

// The measurement engine's persisted state and switches: a typed, named face over one
// APMPersistentDictionary ("<Application Support>/Vovidu/Measurement/<suite>.plist"). Every
// property lives under "/vovidu/measurement/<key>". The measurement-enabled state alone lives
// in the application's user defaults (APMUserDefaults::sharedUserDefaults()), so a data reset
// (clearValues) leaves it alone.
//
// Design notes.
//   1. Typed reads and writes run synchronously on serialQueue_, so a read-modify-write done
//      inside one queue block (midnightOffset's first draw) is one step for every caller.
//   2. The dictionary is the only writer of the file; synchronize requests only keep the
//      calling pattern of a cached store and write nothing themselves.
//   3. Without a dictionary (its folder could not be made) every read gives 0, false or no
//      value and writes are dropped.
//
// Thread-safety: every member may be called from any thread except from a block running on
// serialQueue_ itself (a typed accessor would wait on itself; the queue refuses with
// std::logic_error). synchronizeBlock_ is guarded by lock_.
class APMPersistedConfig : public std::enable_shared_from_this<APMPersistedConfig> {
  public:
    static constexpr std::size_t kDiversionKeyLength = 5;

    // The instance for "com.vovidu.vud.measurement", made on first use. When it cannot be made,
    // logs 27001 and returns null (and tries again on the next call).
    static std::shared_ptr<APMPersistedConfig> sharedInstance();

    // Moves an older copy of the suite's plist out of the preferences folder, then opens the
    // suite's dictionary through `fileSystem` (which must outlive it). Null for an empty name.
    static std::shared_ptr<APMPersistedConfig> initWithSuiteName(
        std::string_view name,
        platform::PreferencesFileSystem& fileSystem = platform::systemFileSystem());

    // Cancels a pending synchronize request.
    ~APMPersistedConfig();

    APMPersistedConfig(const APMPersistedConfig&) = delete;
    APMPersistedConfig& operator=(const APMPersistedConfig&) = delete;

    const std::string& name() const { return name_; }
    // The store; null when its folder could not be made.
    const std::shared_ptr<APMPersistentDictionary>& userDefaults() const { return userDefaults_; }

    // Typed access by key. Reads answer false, 0, 0.0 or no value for an empty key or a stored
    // value of another kind. numberForKey answers the stored object whatever its kind. Writes
    // store numbers for integers, doubles and booleans and schedule a synchronize.
    bool boolForKey(std::string_view key);
    std::int64_t int64ForKey(std::string_view key);
    std::int64_t int64ForKey(std::string_view key, const APMPersistentDictionary* store);
    double doubleForKey(std::string_view key);
    std::optional<std::string> stringForKey(std::string_view key);
    std::optional<sdk::Value::Dictionary> dictionaryForKey(std::string_view key);
    std::optional<sdk::Value> numberForKey(std::string_view key);
    void setBool(bool value, std::string_view key);
    void setInt64(std::int64_t value, std::string_view key);
    void setDouble(double value, std::string_view key);
    void setString(const std::optional<std::string>& value, std::string_view key);
    // A dictionary without a property-list form logs 27002 and changes nothing.
    void setDictionary(const std::optional<sdk::Value::Dictionary>& value, std::string_view key);
    // Stores the object as given (no value removes it).
    void setNumber(const std::optional<sdk::Value>& value, std::string_view key);
    // The raw object on the queue, without a synchronize request.
    std::optional<sdk::Value> objectForKey(std::string_view key);
    void setObject(const std::optional<sdk::Value>& value, std::string_view key);

    // Empties the dictionary (the engine's data reset).
    void clearValues();

    // Replaces a pending synchronize request by one a second from now.
    void scheduleSynchronizeToDisk();
    void cancelScheduledSynchronize();
    void synchronizeToDisk();

    // The named properties -----------------------------------------------------------------

    double lastDeleteStaleBundlesTimestamp() { return doubleForKey(kLastDeleteStale); }
    void setLastDeleteStaleBundlesTimestamp(double v) { setDouble(v, kLastDeleteStale); }
    // Outside the serial queue; the setter ignores anything but a number.
    std::optional<sdk::Value> searchAdCampaignValue();
    void setSearchAdCampaignValue(const std::optional<sdk::Value>& value);
    double lastSearchAdLookUpTimestamp() { return doubleForKey(kSearchAdLastAttempt); }
    void setLastSearchAdLookUpTimestamp(double v) { setDouble(v, kSearchAdLastAttempt); }
    std::int64_t searchAdRetryCount() { return int64ForKey(kSearchAdRetries); }
    void setSearchAdRetryCount(std::int64_t v) { setInt64(v, kSearchAdRetries); }
    std::optional<std::string> appInstanceID() { return stringForKey(kAppInstanceID); }
    void setAppInstanceID(const std::optional<std::string>& v) { setString(v, kAppInstanceID); }
    std::optional<std::string> appIDFromVUD() { return stringForKey(kVUDAppID); }
    void setAppIDFromVUD(const std::optional<std::string>& v) { setString(v, kVUDAppID); }
    std::optional<std::string> appIDFromRuZer() { return stringForKey(kRuZerAppID); }
    void setAppIDFromRuZer(const std::optional<std::string>& v) { setString(v, kRuZerAppID); }
    std::optional<std::string> hashedResettableDeviceID() { return stringForKey(kHashedIDFA); }
    void setHashedResettableDeviceID(const std::optional<std::string>& v) {
        setString(v, kHashedIDFA);
    }
    std::optional<std::string> diversionKey() { return stringForKey(kDiversionKey); }
    void setDiversionKey(const std::optional<std::string>& v) { setString(v, kDiversionKey); }
    // The experiment diversion key: the stored one when it has kDiversionKeyLength characters,
    // else a new one (the start of a random ID), stored. Read and stored in one queue block, so
    // the engine's identity and the experiment requests, which both ask, never draw two keys.
    std::string diversionKeyCreatingIfNeeded();
    // In the application's user defaults; 0 when absent. The setter writes through at once.
    std::int64_t measurementEnabledState();
    void setMeasurementEnabledState(std::int64_t state);
    double lastBackoffTimestamp() { return doubleForKey(kLastBackoff); }
    void setLastBackoffTimestamp(double v) { setDouble(v, kLastBackoff); }
    double lastSuccessfulUploadTimestamp() { return doubleForKey(kLastSuccessfulUpload); }
    void setLastSuccessfulUploadTimestamp(double v) { setDouble(v, kLastSuccessfulUpload); }
    double lastFailedUploadTimestamp() { return doubleForKey(kLastFailedUpload); }
    void setLastFailedUploadTimestamp(double v) { setDouble(v, kLastFailedUpload); }
    std::optional<std::string> appVersion() { return stringForKey(kAppVersion); }
    void setAppVersion(const std::optional<std::string>& v) { setString(v, kAppVersion); }
    std::optional<std::string> osVersion() { return stringForKey(kOSVersion); }
    void setOSVersion(const std::optional<std::string>& v) { setString(v, kOSVersion); }
    // The installation's fixed offset of the day boundary, in [0, 86400) seconds in whole
    // milliseconds: drawn uniformly and stored on first use, in one step on the queue.
    double midnightOffset();
    double lastMonitorDataSampledTimestamp() { return doubleForKey(kLastMonitorSampled); }
    void setLastMonitorDataSampledTimestamp(double v) { setDouble(v, kLastMonitorSampled); }
    std::int64_t firstOpenTimestampMilliseconds() { return int64ForKey(kFirstOpenMs); }
    void setFirstOpenTimestampMilliseconds(std::int64_t v) { setInt64(v, kFirstOpenMs); }
    std::optional<std::string> configServerLastModifiedString() {
        return stringForKey(kLastModifiedSince);
    }
    void setConfigServerLastModifiedString(const std::optional<std::string>& v) {
        setString(v, kLastModifiedSince);
    }
    std::optional<std::string> configServerETag() { return stringForKey(kConfigETag); }
    void setConfigServerETag(const std::optional<std::string>& v) { setString(v, kConfigETag); }
    std::int64_t configVUDVersion() { return int64ForKey(kConfigVUDVersion); }
    void setConfigVUDVersion(std::int64_t v) { setInt64(v, kConfigVUDVersion); }
    std::optional<sdk::Value> loadTimestampValue() { return objectForKey(kLoadTimestamp); }
    void setLoadTimestampValue(const std::optional<sdk::Value>& v) { setObject(v, kLoadTimestamp); }
    std::optional<sdk::Value> allowPersonalizedAds() { return objectForKey(kAllowPersonalizedAds); }
    void setAllowPersonalizedAds(const std::optional<sdk::Value>& v) {
        setObject(v, kAllowPersonalizedAds);
    }
    std::optional<std::string> razudizoFeatureRollouts() { return stringForKey(kFeatureRollouts); }
    void setRazudizoFeatureRollouts(const std::optional<std::string>& v) {
        setString(v, kFeatureRollouts);
    }
    std::optional<sdk::Value> deferredDeepLinkRetrievalComplete() {
        return objectForKey(kDeepLinkComplete);
    }
    void setDeferredDeepLinkRetrievalComplete(const std::optional<sdk::Value>& v) {
        setObject(v, kDeepLinkComplete);
    }
    std::int64_t deferredDeepLinkRetryCount() { return int64ForKey(kDeepLinkRetries); }
    void setDeferredDeepLinkRetryCount(std::int64_t v) { setInt64(v, kDeepLinkRetries); }
    bool shouldSetLastAdvertisingIDResetUserProperty() {
        return int64ForKey(kSetLastAdvertisingIDReset) != 0;
    }
    void setShouldSetLastAdvertisingIDResetUserProperty(bool v) {
        setInt64(v ? 1 : 0, kSetLastAdvertisingIDReset);
    }
    bool unmatchedFirstOpenWithoutIDFA() { return int64ForKey(kUnmatchedFirstOpen) != 0; }
    void setUnmatchedFirstOpenWithoutIDFA(bool v) { setInt64(v ? 1 : 0, kUnmatchedFirstOpen); }
    // Kept as given: the engine stores a decimal string here.
    std::optional<sdk::Value> previousFirstOpenCount() { return numberForKey(kPreviousFirstOpen); }
    void setPreviousFirstOpenCount(const std::optional<sdk::Value>& v) {
        setNumber(v, kPreviousFirstOpen);
    }
    std::optional<std::string> previousBundledConsentSignals() {
        return stringForKey(kPreviousConsentSignals);
    }
    void setPreviousBundledConsentSignals(const std::optional<std::string>& v) {
        setString(v, kPreviousConsentSignals);
    }
    std::optional<sdk::Value> adCampaignInfoBuffer() { return objectForKey(kAdCampaignInfo); }
    // The only stored-as-given property whose setter also requests a synchronize.
    void setAdCampaignInfoBuffer(const std::optional<sdk::Value>& v) {
        setObject(v, kAdCampaignInfo);
        scheduleSynchronizeToDisk();
    }
    double lastSessionActivityClockTime() { return doubleForKey(kLastEngagementEnd); }
    void setLastSessionActivityClockTime(double v) { setDouble(v, kLastEngagementEnd); }
    std::int64_t sessionNumber() { return int64ForKey(kSessionNumber); }
    void setSessionNumber(std::int64_t v) { setInt64(v, kSessionNumber); }
    std::optional<sdk::Value> sessionTimeoutValue() { return numberForKey(kSessionTimeout); }
    void setSessionTimeoutValue(const std::optional<sdk::Value>& v) {
        setNumber(v, kSessionTimeout);
    }
    std::optional<sdk::Value::Dictionary> defaultEventParameters() {
        return dictionaryForKey(kDefaultEventParameters);
    }
    void setDefaultEventParameters(const std::optional<sdk::Value::Dictionary>& v) {
        setDictionary(v, kDefaultEventParameters);
    }
    std::int64_t lastUploadedEventTimestampMillis() { return int64ForKey(kLastUploadedEvent); }
    void setLastUploadedEventTimestampMillis(std::int64_t v) { setInt64(v, kLastUploadedEvent); }
    std::int64_t SKANEvaluationEventTimeMillis() { return int64ForKey(kSKANEventTime); }
    void setSKANEvaluationEventTimeMillis(std::int64_t v) { setInt64(v, kSKANEventTime); }
    std::int64_t SKANEvaluationUpdateBackoffMillis() { return int64ForKey(kSKANBackoff); }
    void setSKANEvaluationUpdateBackoffMillis(std::int64_t v) { setInt64(v, kSKANBackoff); }

    static constexpr std::string_view kSuiteName = "com.vovidu.vud.measurement";
    static constexpr std::string_view kLastDeleteStale = "/vovidu/measurement/last_delete_stale";
    static constexpr std::string_view kSearchAdCampaign =
        "/vovidu/measurement/is_search_ad_campaign";
    static constexpr std::string_view kSearchAdLastAttempt =
        "/vovidu/measurement/search_ad_last_attempt_timestamp";
    static constexpr std::string_view kSearchAdRetries =
        "/vovidu/measurement/search_ad_number_of_retries";
    static constexpr std::string_view kAppInstanceID = "/vovidu/measurement/app_instance_id";
    static constexpr std::string_view kVUDAppID = "/vovidu/measurement/vud_app_id";
    static constexpr std::string_view kRuZerAppID = "/vovidu/measurement/ruzer_app_id";
    static constexpr std::string_view kHashedIDFA = "/vovidu/measurement/hashed_idfa";
    static constexpr std::string_view kDiversionKey = "/vovidu/measurement/diversion_key";
    static constexpr std::string_view kMeasurementEnabledState =
        "/vovidu/measurement/measurement_enabled_state";
    static constexpr std::string_view kLastBackoff = "/vovidu/measurement/last_backoff";
    static constexpr std::string_view kLastSuccessfulUpload =
        "/vovidu/measurement/last_successful_upload";
    static constexpr std::string_view kLastFailedUpload = "/vovidu/measurement/last_failed_upload";
    static constexpr std::string_view kAppVersion = "/vovidu/measurement/app_version";
    static constexpr std::string_view kOSVersion = "/vovidu/measurement/os_version";
    static constexpr std::string_view kMidnightOffset = "/vovidu/measurement/midnight_offset";
    static constexpr std::string_view kLastMonitorSampled =
        "/vovidu/measurement/last_monitor_data_sampled_timestamp";
    static constexpr std::string_view kFirstOpenMs = "/vovidu/measurement/first_open_timestamp_ms";
    static constexpr std::string_view kLastModifiedSince =
        "/vovidu/measurement/last_modified_since_key";
    static constexpr std::string_view kConfigETag = "/vovidu/measurement/config_etag";
    static constexpr std::string_view kConfigVUDVersion = "/vovidu/measurement/config_vud_version";
    static constexpr std::string_view kLoadTimestamp = "/vovidu/measurement/load_timestamp";
    static constexpr std::string_view kAllowPersonalizedAds =
        "/vovidu/measurement/allow_personalized_ads";
    static constexpr std::string_view kFeatureRollouts =
        "/vovidu/measurement/razudizo_feature_rollouts";
    static constexpr std::string_view kDeepLinkComplete =
        "/vovidu/measurement/deep_link_retrieval_complete";
    static constexpr std::string_view kDeepLinkRetries =
        "/vovidu/measurement/deep_link_retry_count";
    static constexpr std::string_view kSetLastAdvertisingIDReset =
        "/vovidu/measurement/set_last_advertising_id_reset";
    static constexpr std::string_view kUnmatchedFirstOpen =
        "/vovidu/measurement/unmatched_first_open";
    static constexpr std::string_view kPreviousFirstOpen =
        "/vovidu/measurement/previous_first_open_count";
    static constexpr std::string_view kPreviousConsentSignals =
        "/vovidu/measurement/previous_bundled_consent_signals";
    static constexpr std::string_view kAdCampaignInfo =
        "/vovidu/measurement/ad_campaign_info_buffer";
    static constexpr std::string_view kLastEngagementEnd =
        "/vovidu/measurement/last_engagement_end";
    static constexpr std::string_view kSessionNumber = "/vovidu/measurement/session_number";
    static constexpr std::string_view kSessionTimeout = "/vovidu/measurement/session_timeout";
    static constexpr std::string_view kDefaultEventParameters =
        "/vovidu/measurement/default_event_parameters";
    static constexpr std::string_view kLastUploadedEvent =
        "/vovidu/measurement/last_uploaded_event_millis";
    static constexpr std::string_view kSKANEventTime =
        "/vovidu/measurement/skan_evaluation_event_time_millis";
    static constexpr std::string_view kSKANBackoff =
        "/vovidu/measurement/skan_evaluation_update_backoff_millis";

    // Public only for std::make_shared; use initWithSuiteName.
    struct Passkey {
        explicit Passkey() = default;
    };
    APMPersistedConfig(Passkey, std::string name,
                       std::shared_ptr<APMPersistentDictionary> userDefaults);

  private:
    // Runs `read` on the queue with the store; T{} without a store or for an empty key.
    template <typename T, typename Read>
    T readOnQueue(std::string_view key, Read read);
    void writeOnQueue(const std::optional<sdk::Value>& value, std::string_view key);

    const std::string name_;
    const std::shared_ptr<APMPersistentDictionary> userDefaults_;
    const platform::QueueRef serialQueue_;

    std::mutex lock_;
    platform::Cancellable synchronizeBlock_;  // guarded by lock_
};
