#include "sdk/measurement/audiences/APMAudienceComparisonValues.h"

#include "sdk/measurement/audiences/APMAudienceLog.h"
#include "sdk/measurement/messages/APMPBAccessors.h"

namespace {

constexpr std::int64_t kLevel = 1;

// The exact value of a string slot; logs `code` and clears `valid` when it has none.
std::optional<APMDecimalNumber> exactBound(const APMPBNumberFilter& filter, std::int32_t slot,
                                           std::int64_t code, const char* message, bool& valid) {
    std::optional<APMDecimalNumber> number;
    if (const std::optional<std::string> text = APMPBGetString(&filter, slot)) {
        number = APMDecimalNumberFromString(*text);
    }
    if (!number) {
        APMAudienceLog(kLevel, code, message);
        valid = false;
    }
    return number;
}

}  // namespace

APMAudienceComparisonValues APMAudienceComparisonValues::fromNumberFilter(
    const APMPBNumberFilter& filter) {
    namespace slot = apmpb::NumberFilter;
    namespace type = apmpb::NumberFilter::ComparisonType;
    APMAudienceComparisonValues values;
    const std::uint32_t comparison = APMPBGetInt32(&filter, slot::kComparisonType);
    if (comparison == type::kLessThan || comparison == type::kGreaterThan ||
        comparison == type::kEqual) {
        if (!APMPBHasField(&filter, slot::kComparisonValue)) {
            APMAudienceLog(kLevel, 8001, "Number filter has no comparison value");
            values.valid = false;
        } else {
            values.comparisonValue =
                exactBound(filter, slot::kComparisonValue, 8002,
                           "Number filter comparison value is not a number", values.valid);
        }
    } else if (comparison == type::kBetween) {
        if (!APMPBHasField(&filter, slot::kMinComparisonValue) ||
            !APMPBHasField(&filter, slot::kMaxComparisonValue)) {
            APMAudienceLog(kLevel, 8003,
                           "Number filter does not have both min and max comparison values");
            values.valid = false;
        } else {
            values.minComparisonValue =
                exactBound(filter, slot::kMinComparisonValue, 8004,
                           "Number filter min comparison value is not a number", values.valid);
            values.maxComparisonValue =
                exactBound(filter, slot::kMaxComparisonValue, 8005,
                           "Number filter max comparison value is not a number", values.valid);
        }
    }
    return values;
}
