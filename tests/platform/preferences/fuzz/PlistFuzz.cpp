// plist_fuzz: arbitrary bytes read as a property list by the two readers the app and the SDK
// use (platform::decodePlist for bundles, related files and preferences; sdk::valueFromPlist
// for the SDK's archives and stored dictionaries). Nothing may crash, time out or trip a
// sanitizer, and the pre-scan that guards libplist must not let through more than it claims:
// a value that passed it with a small depth bound is no deeper, and no value costs more than
// plistCostLimit() of the input. A value read back is written in both forms and must read again.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>
#include <string_view>

#include "platform/preferences/PlistCodec.h"
#include "platform/preferences/PlistPreScan.h"
#include "sdk/utilities/ValuePlist.h"

namespace {

constexpr std::size_t kSmallDepth = 8;
// Values are written back only up to this cost: libplist's writer compares equal containers
// in depth, so thousands of identical sub-trees (which shared references read back as) take
// it seconds. Our writers only write values this system built.
constexpr std::uint64_t kRoundTripCost = 64u << 10;

struct Measure {
    std::size_t depth = 0;   // levels, a leaf counting as one
    std::uint64_t cost = 0;  // as the pre-scan counts it
};

Measure measure(const platform::PlistValue& value) {
    Measure result{1, platform::kPlistObjectCost};
    if (const auto* text = value.getIf<std::string>()) {
        result.cost += text->size();
    } else if (const auto* data = value.getIf<platform::PlistData>()) {
        result.cost += data->bytes.size();
    } else if (const auto* array = value.getIf<platform::PlistArray>()) {
        for (const platform::PlistValue& item : *array) {
            const Measure inner = measure(item);
            result.depth = std::max(result.depth, inner.depth + 1);
            result.cost += inner.cost;
        }
    } else if (const auto* dictionary = value.getIf<platform::PlistDictionary>()) {
        for (const auto& [key, item] : *dictionary) {
            const Measure inner = measure(item);
            result.depth = std::max(result.depth, inner.depth + 1);
            // The key is an object of its own; XML keys may be shorter than their text.
            result.cost += inner.cost + platform::kPlistObjectCost;
        }
    }
    return result;
}

void check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const std::span<const std::uint8_t> span(data, size);
    bool small = false;  // read by the platform reader at no more than kRoundTripCost
    if (std::optional<platform::PlistValue> value = platform::decodePlist(bytes)) {
        const Measure measured = measure(*value);
        small = measured.cost <= kRoundTripCost;
        // Keys and duplicate dictionary entries can only make the decoded value smaller.
        check(measured.cost <= platform::plistCostLimit(size) * 2);
        if (!platform::plistPreScan(span, kSmallDepth)) {
            // The <plist> element of XML adds one level the value does not have.
            check(measured.depth <= kSmallDepth);
        }
        if (small) {
            check(platform::decodePlist(platform::encodeBinaryPlist(*value)).has_value());
            check(platform::decodePlist(platform::encodeXmlPlist(*value)).has_value());
        }
    }
    sdk::Value value;
    if (sdk::valueFromPlist(sdk::Bytes(data, data + size), &value).ok() && small) {
        sdk::Bytes binary;
        if (sdk::plistFromValue(value, sdk::PlistFormat::kBinary, &binary).ok()) {
            sdk::Value again;
            check(sdk::valueFromPlist(binary, &again).ok());
        }
    }
    return 0;
}
