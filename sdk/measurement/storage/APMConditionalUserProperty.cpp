#include "sdk/measurement/storage/APMConditionalUserProperty.h"

#include "sdk/measurement/engine/APMDataTypeValidator.h"
#include "sdk/measurement/engine/APMMonitor.h"

namespace {

constexpr double kMinDurationSeconds = 0.001;
// 180 days.
constexpr double kMaxDurationSeconds = 15552000;

bool isValidDuration(double seconds) {
    return seconds >= kMinDurationSeconds && seconds <= kMaxDurationSeconds;
}

}  // namespace

bool APMIsValidConditionalUserProperty(const APMConditionalUserProperty& property) {
    std::uint64_t failureCode = 0;
    if (!APMDataTypeValidator::isValidConditionalUserPropertyOrigin(property.origin(),
                                                                    &failureCode) ||
        !APMDataTypeValidator::isValidConditionalUserPropertyName(property.name(), &failureCode)) {
        return false;
    }
    if (property.value() && !APMDataTypeValidator::isValidConditionalUserPropertyValue(
                                &*property.value(), &failureCode)) {
        return false;
    }
    // NaN fails both comparisons and is refused with the rest.
    if (!isValidDuration(property.triggerTimeout())) {
        APMMonitor::shared().logWithLevel(2, 11000,
                                          "Invalid conditional user property trigger timeout",
                                          property.triggerTimeout());
        return false;
    }
    if (!isValidDuration(property.timeToLive())) {
        APMMonitor::shared().logWithLevel(
            2, 11001, "Invalid conditional user property time to live", property.timeToLive());
        return false;
    }
    return true;
}
