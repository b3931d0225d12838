#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/preferences/PreferencesStore.h"
#include "sdk/utilities/Value.h"

// The measurement SDK's user defaults over one preferences suite. The shared instance works on
// the application's own suite (named by the main bundle's identifier, the same file as the
// core's standard user defaults).
//
// Keys must be non-empty and values must have a property-list form (no null anywhere). Refusals
// and failures go to VDULogger with subsystem "com.vovidu.razudizo.analytics", category
// "<DivEdadevadeze>" and codes "I-ACS041001" to "I-ACS041004". Every write replaces the suite's
// file atomically, so `synchronize` has nothing left to flush.
//
// Thread-safety: every member may be called from any thread (the store locks itself).
class APMUserDefaults {
  public:
    // The defaults of `store`. REQUIRES: store is not null.
    explicit APMUserDefaults(std::shared_ptr<platform::PreferencesStore> store);

    // The shared instance over the application's suite, made once.
    static APMUserDefaults& sharedUserDefaults();

    // The stored object, or no value. An empty key logs 41001 and answers no value.
    std::optional<sdk::Value> objectForKey(std::string_view key) const;

    // Stores `value` under `key`; no value removes the key. An empty key logs 41002, a value
    // without a property-list form 41003 and a failed file write 41004; each leaves the stored
    // value as it was.
    void setObject(const std::optional<sdk::Value>& value, std::string_view key);
    void removeObjectForKey(std::string_view key) { setObject(std::nullopt, key); }

    // The stored number (a double truncates, saturating), or 0 for anything else.
    std::int64_t integerForKey(std::string_view key) const;
    double doubleForKey(std::string_view key) const;
    bool boolForKey(std::string_view key) const { return integerForKey(key) != 0; }
    // The stored object when it has that kind, else no value.
    std::optional<std::string> stringForKey(std::string_view key) const;
    std::optional<sdk::Value> numberForKey(std::string_view key) const;

    void setInteger(std::int64_t value, std::string_view key) { setObject(sdk::Value(value), key); }
    void setDouble(double value, std::string_view key) { setObject(sdk::Value(value), key); }
    void setBool(bool value, std::string_view key) { setObject(sdk::Value(value), key); }

    // Every write is on disk when it returns; this only exists for callers written against a
    // cached store.
    void synchronize() {}

    const std::shared_ptr<platform::PreferencesStore>& store() const { return store_; }

  private:
    std::shared_ptr<platform::PreferencesStore> store_;
};
