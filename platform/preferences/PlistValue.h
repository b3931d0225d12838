#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <type_traits>
#include <variant>
#include <vector>

namespace platform {

class PlistValue;

// A property-list date, as seconds since 1970-01-01 UTC (stored with microsecond precision).
struct PlistDate {
    double secondsSince1970 = 0;
    bool operator==(const PlistDate&) const = default;
};

// Property-list bytes.
struct PlistData {
    std::vector<uint8_t> bytes;
    bool operator==(const PlistData&) const = default;
};

using PlistArray = std::vector<PlistValue>;
using PlistDictionary = std::map<std::string, PlistValue, std::less<>>;

// One property-list value: boolean, integer, real, string, data, date, array or dictionary.
// A plain value type: copies are deep, comparison is by content.
class PlistValue {
  public:
    using Storage = std::variant<bool, int64_t, double, std::string, PlistData, PlistDate,
                                 PlistArray, PlistDictionary>;

    PlistValue() : storage_(false) {}
    PlistValue(bool value) : storage_(value) {}
    template <typename T>
    requires(std::is_integral_v<T> && !std::is_same_v<T, bool>) PlistValue(T value)
        : storage_(static_cast<int64_t>(value)) {}
    PlistValue(double value) : storage_(value) {}
    PlistValue(std::string value) : storage_(std::move(value)) {}
    PlistValue(const char* value) : storage_(std::string(value)) {}
    PlistValue(PlistData value) : storage_(std::move(value)) {}
    PlistValue(PlistDate value) : storage_(value) {}
    PlistValue(PlistArray value) : storage_(std::move(value)) {}
    PlistValue(PlistDictionary value) : storage_(std::move(value)) {}

    // Returns the value if it holds a T (bool, int64_t, double, std::string, PlistData, PlistDate,
    // PlistArray or PlistDictionary), else nullptr. The pointer lives as long as this value.
    template <typename T>
    const T* getIf() const {
        return std::get_if<T>(&storage_);
    }

    const Storage& storage() const { return storage_; }

    bool operator==(const PlistValue& other) const { return storage_ == other.storage_; }

  private:
    Storage storage_;
};

}  // namespace platform
