#include "sdk/measurement/script/APMPNumberValue.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <string_view>
#include <system_error>

namespace {

// A number that gives its memory back to the budget it was accounted against.
class AccountedNumberValue final : public APMPNumberValue {
  public:
    AccountedNumberValue(double value, std::shared_ptr<APMPRuntimeBudget> budget)
        : APMPNumberValue(value), reservation_(std::move(budget)) {
        reservation_.account(APMPSharedObjectBytes(sizeof(AccountedNumberValue)));
    }

  private:
    APMPMemoryReservation reservation_;
};

// The shortest round-trip digits of a finite, non-zero magnitude and its decimal exponent:
// value = 0.d1d2...dk * 10^point.
struct Digits {
    std::string digits;
    int point = 0;
};

Digits shortestDigits(double magnitude) {
    char buffer[64];
    const auto result =
        std::to_chars(buffer, buffer + sizeof buffer, magnitude, std::chars_format::scientific);
    const std::string_view text(buffer, static_cast<std::size_t>(result.ptr - buffer));
    const std::size_t e = text.find('e');
    Digits out;
    for (char c : text.substr(0, e)) {
        if (c != '.') {
            out.digits.push_back(c);
        }
    }
    out.point = std::atoi(std::string(text.substr(e + 1)).c_str()) + 1;
    return out;
}

std::string formatFinite(double value) {
    const Digits d = shortestDigits(std::fabs(value));
    const int k = static_cast<int>(d.digits.size());
    const int n = d.point;
    std::string out = value < 0 ? "-" : "";
    if (n >= -5 && n <= 21) {
        // Decimal form: 1e-6 <= magnitude < 1e21.
        if (k <= n) {
            out += d.digits + std::string(static_cast<std::size_t>(n - k), '0');
        } else if (n > 0) {
            out += d.digits.substr(0, static_cast<std::size_t>(n)) + "." +
                   d.digits.substr(static_cast<std::size_t>(n));
        } else {
            out += "0." + std::string(static_cast<std::size_t>(-n), '0') + d.digits;
        }
        return out;
    }
    out += d.digits.substr(0, 1);
    if (k > 1) {
        out += "." + d.digits.substr(1);
    }
    const int exponent = n - 1;
    out += exponent < 0 ? "e-" : "e+";
    out += std::to_string(std::abs(exponent));
    return out;
}

}  // namespace

std::shared_ptr<APMPNumberValue> APMPNumberValue::make(double value) {
    if (APMPRuntimeBudget* budget = APMPActiveBudget()) {
        return std::make_shared<AccountedNumberValue>(value, budget->shared_from_this());
    }
    return std::make_shared<APMPNumberValue>(value);
}

std::u16string APMPNumberValue::stringFromDouble(double value) {
    if (std::isnan(value)) {
        return u"NaN";
    }
    if (std::isinf(value)) {
        return value > 0 ? u"Infinity" : u"-Infinity";
    }
    if (value == 0) {
        return u"0";
    }
    const std::string ascii = formatFinite(value);
    return std::u16string(ascii.begin(), ascii.end());
}

bool APMPNumberValue::booleanValueOrError(sdk::Error& error) const {
    (void)error;
    return value_ != 0 && !std::isnan(value_);
}

std::u16string APMPNumberValue::stringValueAtDepth(sdk::Error& error, int depth) const {
    (void)error;
    (void)depth;
    return stringFromDouble(value_);
}

double APMPNumberValue::doubleValueAtDepth(sdk::Error& error, int depth) const {
    (void)error;
    (void)depth;
    return value_;
}

bool APMPNumberValue::isEqualAtDepth(const APMPRuntimeValue& other, sdk::Error& error,
                                     int depth) const {
    (void)error;
    (void)depth;
    if (other.kind() != APMPValueKind::kNumber) {
        return false;
    }
    const double theirs = static_cast<const APMPNumberValue&>(other).value_;
    return theirs == value_ || (std::isnan(theirs) && std::isnan(value_));
}
