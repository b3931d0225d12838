#include "sdk/measurement/engine/APMDecimalNumber.h"

#include <unicode/regex.h>
#include <unicode/unistr.h>

#include <algorithm>
#include <memory>
#include <mutex>
#include <string>

#include "sdk/measurement/engine/APMMonitor.h"

namespace {

constexpr std::string_view kDecimalPattern = "^[+-]?(([0-9]+\\.?)|([0-9]*\\.[0-9]+))$";
constexpr std::int64_t kLevel = 2;

std::mutex patternMutex;
std::unique_ptr<icu::RegexPattern> compiledPattern;  // guarded by patternMutex
std::optional<std::string> testPattern;              // guarded by patternMutex

// The compiled expression, compiling it when needed; null (after logging 26000) when it cannot
// be compiled. REQUIRES: patternMutex held.
const icu::RegexPattern* decimalPatternLocked() {
    if (compiledPattern) {
        return compiledPattern.get();
    }
    const std::string source = testPattern.value_or(std::string(kDecimalPattern));
    UErrorCode status = U_ZERO_ERROR;
    UParseError parseError{};
    compiledPattern.reset(
        icu::RegexPattern::compile(icu::UnicodeString::fromUTF8(source), 0, parseError, status));
    if (U_FAILURE(status) || !compiledPattern) {
        compiledPattern.reset();
        APMMonitor::shared().logWithLevel(
            kLevel, 26000, "Unable to initialize decimal number regexp. Regex, error", source,
            std::string(u_errorName(status)));
        return nullptr;
    }
    return compiledPattern.get();
}

}  // namespace

std::optional<APMDecimalNumber> APMDecimalNumber::parse(std::string_view text, bool* exact) {
    APMDecimalNumber number;
    std::size_t at = 0;
    if (at < text.size() && (text[at] == '+' || text[at] == '-')) {
        number.negative_ = text[at] == '-';
        ++at;
    }
    std::string all;  // every digit, integer part then fraction
    int fractionDigits = 0;
    bool sawPoint = false;
    for (; at < text.size(); ++at) {
        const char c = text[at];
        if (c == '.' && !sawPoint) {
            sawPoint = true;
        } else if (c >= '0' && c <= '9') {
            all += c;
            fractionDigits += sawPoint ? 1 : 0;
        } else {
            return std::nullopt;
        }
    }
    if (all.empty()) {
        return std::nullopt;
    }
    // value = all x 10^-fractionDigits; strip zeros on both sides.
    const std::size_t first = all.find_first_not_of('0');
    if (first == std::string::npos) {
        if (exact != nullptr) {
            *exact = true;
        }
        return APMDecimalNumber();
    }
    const std::size_t last = all.find_last_not_of('0');
    std::int64_t exponent = -static_cast<std::int64_t>(fractionDigits) +
                            static_cast<std::int64_t>(all.size() - 1 - last);
    std::string digits = all.substr(first, last - first + 1);
    bool kept = true;
    if (digits.size() > static_cast<std::size_t>(kMaxDigits)) {
        const std::size_t dropped = digits.size() - kMaxDigits;
        kept = digits.find_first_not_of('0', kMaxDigits) == std::string::npos;
        digits.resize(kMaxDigits);
        exponent += static_cast<std::int64_t>(dropped);
        digits.erase(digits.find_last_not_of('0') + 1);
        exponent +=
            static_cast<std::int64_t>(kMaxDigits) - static_cast<std::int64_t>(digits.size());
    }
    if (exponent < kMinExponent || exponent > kMaxExponent) {
        return std::nullopt;
    }
    number.digits_ = std::move(digits);
    number.exponent_ = static_cast<int>(exponent);
    if (exact != nullptr) {
        *exact = kept;
    }
    return number;
}

APMDecimalNumber APMDecimalNumber::fromInt64(std::int64_t value) {
    // The decimal text of any int64 is within the digit and exponent range, so it parses.
    return *parse(std::to_string(value));
}

std::string APMDecimalNumber::stringValue() const {
    if (isZero()) {
        return "0";
    }
    std::string text = negative_ ? "-" : "";
    const auto length = static_cast<int>(digits_.size());
    if (exponent_ >= 0) {
        text += digits_;
        text.append(static_cast<std::size_t>(exponent_), '0');
    } else if (length + exponent_ > 0) {
        text += digits_.substr(0, static_cast<std::size_t>(length + exponent_));
        text += '.';
        text += digits_.substr(static_cast<std::size_t>(length + exponent_));
    } else {
        text += "0.";
        text.append(static_cast<std::size_t>(-(length + exponent_)), '0');
        text += digits_;
    }
    return text;
}

APMDecimalNumber APMDecimalNumber::negated() const {
    APMDecimalNumber result = *this;
    result.negative_ = !isZero() && !negative_;
    return result;
}

std::strong_ordering APMDecimalNumber::operator<=>(const APMDecimalNumber& other) const {
    if (negative_ != other.negative_) {
        return negative_ ? std::strong_ordering::less : std::strong_ordering::greater;
    }
    // Same sign: compare magnitudes, then flip for negatives.
    std::strong_ordering magnitude = std::strong_ordering::equal;
    if (isZero() || other.isZero()) {
        magnitude = isZero() == other.isZero()
                        ? std::strong_ordering::equal
                        : (isZero() ? std::strong_ordering::less : std::strong_ordering::greater);
    } else {
        // Position of the leading digit, then the digits themselves padded to one length.
        const int lead = static_cast<int>(digits_.size()) + exponent_;
        const int otherLead = static_cast<int>(other.digits_.size()) + other.exponent_;
        if (lead != otherLead) {
            magnitude = lead <=> otherLead;
        } else {
            const std::size_t width = std::max(digits_.size(), other.digits_.size());
            std::string a = digits_, b = other.digits_;
            a.resize(width, '0');
            b.resize(width, '0');
            const int order = a.compare(b);
            magnitude = order <=> 0;
        }
    }
    if (negative_ && magnitude != std::strong_ordering::equal) {
        return magnitude == std::strong_ordering::less ? std::strong_ordering::greater
                                                       : std::strong_ordering::less;
    }
    return magnitude;
}

bool APMIsDecimalNumberString(std::string_view text) {
    if (text.empty()) {
        return false;
    }
    std::lock_guard lock(patternMutex);
    const icu::RegexPattern* pattern = decimalPatternLocked();
    if (pattern == nullptr) {
        return false;
    }
    const icu::UnicodeString input = icu::UnicodeString::fromUTF8(icu::StringPiece(
        text.data(), static_cast<std::int32_t>(std::min<std::size_t>(text.size(), INT32_MAX))));
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::RegexMatcher> matcher(pattern->matcher(input, status));
    if (U_FAILURE(status) || !matcher) {
        return false;
    }
    const bool matched = matcher->matches(status);
    return U_SUCCESS(status) && matched;
}

std::optional<APMDecimalNumber> APMDecimalNumberFromString(std::string_view text) {
    APMMonitor& monitor = APMMonitor::shared();
    if (!APMIsDecimalNumberString(text)) {
        monitor.logWithLevel(kLevel, 26001,
                             "String value does not represent a numeric value. Value", text);
        return std::nullopt;
    }
    bool exact = false;
    const std::optional<APMDecimalNumber> number = APMDecimalNumber::parse(text, &exact);
    if (!number) {
        monitor.logWithLevel(kLevel, 26002,
                             "Unable to create a NSDecimalNumber from string value. Value", text);
        return std::nullopt;
    }
    // ".5" reads as "0.5", so the number's text form can be found in it.
    std::string adjusted(text);
    if (adjusted.starts_with("+.") || adjusted.starts_with("-.") || adjusted.starts_with(".")) {
        for (std::size_t at = adjusted.find('.'); at != std::string::npos;
             at = adjusted.find('.', at + 2)) {
            adjusted.replace(at, 1, "0.");
        }
    }
    const std::string form =
        number->isNegative() ? number->negated().stringValue() : number->stringValue();
    // The text check alone passes a fraction whose dropped digits come last, so the parse
    // reports lost digits too.
    if (!exact || adjusted.find(form) == std::string::npos) {
        monitor.logWithLevel(
            kLevel, 26003,
            "Unable to create a NSDecimalNumber from string value: loss of precision. Value", text);
        return std::nullopt;
    }
    return number;
}

// Declared for tests only, in tests/sdk/measurement/engine/APMDecimalNumberTesting.h.
void TEST_setDecimalNumberPattern(std::optional<std::string> pattern) {
    std::lock_guard lock(patternMutex);
    testPattern = std::move(pattern);
    compiledPattern.reset();
}
