#include "sdk/measurement/attribution/APMPurchaseAmount.h"

#include <cstdlib>
#include <string>
#include <vector>

#include "sdk/measurement/engine/APMDecimalNumber.h"
#include "sdk/utilities/Value.h"

namespace {

// The decimal digits of `digits` (most significant first) times `factor`.
std::string multiplyDigits(const std::string& digits, std::uint64_t factor) {
    std::vector<unsigned __int128> columns;  // least significant first
    unsigned __int128 carry = 0;
    for (auto it = digits.rbegin(); it != digits.rend(); ++it) {
        const unsigned __int128 product =
            static_cast<unsigned __int128>(*it - '0') * factor + carry;
        columns.push_back(product % 10);
        carry = product / 10;
    }
    while (carry != 0) {
        columns.push_back(carry % 10);
        carry /= 10;
    }
    std::string result;
    for (auto it = columns.rbegin(); it != columns.rend(); ++it) {
        result.push_back(static_cast<char>('0' + static_cast<int>(*it)));
    }
    return result;
}

}  // namespace

std::optional<std::int64_t> APMMicrosFromDecimalPrice(std::string_view price,
                                                      std::int64_t multiplier) {
    const std::optional<APMDecimalNumber> number = APMDecimalNumber::parse(price);
    if (!number) {
        return std::nullopt;
    }
    // The plain text form has no exponent: "-0.99", "1200".
    std::string text = number->stringValue();
    const bool negative = !text.empty() && text[0] == '-';
    if (negative) {
        text.erase(0, 1);
    }
    const std::size_t point = text.find('.');
    int exponent = 6;
    if (point != std::string::npos) {
        exponent -= static_cast<int>(text.size() - point - 1);
        text.erase(point, 1);
    }
    const std::uint64_t factor = multiplier < 0 ? 0 - static_cast<std::uint64_t>(multiplier)
                                                : static_cast<std::uint64_t>(multiplier);
    const std::string product = multiplyDigits(text, factor) + "e" + std::to_string(exponent);
    // strtod rounds the exact decimal to the nearest double; beyond the double range it gives
    // infinity, which saturates below.
    double value = std::strtod(product.c_str(), nullptr);
    if (negative != (multiplier < 0)) {
        value = -value;
    }
    return sdk::Value(value).numberAsInt();
}
