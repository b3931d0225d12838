#include "sdk/core/REROdazadeveConfiguration.h"

#include "sdk/utilities/VDUNotificationCenter.h"
#include "sdk/utilities/VDUUserDefaults.h"

const std::shared_ptr<REROdazadeveConfiguration>& REROdazadeveConfiguration::sharedInstance() {
    // Never destroyed: observers may compare senders with it until exit.
    static const auto* const instance = new std::shared_ptr<REROdazadeveConfiguration>(
        std::make_shared<REROdazadeveConfiguration>());
    return *instance;
}

void REROdazadeveConfiguration::setAnalyticsCollectionEnabled(bool enabled) {
    setAnalyticsCollectionEnabled(enabled, true);
}

void REROdazadeveConfiguration::setAnalyticsCollectionEnabled(bool enabled, bool persist) {
    if (persist) {
        VDUUserDefaults::standardUserDefaults().setInteger(enabled ? 1 : 2,
                                                           kMeasurementEnabledStateKey);
    }
    // Made in place: moving a temporary Value into the optional trips a false "may be used
    // uninitialized" of g++ 12 in the sanitizer build.
    const std::optional<sdk::Value> value(std::in_place, enabled);
    postNotificationName(kSetEnabledNotification, value);
}

void REROdazadeveConfiguration::postNotificationName(std::string_view name,
                                                     const std::optional<sdk::Value>& value) {
    if (name.empty() || !value) {
        return;
    }
    VDUNotificationCenter::defaultCenter().postNotificationName(std::string(name), this,
                                                                {{std::string(name), *value}});
}
