// The setting readers and the typed settings, each with its key, default and inclusive range.
#include <algorithm>
#include <cmath>
#include <limits>

#include "sdk/measurement/engine/APMMonitor.h"
#include "sdk/measurement/storage/APMRemoteConfig.h"
#include "sdk/measurement/storage/APMRemoteConfigNumber.h"

namespace {

APMMonitor& monitor() {
    return APMMonitor::shared();
}

// Whether `number` lies inside the bounds that are given (inclusive); false when it cannot be
// compared with them.
bool withinBounds(const sdk::Value& number, const std::optional<sdk::Value>& minValue,
                  const std::optional<sdk::Value>& maxValue) {
    if (minValue) {
        const std::optional<int> order = APMRemoteConfigCompareNumbers(number, *minValue);
        if (!order || *order < 0) {
            return false;
        }
    }
    if (maxValue) {
        const std::optional<int> order = APMRemoteConfigCompareNumbers(number, *maxValue);
        if (!order || *order > 0) {
            return false;
        }
    }
    return true;
}

template <typename T>
std::optional<sdk::Value> optionalNumber(std::optional<T> value) {
    return value ? std::optional<sdk::Value>(sdk::Value(*value)) : std::nullopt;
}

}  // namespace

// Readers -------------------------------------------------------------------------------------

std::optional<sdk::Value> APMRemoteConfig::numberFromCacheWithKey(
    std::string_view key, const sdk::Value& defaultValue, const std::optional<sdk::Value>& maxValue,
    const std::optional<sdk::Value>& minValue, const NumberBlock& block) {
    if (key.empty()) {
        monitor().logWithLevel(7, 29020, "Cannot get setting with empty key from cache");
        return std::nullopt;
    }
    const std::string name(key);
    const std::optional<sdk::Value> cached = cachedValueByRemoteConfigKeys_.objectForKey(name);
    if (!cached) {
        return cacheValue(defaultValue, key);
    }
    if (cached->isNumber()) {
        return cached;
    }
    std::optional<sdk::Value> number = numberFromString(*cached);
    if (number && block) {
        number = block(*number);
    }
    if (!number || !withinBounds(*number, minValue, maxValue)) {
        // Never the nearest bound: a value the range refuses means the default.
        number = defaultValue;
    }
    return cacheValue(number, key);
}

std::int32_t APMRemoteConfig::intValueFromCacheWithKey(std::string_view key,
                                                       std::int32_t defaultValue,
                                                       std::optional<std::int32_t> maxValue,
                                                       std::optional<std::int32_t> minValue) {
    const std::optional<sdk::Value> number = numberFromCacheWithKey(
        key, sdk::Value(defaultValue), optionalNumber(maxValue), optionalNumber(minValue));
    return number ? APMRemoteConfigInt32(*number) : 0;
}

std::int64_t APMRemoteConfig::int64ValueFromCacheWithKey(std::string_view key,
                                                         std::int64_t defaultValue,
                                                         std::optional<std::int64_t> maxValue,
                                                         std::optional<std::int64_t> minValue) {
    const std::optional<sdk::Value> number = numberFromCacheWithKey(
        key, sdk::Value(defaultValue), optionalNumber(maxValue), optionalNumber(minValue));
    return number ? number->numberAsInt().value_or(0) : 0;
}

double APMRemoteConfig::timeIntervalInSecondsFromCacheWithKey(std::string_view key,
                                                              double defaultValue,
                                                              std::optional<double> maxValue,
                                                              std::optional<double> minValue) {
    // Remote intervals are whole milliseconds; a fraction in the text is dropped first.
    const NumberBlock milliseconds = [](const sdk::Value& number) -> std::optional<sdk::Value> {
        return sdk::Value(static_cast<double>(number.numberAsInt().value_or(0)) / 1000.0);
    };
    const std::optional<sdk::Value> number =
        numberFromCacheWithKey(key, sdk::Value(defaultValue), optionalNumber(maxValue),
                               optionalNumber(minValue), milliseconds);
    return number ? number->numberAsDouble().value_or(0) : 0;
}

bool APMRemoteConfig::boolValueFromCacheWithKey(std::string_view key, bool defaultValue) {
    return intValueFromCacheWithKey(key, defaultValue ? 1 : 0, 1, 0) == 1;
}

std::optional<sdk::Value> APMRemoteConfig::cacheValue(const std::optional<sdk::Value>& value,
                                                      std::string_view key) {
    if (!value || key.empty()) {
        monitor().logWithLevel(5, 29019, "Cannot cache empty configuration value");
        return std::nullopt;
    }
    cachedValueByRemoteConfigKeys_.setObject(*value, std::string(key));
    return value;
}

// GCC 12 takes the value copied into the monitor's context here, once the copy is inlined, for
// maybe uninitialized; it is built whole before it is copied.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
std::optional<sdk::Value> APMRemoteConfig::numberFromString(const sdk::Value& value) {
    const std::string* text = value.string();
    if (text == nullptr) {
        monitor().logWithLevel(2, 29018, "Cannot parse number from non-string", value);
        return std::nullopt;
    }
    return APMRemoteConfigNumberFromText(*text);
}
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

// Settings with a rule of their own -----------------------------------------------------------

std::int32_t APMRemoteConfig::maxBundlesCreatedPerIteration() {
    // A count read like an interval: the remote value is divided by 1000.
    const double count = timeIntervalInSecondsFromCacheWithKey(
        "measurement.upload.max_bundles_created_per_iteration", 100, 10000, 1);
    return APMRemoteConfigInt32(sdk::Value(count));
}

std::int32_t APMRemoteConfig::maxPSMStartCount() {
    if (monitor().isDebugModeEnabled()) {
        return 10;
    }
    return intValueFromCacheWithKey("measurement.psm_start_count", 3, 10, 0);
}

std::int32_t APMRemoteConfig::maxInternalEventParameterValueLength() {
    return std::max(maxPublicEventParameterValueLength(), 256);
}

// Settings ------------------------------------------------------------------------------------

double APMRemoteConfig::uploadingBackoffInterval() {
    return timeIntervalInSecondsFromCacheWithKey("measurement.upload.backoff_period", 43200, 604800,
                                                 3600);
}

std::int32_t APMRemoteConfig::maxAudienceCount() {
    return intValueFromCacheWithKey("measurement.audience.max_count", 100, 500, 0);
}

std::int32_t APMRemoteConfig::maxFiltersPerAudience() {
    return intValueFromCacheWithKey("measurement.audience.filter_max_count_per_audience", 10, 100,
                                    0);
}

std::int32_t APMRemoteConfig::maxFilterResultCount() {
    return intValueFromCacheWithKey("measurement.audience.filter_result_max_count", 200, 2000, 0);
}

std::int32_t APMRemoteConfig::maxParametersPerFilter() {
    return intValueFromCacheWithKey("measurement.audience.parameter_max_count_filter", 25, 250, 0);
}

double APMRemoteConfig::databaseDeleteStaleBundlesInterval() {
    return timeIntervalInSecondsFromCacheWithKey("measurement.upload.stale_data_deletion_interval",
                                                 86400, 604800, 3600);
}

double APMRemoteConfig::maxQueueTime() {
    return timeIntervalInSecondsFromCacheWithKey("measurement.upload.max_queue_time", 2419200,
                                                 7862400, 604800);
}

double APMRemoteConfig::adIDCacheTime() {
    return timeIntervalInSecondsFromCacheWithKey("measurement.ad_id_cache_time", 1, 86400, 0);
}

bool APMRemoteConfig::gateIDFAOnATTMASEnabled() {
    return boolValueFromCacheWithKey("measurement.attmas_gate", false);
}

double APMRemoteConfig::monitoringSamplePeriod() {
    return timeIntervalInSecondsFromCacheWithKey("measurement.monitoring.sample_period_millis",
                                                 86400, 604800, 0);
}

bool APMRemoteConfig::isNetworkBackgroundSessionEnabled() {
    return boolValueFromCacheWithKey("measurement.network.background_session_enabled", false);
}

double APMRemoteConfig::networkTimeout() {
    return timeIntervalInSecondsFromCacheWithKey("measurement.network.network_timeout", 60, 3600,
                                                 30);
}

double APMRemoteConfig::sessionDefaultTimeoutInterval() {
    return timeIntervalInSecondsFromCacheWithKey("measurement.session.default_timeout_interval",
                                                 1800, 86400, 0);
}

double APMRemoteConfig::sessionEventUserEngagementInterval() {
    return timeIntervalInSecondsFromCacheWithKey(
        "measurement.session.event_user_engagement_interval", 3600, 86400, 0);
}

bool APMRemoteConfig::efficientEngagementReportingEnabled() {
    return boolValueFromCacheWithKey(
        "measurement.collection.efficient_engagement_reporting_enabled", false);
}

bool APMRemoteConfig::redundantEngagementRemovalEnabled() {
    return boolValueFromCacheWithKey("measurement.collection.redundant_engagement_removal_enabled",
                                     false);
}

std::int32_t APMRemoteConfig::maxConversionsPerDay() {
    return intValueFromCacheWithKey("measurement.upload.max_conversions_per_day", 10000, 1000000,
                                    0);
}

std::int32_t APMRemoteConfig::maxEventsPerDay() {
    return intValueFromCacheWithKey("measurement.upload.max_events_per_day", 100000, 1000000, 0);
}

std::int32_t APMRemoteConfig::maxPublicEventsPerDay() {
    return intValueFromCacheWithKey("measurement.upload.max_public_events_per_day", 50000, 1000000,
                                    0);
}

std::int32_t APMRemoteConfig::maxErrorEventsPerDay() {
    return intValueFromCacheWithKey("measurement.upload.max_error_events_per_day", 1000, 1000000,
                                    0);
}

std::int32_t APMRemoteConfig::maxTrackedCurrencies() {
    return intValueFromCacheWithKey("measurement.lifetimevalue.max_currency_tracked", 4, 100, 1);
}

std::int32_t APMRemoteConfig::maxPublicUserProperties() {
    return intValueFromCacheWithKey("measurement.upload.max_public_user_properties", 100, 100, 25);
}

std::int32_t APMRemoteConfig::maxEventNameCardinality() {
    return intValueFromCacheWithKey("measurement.upload.max_event_name_cardinality", 2000, 2000,
                                    500);
}

APMParameterLimits APMRemoteConfig::parameterLimits() {
    return {maxPublicEventParams(), maxItemScopedCustomParameters(),
            maxPublicEventParameterValueLength()};
}

std::int32_t APMRemoteConfig::maxPublicEventParams() {
    return intValueFromCacheWithKey("measurement.upload.max_public_event_params", 100, 100, 25);
}

std::int32_t APMRemoteConfig::maxEventsStored() {
    return intValueFromCacheWithKey("measurement.store.max_stored_events_per_app", 100000, 1000000,
                                    0);
}

double APMRemoteConfig::uploadingInterval() {
    return timeIntervalInSecondsFromCacheWithKey("measurement.upload.interval", 3600, 86400, 15);
}

double APMRemoteConfig::uploadingInitialDelayInterval() {
    return timeIntervalInSecondsFromCacheWithKey("measurement.upload.initial_upload_delay_time", 15,
                                                 86400, 1);
}

std::int64_t APMRemoteConfig::uploadMaxBundlesLimit() {
    return int64ValueFromCacheWithKey("measurement.upload.max_bundles", 100, 10000, 1);
}

std::int64_t APMRemoteConfig::uploadMaxEventsPerBundle() {
    return int64ValueFromCacheWithKey("measurement.upload.max_events_per_bundle", 1000, 1000000, 1);
}

std::int64_t APMRemoteConfig::uploadMaxSizeLimitBytes() {
    return int64ValueFromCacheWithKey("measurement.upload.max_batch_size", 65536, 10485760, 0);
}

std::int32_t APMRemoteConfig::uploadingRetryCount() {
    return intValueFromCacheWithKey("measurement.upload.retry_count", 6, 24, 1);
}

double APMRemoteConfig::uploadingRetryInterval() {
    return timeIntervalInSecondsFromCacheWithKey("measurement.upload.retry_time", 1800, 86400, 60);
}

std::int32_t APMRemoteConfig::maxRealtimeEventCountPerDay() {
    return intValueFromCacheWithKey("measurement.upload.max_realtime_events_per_day", 10, 10, 0);
}

double APMRemoteConfig::uploadingDebugModeInterval() {
    return timeIntervalInSecondsFromCacheWithKey("measurement.upload.debug_upload_interval", 1, 15,
                                                 1);
}

double APMRemoteConfig::uploadingRealTimeInterval() {
    return timeIntervalInSecondsFromCacheWithKey("measurement.upload.realtime_upload_interval", 10,
                                                 15, 10);
}

bool APMRemoteConfig::blocklistInternal() {
    return boolValueFromCacheWithKey("measurement.upload.blacklist_internal", false);
}

bool APMRemoteConfig::blocklistPublic() {
    return boolValueFromCacheWithKey("measurement.upload.blacklist_public", false);
}

bool APMRemoteConfig::isEventSamplingEnabled() {
    return boolValueFromCacheWithKey("measurement.event_sampling_enabled", false);
}

std::int32_t APMRemoteConfig::analyticsAccountTimeZoneOffsetMinutes() {
    return intValueFromCacheWithKey("measurement.account.time_zone_offset_minutes", 0, 900, -900);
}

bool APMRemoteConfig::checksumEnabled() {
    return boolValueFromCacheWithKey("measurement.quality.checksum", false);
}

bool APMRemoteConfig::appInBackgroundParameterEnabled() {
    return boolValueFromCacheWithKey("measurement.lifecycle.app_in_background_parameter", true);
}

std::int32_t APMRemoteConfig::maxItemScopedCustomParameters() {
    return intValueFromCacheWithKey("measurement.upload.max_item_scoped_custom_parameters", 27, 35,
                                    10);
}

std::int32_t APMRemoteConfig::maxPublicEventParameterValueLength() {
    return intValueFromCacheWithKey("measurement.upload.max_event_parameter_value_length", 500, 500,
                                    100);
}

std::int32_t APMRemoteConfig::maxRealtimeDCUEventCountPerDay() {
    return intValueFromCacheWithKey("measurement.dma.dcu_event_max_realtime_daily_count", 1, 10, 0);
}

std::int32_t APMRemoteConfig::maxPSMRetryCount() {
    return intValueFromCacheWithKey("measurement.psm_retry_count", 5, 10, 0);
}

double APMRemoteConfig::PSMRetryInterval() {
    return timeIntervalInSecondsFromCacheWithKey("measurement.psm_retry_interval", 300, 1800, 30);
}

std::int32_t APMRemoteConfig::hashPrefixBitLengthEmail() {
    return intValueFromCacheWithKey("measurement.psm_prefix_email", 14, 20, 6);
}

std::int32_t APMRemoteConfig::hashPrefixBitLengthPhone() {
    return intValueFromCacheWithKey("measurement.psm_prefix_phone", 11, 18, 6);
}

std::int32_t APMRemoteConfig::maxSignInDelayInDays() {
    return intValueFromCacheWithKey("measurement.psm_signin_delay", 60, 90, 7);
}

bool APMRemoteConfig::adsOnDeviceConversionFeatureEnabled() {
    return boolValueFromCacheWithKey("measurement.odm2_enabled", false);
}

bool APMRemoteConfig::isDeferredDeepLinkEnabled() {
    return boolValueFromCacheWithKey("measurement.ddl.enabled", true);
}

std::int32_t APMRemoteConfig::maxDeferredDeepLinkRetryCount() {
    return intValueFromCacheWithKey("measurement.ddl.retry_count", 5, 10, 0);
}

double APMRemoteConfig::attributionCacheTTLInterval() {
    return timeIntervalInSecondsFromCacheWithKey("measurement.attribution.cache.ttl", 604800,
                                                 2592000, 86400);
}

double APMRemoteConfig::remoteConfigCacheTimeInterval() {
    return timeIntervalInSecondsFromCacheWithKey("measurement.config.cache_time", 3600, 86400, 60);
}

bool APMRemoteConfig::SKANUpdateConversionValueEnabled() {
    return boolValueFromCacheWithKey("measurement.skan.update_conversion_value_enabled", false);
}

double APMRemoteConfig::SKANInitialCVFetchDelay() {
    return timeIntervalInSecondsFromCacheWithKey("measurement.skan.initial_cv_fetch_delay_sec", 120,
                                                 3600, 30);
}

double APMRemoteConfig::SKANCVFetchRetryInterval() {
    return timeIntervalInSecondsFromCacheWithKey("measurement.skan.cv_fetch_retry_interval_sec",
                                                 120, 3600, 30);
}

std::int32_t APMRemoteConfig::SKANCVFetchRetryLimit() {
    return intValueFromCacheWithKey("measurement.skan.cv_fetch_retry_limit", 4, 10, 1);
}

double APMRemoteConfig::SKANFirstWindowCVFetchDelay() {
    return timeIntervalInSecondsFromCacheWithKey(
        "measurement.skan.first_window.initial_cv_fetch_delay_sec", 20, 3600, 1);
}

double APMRemoteConfig::SKANFirstWindowCVFetchRetryInterval() {
    return timeIntervalInSecondsFromCacheWithKey(
        "measurement.skan.first_window.cv_fetch_retry_interval_sec", 120, 3600, 30);
}

std::int32_t APMRemoteConfig::SKANFirstWindowCVFetchRetryLimit() {
    return intValueFromCacheWithKey("measurement.skan.first_window.cv_fetch_retry_limit", 4, 10, 1);
}

double APMRemoteConfig::SKANFirstWindowUploadInterval() {
    return timeIntervalInSecondsFromCacheWithKey(
        "measurement.skan.first_window.upload_interval_sec", 1800, 86400, 15);
}
