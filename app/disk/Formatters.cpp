#include "app/disk/Formatters.h"

#include <array>
#include <charconv>
#include <cmath>

#include "app/localization/LocalizationManager.h"

namespace cb {

namespace {

struct Unit {
    const char* name;
    uint64_t bytes;
    int fractionDigits;
};

constexpr std::array<Unit, 4> kUnits = {{
    {"KB", 1'000ULL, 0},
    {"MB", 1'000'000ULL, 1},
    {"GB", 1'000'000'000ULL, 2},
    {"TB", 1'000'000'000'000ULL, 2},
}};

constexpr uint64_t pow10(int digits) {
    uint64_t result = 1;
    for (int i = 0; i < digits; ++i) {
        result *= 10;
    }
    return result;
}

// `bytes` in `unit`, scaled by 10^fractionDigits and rounded half away from zero. Exact integer
// arithmetic: 128 bits hold every int64 count times 100.
uint64_t scaledValue(uint64_t bytes, const Unit& unit) {
    unsigned __int128 scaled = static_cast<unsigned __int128>(bytes) * pow10(unit.fractionDigits);
    return static_cast<uint64_t>((scaled + unit.bytes / 2) / unit.bytes);
}

std::string groupThousands(uint64_t value) {
    std::string digits = std::to_string(value);
    std::string grouped;
    for (size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) {
            grouped += ',';
        }
        grouped += digits[i];
    }
    return grouped;
}

std::string formatScaled(uint64_t scaled, const Unit& unit) {
    uint64_t divisor = pow10(unit.fractionDigits);
    std::string text = groupThousands(scaled / divisor);
    std::string fraction;
    for (uint64_t rest = scaled % divisor, place = divisor / 10; place > 0; place /= 10) {
        fraction += static_cast<char>('0' + rest / place % 10);
    }
    while (!fraction.empty() && fraction.back() == '0') {
        fraction.pop_back();
    }
    if (!fraction.empty()) {
        text += '.' + fraction;
    }
    return text + ' ' + unit.name;
}

}  // namespace

std::string ByteCountFormatter::string(int64_t byteCount) const {
    if (byteCount <= 0) {
        return LocalizationManager::shared().text("size.zero");
    }
    const uint64_t bytes = static_cast<uint64_t>(byteCount);
    size_t index = 0;
    while (index + 1 < kUnits.size() && bytes >= kUnits[index + 1].bytes) {
        ++index;
    }
    uint64_t scaled = scaledValue(bytes, kUnits[index]);
    if (index + 1 < kUnits.size() && scaled >= 1000 * pow10(kUnits[index].fractionDigits)) {
        ++index;  // rounded up to a whole next unit
        scaled = scaledValue(bytes, kUnits[index]);
    }
    if (index == 0 && scaled == 0) {
        scaled = 1;  // a non-empty count never shows as zero
    }
    return formatScaled(scaled, kUnits[index]);
}

const ByteCountFormatter& byteFormatter() {
    static const ByteCountFormatter formatter;
    return formatter;
}

std::string percentString(int64_t part, int64_t total) {
    if (total < 1) {
        return "0%";
    }
    double p = static_cast<double>(part) / static_cast<double>(total) * 100.0;
    int digits = p >= 10 ? 0 : (p >= 1 ? 1 : 2);
    // to_chars is locale-independent and rounds like printf's "%.*f".
    std::array<char, 64> buffer{};
    auto [end, error] = std::to_chars(buffer.data(), buffer.data() + buffer.size() - 1, p,
                                      std::chars_format::fixed, digits);
    if (error != std::errc()) {
        return "0%";
    }
    return std::string(buffer.data(), end) + '%';
}

}  // namespace cb
