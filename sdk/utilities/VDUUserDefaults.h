#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/preferences/PreferencesStore.h"
#include "sdk/utilities/Value.h"

// A checking front over one user-defaults suite: the preference file "<suite>.plist" in
// platform::PreferencesStore::defaultFolder(), or the standard suite, which is the main bundle's
// identifier (where the application keeps its own settings).
//
// Keys must be non-empty; values must have a property-list form all the way down (no null
// anywhere, dates in the property-list range, nesting that the file can hold). A bad key or
// value is refused with a warning through the logger (subsystem "com.vovidu.utilities.logger",
// codes "I-VDU000001" to "I-VDU000003") and never reaches the file.
//
// Every write replaces the suite's file atomically; a value another process wrote is seen on the
// next read. All members are safe to call from any thread (the store locks itself).
class VDUUserDefaults {
  public:
    // The standard suite.
    VDUUserDefaults();

    // The suite `suiteName`; a missing or empty name is the standard suite. A name that cannot
    // name a file (".", "..", containing "/" or NUL, too long) is percent-encoded into one that
    // can, so no name reaches outside the preferences folder.
    explicit VDUUserDefaults(std::optional<std::string_view> suiteName);

    // The shared instance over the standard suite, made once.
    static VDUUserDefaults& standardUserDefaults();

    // The object stored under `key`, or no value. An empty key logs "I-VDU000001" and answers
    // no value.
    std::optional<sdk::Value> objectForKey(std::string_view key) const;

    // Stores `value` under `key`; no value (nil) removes the key. An empty key logs
    // "I-VDU000002", a value without a property-list form logs "I-VDU000003"; both leave the
    // stored value as it was. A failed file write logs "I-VDU000004" and also changes nothing.
    void setObject(const std::optional<sdk::Value>& value, std::string_view key);

    // `setObject` with no value.
    void removeObjectForKey(std::string_view key);

    // `objectForKey` read as a number: a number converts (a double truncates, saturating), a
    // string reads as the decimal number it begins with, anything else (and no value) is 0.
    std::int64_t integerForKey(std::string_view key) const;
    float floatForKey(std::string_view key) const;
    double doubleForKey(std::string_view key) const;
    // As above, true when not zero; a string beginning with "Y", "y", "T" or "t" is true too.
    bool boolForKey(std::string_view key) const;

    // `objectForKey` unchanged: the stored object whatever its type.
    std::optional<sdk::Value> stringForKey(std::string_view key) const;
    std::optional<sdk::Value> arrayForKey(std::string_view key) const;
    std::optional<sdk::Value> dictionaryForKey(std::string_view key) const;

    // `setObject` with the number.
    void setInteger(std::int64_t value, std::string_view key);
    void setFloat(float value, std::string_view key);
    void setDouble(double value, std::string_view key);
    void setBool(bool value, std::string_view key);

    // The suite's store.
    const std::shared_ptr<platform::PreferencesStore>& userDefaults() const { return store_; }

    // The file name (without ".plist") that suite `name` is kept under: `name` itself when it
    // can name a file and holds no "%", else its percent-encoded form. Two names never share a
    // file (names too long for a file end in a hash of the whole name).
    static std::string fileNameForSuite(std::string_view name);

  private:
    std::shared_ptr<platform::PreferencesStore> store_;
};
