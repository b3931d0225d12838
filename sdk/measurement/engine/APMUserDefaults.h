#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "platform/preferences/PreferencesStore.h"
#include "sdk/utilities/TypedValueAccessors.h"
#include "sdk/utilities/Value.h"

// The measurement engine's key-value store over one preferences suite. The shared instance
// works on the application's own preferences (the standard suite, named by the main bundle's
// identifier); other instances on a named suite (the monitor's, the consent client's, the
// experiments'). A named suite's file is kept out of backups.
//
// Keys must be non-empty and values must have a property-list form all the way down (string,
// number, data, date, array, dictionary; no null). Refusals and failures go to VDULogger with
// subsystem "com.vovidu.razudizo.analytics", category "<DivEdadevadeze>", not forced: warnings
// "I-ACS041000" (backup exclusion failed), "I-ACS041001" (read with an invalid key),
// "I-ACS041002" (write with an invalid key), "I-ACS041003" (invalid value), and the error
// "I-ACS041004" (the file could not be written).
//
// Every write replaces the suite's file atomically, so a value is on disk when the setter
// returns.
//
// Thread-safety: every member may be called from any thread; the store locks itself and the
// exclusion flag is guarded by excludedMutex_.
class APMUserDefaults : public sdk::TypedValueAccessors<APMUserDefaults> {
  public:
    // The suite `suiteName` in the preferences folder; no name or an empty one is the standard
    // suite. A name that cannot name a file is encoded into one that can (as VDUUserDefaults
    // does), so no name reaches outside the folder.
    explicit APMUserDefaults(std::optional<std::string_view> suiteName = std::nullopt);

    // The defaults of `store`, named `suiteName` (empty for the standard suite, whose file is
    // never marked for backups). REQUIRES: store is not null.
    explicit APMUserDefaults(std::shared_ptr<platform::PreferencesStore> store,
                             std::string suiteName = {});

    APMUserDefaults(const APMUserDefaults&) = delete;
    APMUserDefaults& operator=(const APMUserDefaults&) = delete;

    // The shared instance over the standard suite (the same store as the core's standard user
    // defaults), made once; it never touches backup flags.
    static APMUserDefaults& sharedUserDefaults();

    // The stored object, or no value. An empty key logs 41001 and answers no value.
    std::optional<sdk::Value> objectForKey(std::string_view key) const;

    // Stores a copy of `value` under `key`; no value removes the key. An empty key logs 41002,
    // a value without a property-list form 41003, a failed file write 41004; each leaves the
    // stored value as it was.
    void setObject(const std::optional<sdk::Value>& value, std::string_view key);
    // The typed reads and writes (integerForKey, setBool, removeObjectForKey, ...) come from
    // sdk::TypedValueAccessors over these two.

    // Removes every key of the suite in one write (41004 when it fails).
    void clearAllData();

    // Every write is already on disk, so this succeeds. Then, for a named suite whose file
    // exists and was not yet marked, marks the file as excluded from backups (a file system
    // without user attributes counts as done); a failure logs 41000 with the error code and is
    // tried again on the next call. Returns true.
    bool synchronize();

    // The suite's name; empty for the standard suite.
    const std::string& suiteName() const { return suiteName_; }

    // Whether the suite's file is known to be excluded from backups (always for the standard
    // suite, whose file belongs to the application).
    bool isPreferenceFileExcluded() const;

    const std::shared_ptr<platform::PreferencesStore>& store() const { return store_; }

  private:
    const std::string suiteName_;
    std::shared_ptr<platform::PreferencesStore> store_;
    mutable std::mutex excludedMutex_;
    bool preferenceFileExcluded_ = false;  // guarded by excludedMutex_
};

// Reserved public user property name -> internal name, 10 pairs. Built once; safe from any
// thread.
const std::map<std::string, std::string, std::less<>>& APMReservedUserPropertyNames();
