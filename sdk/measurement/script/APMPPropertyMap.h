#pragma once

#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "sdk/measurement/script/APMPMarkable.h"
#include "sdk/measurement/script/APMPRuntimeBudget.h"
#include "sdk/measurement/script/APMPRuntimeValue.h"

// A name-to-value table with read-only names and a freeze flag: the named properties of arrays,
// maps and functions, and the variables of a scope.
//
// Writes to a frozen map or to a read-only name are dropped without an error. A map with a
// budget accounts each entry (kEntryBytes plus two bytes per name unit) and fails a write that
// adds an entry past the memory cap with error 18, storing nothing.
class APMPPropertyMap {
  public:
    static constexpr double kEntryBytes = 64;

    APMPPropertyMap() = default;
    explicit APMPPropertyMap(std::shared_ptr<APMPRuntimeBudget> budget);

    bool hasName(const std::u16string& name) const { return contents_.count(name) != 0; }
    // The value, or undefined when absent.
    const APMPValueRef& valueForName(const std::u16string& name) const;
    // The names, in code-unit order.
    std::vector<std::u16string> allNames() const;
    std::size_t count() const { return contents_.size(); }

    // Stores `value` under `name` unless frozen or read-only.
    sdk::Error setValue(APMPValueRef value, const std::u16string& name);
    // As setValue(), and makes the name read-only.
    sdk::Error setImmutableValue(APMPValueRef value, const std::u16string& name);
    // Removes `name` unless frozen or read-only.
    void removeValueForName(const std::u16string& name);

    // Accounts the entries against `budget` from now on. REQUIRES: the map is empty.
    void attachBudget(std::shared_ptr<APMPRuntimeBudget> budget);

    void makeImmutable() { immutable_ = true; }
    bool isImmutable() const { return immutable_; }

    // For the collector: hands every value to `marker`; moves every value into `released`.
    void markValues(APMPMarker& marker) const;
    void releaseValues(APMPMarkable::Released& released);

  private:
    bool writable(const std::u16string& name) const;
    sdk::Error store(APMPValueRef value, const std::u16string& name);

    std::map<std::u16string, APMPValueRef, std::less<>> contents_;
    std::set<std::u16string, std::less<>> immutableNames_;
    bool immutable_ = false;
    APMPMemoryReservation reservation_;
};
