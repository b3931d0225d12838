#include "sdk/measurement/script/APMPStringValue.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <system_error>

#include "sdk/measurement/script/APMPMapValue.h"
#include "sdk/measurement/script/APMPScope.h"
#include "sdk/measurement/script/APMPStringCommandEvaluator.h"
#include "sdk/measurement/script/APMPUnicode.h"

namespace {

std::shared_ptr<APMPRuntimeBudget> budgetOf(const APMPScope* scope) {
    return scope != nullptr ? scope->budget() : nullptr;
}

// The length of the decimal number at the start of `text` (sign, digits with at most one
// point and at least one digit, optional exponent); 0 when there is none.
std::size_t scanDecimal(std::string_view text, bool& hasDigits) {
    std::size_t i = 0;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        ++i;
    }
    hasDigits = false;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
        ++i;
        hasDigits = true;
    }
    if (i < text.size() && text[i] == '.') {
        ++i;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
            ++i;
            hasDigits = true;
        }
    }
    if (!hasDigits) {
        return 0;
    }
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        std::size_t j = i + 1;
        if (j < text.size() && (text[j] == '+' || text[j] == '-')) {
            ++j;
        }
        const std::size_t digitsStart = j;
        while (j < text.size() && text[j] >= '0' && text[j] <= '9') {
            ++j;
        }
        if (j > digitsStart) {
            i = j;
        }
    }
    return i;
}

// Whether a decimal text that is out of the double range overflows (rather than underflows):
// its first significant digit sits at or above the point shifted by the exponent.
bool overflows(std::string_view text) {
    const std::size_t e = text.find_first_of("eE");
    const std::string_view mantissa = text.substr(0, e);
    long exponent = 0;
    if (e != std::string_view::npos) {
        std::string_view digits = text.substr(e + 1);
        const bool negative = !digits.empty() && digits[0] == '-';
        if (!digits.empty() && (digits[0] == '-' || digits[0] == '+')) {
            digits.remove_prefix(1);
        }
        for (char c : digits) {
            exponent = std::min(exponent * 10 + (c - '0'), 100000L);
        }
        exponent = negative ? -exponent : exponent;
    }
    const std::size_t point = mantissa.find('.');
    const std::size_t first = mantissa.find_first_of("123456789");
    const long position =
        static_cast<long>(point == std::string_view::npos ? mantissa.size() : point) -
        static_cast<long>(first) - (first > point ? 0 : 1);
    return position + exponent > 0;
}

}  // namespace

std::shared_ptr<APMPStringValue> APMPStringValue::make(std::u16string value) {
    auto result = std::make_shared<APMPStringValue>(std::move(value));
    if (const auto& budget = APMPActiveBudgetReference()) {
        result->reservation_.attach(budget);
        result->reservation_.account(allocationBytes(result->value_.capacity()));
    }
    return result;
}

double APMPStringValue::allocationBytes(std::size_t capacity) {
    return APMPSharedObjectBytes(sizeof(APMPStringValue)) + APMPTextBufferBytes(capacity);
}

std::shared_ptr<APMPStringValue> APMPStringValue::makeInScope(std::u16string value,
                                                              const APMPScope* scope,
                                                              sdk::Error& error) {
    error =
        APMPChargeWork(static_cast<double>(value.size()), APMPRuntimeBudget::kCopiedUnitsPerStep);
    if (!error.ok()) {
        return nullptr;
    }
    auto result = std::make_shared<APMPStringValue>(std::move(value));
    result->reservation_.attach(budgetOf(scope));
    error = result->reservation_.resize(allocationBytes(result->value_.capacity()));
    return error.ok() ? result : nullptr;
}

std::shared_ptr<APMPStringValue> APMPStringValue::concatenate(std::u16string_view first,
                                                              std::u16string_view second,
                                                              const APMPScope* scope,
                                                              sdk::Error& error) {
    const double units = static_cast<double>(first.size()) + static_cast<double>(second.size());
    error = APMPChargeWork(units, APMPRuntimeBudget::kCopiedUnitsPerStep);
    if (!error.ok()) {
        return nullptr;
    }
    auto result = std::make_shared<APMPStringValue>(std::u16string());
    result->reservation_.attach(budgetOf(scope));
    // Checked before the text is built, so a doubling loop fails with error 18 instead of
    // exhausting memory.
    error = result->reservation_.resize(allocationBytes(static_cast<std::size_t>(units)));
    if (!error.ok()) {
        return nullptr;
    }
    result->value_.reserve(first.size() + second.size());
    result->value_.append(first).append(second);
    return result;
}

double APMPStringValue::numberFromString(std::u16string_view text) {
    constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
    text = APMPTrimSpace(text);
    if (text.empty()) {
        return 0;
    }
    if (text == u"NaN") {
        return kNaN;
    }
    if (text == u"Infinity") {
        return std::numeric_limits<double>::infinity();
    }
    if (text == u"-Infinity") {
        return -std::numeric_limits<double>::infinity();
    }
    std::string ascii;
    ascii.reserve(text.size());
    for (char16_t unit : text) {
        if (unit > 0x7F) {
            return kNaN;
        }
        ascii.push_back(static_cast<char>(unit));
    }
    bool hasDigits = false;
    if (scanDecimal(ascii, hasDigits) != ascii.size()) {
        return kNaN;
    }
    const bool negative = ascii[0] == '-';
    const std::string_view unsignedText =
        std::string_view(ascii).substr(ascii[0] == '-' || ascii[0] == '+' ? 1 : 0);
    double value = 0;
    const auto result =
        std::from_chars(unsignedText.data(), unsignedText.data() + unsignedText.size(), value);
    if (result.ec == std::errc::result_out_of_range) {
        value = overflows(unsignedText) ? std::numeric_limits<double>::infinity() : 0.0;
    } else if (result.ec != std::errc() ||
               result.ptr != unsignedText.data() + unsignedText.size()) {
        return kNaN;
    }
    return negative ? -value : value;
}

bool APMPStringValue::booleanValueOrError(sdk::Error& error) const {
    (void)error;
    return !value_.empty();
}

std::u16string APMPStringValue::stringValueAtDepth(sdk::Error& error, int depth) const {
    (void)depth;
    // The conversion is a copy.
    error =
        APMPChargeWork(static_cast<double>(value_.size()), APMPRuntimeBudget::kCopiedUnitsPerStep);
    return error.ok() ? value_ : std::u16string();
}

double APMPStringValue::doubleValueAtDepth(sdk::Error& error, int depth) const {
    (void)depth;
    // Trimming reads units through the character tables.
    error =
        APMPChargeWork(static_cast<double>(value_.size()), APMPRuntimeBudget::kMappedUnitsPerStep);
    return error.ok() ? numberFromString(value_) : std::numeric_limits<double>::quiet_NaN();
}

bool APMPStringValue::isEqualAtDepth(const APMPRuntimeValue& other, sdk::Error& error,
                                     int depth) const {
    (void)depth;
    if (this == &other) {
        return true;
    }
    if (other.kind() != APMPValueKind::kString ||
        static_cast<const APMPStringValue&>(other).value_.size() != value_.size()) {
        return false;
    }
    error =
        APMPChargeWork(static_cast<double>(value_.size()), APMPRuntimeBudget::kCopiedUnitsPerStep);
    return error.ok() && APMPSameUnits(static_cast<const APMPStringValue&>(other).value_, value_);
}

APMPValueRef APMPStringValue::applyWithName(std::u16string_view name, APMPArguments arguments,
                                            const APMPScopeRef& scope, sdk::Error& error) {
    return APMPStringCommandEvaluator::sharedInstance().evaluateCommand(name, value_, arguments,
                                                                        scope, error);
}

std::u16string_view APMPPropertyName(const APMPRuntimeValue& key, APMPPropertyNameBuffer& buffer,
                                     sdk::Error& error) {
    switch (key.kind()) {
        case APMPValueKind::kString: {
            const std::u16string& text = static_cast<const APMPStringValue&>(key).value();
            // Paid as the copy a conversion makes.
            error = APMPChargeWork(static_cast<double>(text.size()),
                                   APMPRuntimeBudget::kCopiedUnitsPerStep);
            return error.ok() ? std::u16string_view(text) : std::u16string_view();
        }
        case APMPValueKind::kMap:
            return APMPMapValue::kText;
        case APMPValueKind::kNumber: {
            const double number = static_cast<const APMPNumberValue&>(key).value();
            return std::u16string_view(buffer.number,
                                       APMPNumberValue::writeDouble(number, buffer.number));
        }
        default:
            buffer.text = key.stringValueOrError(error);
            return buffer.text;
    }
}
