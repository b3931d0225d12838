#include "sdk/measurement/script/APMPNumberValue.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
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

// Longest text formatFinite() writes: a sign, "0.", five zeros and 17 digits, or a sign, 17
// digits, a point and an exponent of "e-324".
constexpr std::size_t kMaxFiniteText = 40;

// Writes the text of a finite, non-zero `value` to `out` (kMaxFiniteText chars at most) and
// returns its length. The shortest round-trip digits d1...dk and the decimal exponent n give
// value = 0.d1...dk * 10^n.
std::size_t formatFinite(double value, char* out) {
    char scientific[32];
    const auto written = std::to_chars(scientific, scientific + sizeof scientific, std::fabs(value),
                                       std::chars_format::scientific);
    const std::string_view text(scientific, static_cast<std::size_t>(written.ptr - scientific));
    const std::size_t e = text.find('e');
    char digits[24];
    int k = 0;
    for (const char c : text.substr(0, e)) {
        if (c != '.') {
            digits[k++] = c;
        }
    }
    int exponent = 0;
    const std::string_view exponentText = text.substr(e + 1);
    const char* first = exponentText.data() + (exponentText.front() == '+' ? 1 : 0);
    (void)std::from_chars(first, exponentText.data() + exponentText.size(), exponent);
    const int n = exponent + 1;
    char* p = out;
    if (value < 0) {
        *p++ = '-';
    }
    const auto put = [&p](const char* from, int count) {
        for (int i = 0; i < count; ++i) {
            *p++ = from[i];
        }
    };
    const auto zeros = [&p](int count) {
        for (int i = 0; i < count; ++i) {
            *p++ = '0';
        }
    };
    if (n >= -5 && n <= 21) {
        // Decimal form: 1e-6 <= magnitude < 1e21.
        if (k <= n) {
            put(digits, k);
            zeros(n - k);
        } else if (n > 0) {
            put(digits, n);
            *p++ = '.';
            put(digits + n, k - n);
        } else {
            *p++ = '0';
            *p++ = '.';
            zeros(-n);
            put(digits, k);
        }
        return static_cast<std::size_t>(p - out);
    }
    *p++ = digits[0];
    if (k > 1) {
        *p++ = '.';
        put(digits + 1, k - 1);
    }
    const int shown = n - 1;
    *p++ = 'e';
    *p++ = shown < 0 ? '-' : '+';
    const auto end = std::to_chars(p, out + kMaxFiniteText, std::abs(shown));
    return static_cast<std::size_t>(end.ptr - out);
}

}  // namespace

std::shared_ptr<APMPNumberValue> APMPNumberValue::make(double value) {
    if (const auto& budget = APMPActiveBudgetReference()) {
        return std::make_shared<AccountedNumberValue>(value, budget);
    }
    return std::make_shared<APMPNumberValue>(value);
}

std::u16string APMPNumberValue::stringFromDouble(double value) {
    char16_t text[kMaxTextLength];
    return std::u16string(text, writeDouble(value, text));
}

std::size_t APMPNumberValue::writeDouble(double value, char16_t (&out)[kMaxTextLength]) {
    std::string_view ascii;
    char digits[kMaxFiniteText];
    if (std::isnan(value)) {
        ascii = "NaN";
    } else if (std::isinf(value)) {
        ascii = value > 0 ? "Infinity" : "-Infinity";
    } else if (value == 0) {
        ascii = "0";
    } else if (constexpr double kExactIntegers = 9007199254740992.0;
               std::fabs(value) < kExactIntegers && std::trunc(value) == value) {
        // Below 2^53 every integer is a double, so its own digits are the shortest that read
        // back.
        const auto end =
            std::to_chars(digits, digits + sizeof digits, static_cast<std::int64_t>(value)).ptr;
        ascii = std::string_view(digits, static_cast<std::size_t>(end - digits));
    } else {
        ascii = std::string_view(digits, formatFinite(value, digits));
    }
    static_assert(kMaxFiniteText <= kMaxTextLength);
    std::copy(ascii.begin(), ascii.end(), out);
    return ascii.size();
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
