#include "sdk/measurement/audiences/APMNumberFilterEvaluation.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <string>

#include "sdk/measurement/audiences/APMAudienceComparisonValues.h"
#include "sdk/measurement/audiences/APMAudienceLog.h"
#include "sdk/measurement/audiences/APMFilterDescription.h"
#include "sdk/measurement/messages/APMPBAccessors.h"

namespace {

namespace slot = apmpb::NumberFilter;
namespace type = apmpb::NumberFilter::ComparisonType;
constexpr std::int64_t kLevel = 1;

bool isDecimalSlot(const APMPBNumberFilter& filter, std::int32_t fieldID) {
    const std::optional<std::string> text = APMPBGetString(&filter, fieldID);
    return text && APMIsDecimalNumberString(*text);
}

// A bound as a double: an optional sign, then what from_chars reads as a whole. Bounds have
// passed the decimal-string test, so this reads every form that test accepts.
std::optional<double> doubleBound(const APMPBNumberFilter& filter, std::int32_t fieldID) {
    const std::optional<std::string> text = APMPBGetString(&filter, fieldID);
    if (!text) {
        return std::nullopt;
    }
    std::string_view digits = *text;
    bool negative = false;
    if (!digits.empty() && (digits.front() == '+' || digits.front() == '-')) {
        negative = digits.front() == '-';
        digits.remove_prefix(1);
    }
    if (digits.empty() || digits.front() == '+' || digits.front() == '-') {
        return std::nullopt;
    }
    double value = 0.0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value,
                                              std::chars_format::fixed);
    if (error != std::errc() || end != digits.data() + digits.size() || !std::isfinite(value)) {
        return std::nullopt;
    }
    return negative ? -value : value;
}

double stepped(double value, double direction) {
    return std::nextafter(std::nextafter(value, direction), direction);
}

std::optional<bool> invalidBound() {
    return APMAudienceNoResult(kLevel, 8012,
                               "Number filter is invalid, the comparison filter is not valid. "
                               "Audience filter will not be evaluated");
}

}  // namespace

bool APMIsValidNumberFilter(const APMPBNumberFilter& filter) {
    if (!APMPBHasField(&filter, slot::kComparisonType)) {
        APMAudienceLog(kLevel, 8006, "Number filter has no comparison type");
        return false;
    }
    const std::uint32_t comparison = APMPBGetInt32(&filter, slot::kComparisonType);
    if (comparison == type::kUnknownComparisonType) {
        APMAudienceLog(kLevel, 8007, "Number filter has unknown comparison type");
        return false;
    }
    if (comparison > type::kBetween) {
        APMAudienceLog(kLevel, 8011, "Number filter has a real unknown comparison type");
        return false;
    }
    if (comparison != type::kBetween) {
        if (!isDecimalSlot(filter, slot::kComparisonValue)) {
            APMAudienceLog(kLevel, 8008,
                           "Numeric filter does not have a valid comparison value. Filter",
                           APMDescribeNumberFilter(filter));
            return false;
        }
        return true;
    }
    const bool minimum = isDecimalSlot(filter, slot::kMinComparisonValue);
    if (!minimum) {
        APMAudienceLog(kLevel, 8009,
                       "Numeric filter does not have a valid min comparison value. Filter",
                       APMDescribeNumberFilter(filter));
    }
    const bool maximum = isDecimalSlot(filter, slot::kMaxComparisonValue);
    if (!maximum) {
        APMAudienceLog(kLevel, 8010,
                       "Numeric filter does not have a valid max comparison value. Filter",
                       APMDescribeNumberFilter(filter));
    }
    return minimum && maximum;
}

std::optional<bool> APMEvaluateNumberFilterDouble(const APMPBNumberFilter& filter, double value) {
    if (!APMIsValidNumberFilter(filter)) {
        return std::nullopt;
    }
    const std::uint32_t comparison = APMPBGetInt32(&filter, slot::kComparisonType);
    if (comparison == type::kBetween) {
        const std::optional<double> minimum = doubleBound(filter, slot::kMinComparisonValue);
        const std::optional<double> maximum = doubleBound(filter, slot::kMaxComparisonValue);
        if (!minimum || !maximum) {
            return invalidBound();
        }
        return *minimum <= value && value <= *maximum;
    }
    const std::optional<double> bound = doubleBound(filter, slot::kComparisonValue);
    if (!bound) {
        return invalidBound();
    }
    constexpr double kInfinity = std::numeric_limits<double>::infinity();
    switch (comparison) {
        case type::kLessThan:
            return value < *bound;
        case type::kGreaterThan:
            return value > *bound;
        case type::kEqual:
            return stepped(*bound, -kInfinity) < value && value < stepped(*bound, kInfinity);
        default:
            return APMAudienceNoResult(kLevel, 8013,
                                       "Validated double number filter has unknown comparison "
                                       "type. Audience filter will not be evaluated");
    }
}

std::optional<bool> APMEvaluateNumberFilterInt64(const APMPBNumberFilter& filter,
                                                 std::int64_t value) {
    return APMEvaluateNumberFilterDecimal(filter, APMDecimalNumber::fromInt64(value));
}

std::optional<bool> APMEvaluateNumberFilterDecimal(const APMPBNumberFilter& filter,
                                                   const APMDecimalNumber& value) {
    if (!APMIsValidNumberFilter(filter)) {
        return std::nullopt;
    }
    const APMAudienceComparisonValues bounds =
        APMAudienceComparisonValues::fromNumberFilter(filter);
    if (!bounds.isValid()) {
        return APMAudienceNoResult(kLevel, 8015,
                                   "Parsed decimal number comparison values are not valid. "
                                   "Audience filter will not be evaluated. Filter",
                                   APMDescribeNumberFilter(filter));
    }
    switch (APMPBGetInt32(&filter, slot::kComparisonType)) {
        case type::kLessThan:
            return value < *bounds.comparisonValue;
        case type::kGreaterThan:
            return value > *bounds.comparisonValue;
        case type::kEqual:
            return value == *bounds.comparisonValue;
        default:
            return value >= *bounds.minComparisonValue && value <= *bounds.maxComparisonValue;
    }
}
