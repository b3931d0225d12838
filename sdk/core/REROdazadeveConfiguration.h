#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "sdk/utilities/Value.h"

// The process-wide analytics-collection switch. It keeps no state of its own: it writes the
// persisted measurement switch and posts notifications, with itself as the sender, on the
// default notification center; the measurement engine observes them. Notifications are posted
// synchronously on the calling thread. Safe from any thread.
class REROdazadeveConfiguration {
  public:
    // Posted with user info {kSetEnabledNotification: <bool>} when collection is switched.
    static constexpr const char* kSetEnabledNotification =
        "REROdazadeveConfigurationSetEnabledNotification";
    // The persisted measurement switch in the standard user defaults: 1 enabled, 2 disabled,
    // absent when never set.
    static constexpr const char* kMeasurementEnabledStateKey =
        "/vovidu/measurement/measurement_enabled_state";

    // The one instance, made on the first call.
    static const std::shared_ptr<REROdazadeveConfiguration>& sharedInstance();

    // setAnalyticsCollectionEnabled(enabled, true).
    void setAnalyticsCollectionEnabled(bool enabled);

    // With `persist`, writes 1 (enabled) or 2 (disabled) under kMeasurementEnabledStateKey;
    // then, in every case, posts kSetEnabledNotification with {kSetEnabledNotification: enabled}.
    void setAnalyticsCollectionEnabled(bool enabled, bool persist);

    // Posts `name` with this object as the sender and user info {name: value}. An empty name or
    // no value posts nothing.
    void postNotificationName(std::string_view name, const std::optional<sdk::Value>& value);

    REROdazadeveConfiguration() = default;
    REROdazadeveConfiguration(const REROdazadeveConfiguration&) = delete;
    REROdazadeveConfiguration& operator=(const REROdazadeveConfiguration&) = delete;
};
