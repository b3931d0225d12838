#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

// Prices in micros (currency units x 1,000,000 as an int64).

// `multiplier` x the decimal `price` ("0.99") x 1,000,000: the exact decimal product, then the
// nearest double, then truncated toward zero and saturated to the int64 range. No value when
// `price` is not a plain decimal number ([+-]digits[.digits]). Pure; safe from any thread.
std::optional<std::int64_t> APMMicrosFromDecimalPrice(std::string_view price,
                                                      std::int64_t multiplier);
