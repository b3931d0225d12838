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
// budget accounts each entry as allocated (its tree node and the name's buffer) and fails a
// write that adds an entry past the memory cap with error 18, storing nothing. It also carries
// the fixed cost of the object that owns it (objectBytes), accounted for as long as it lives.
class APMPPropertyMap {
  public:
    APMPPropertyMap() = default;
    // `objectBytes`: the owner's own allocation, accounted unchecked (the owner exists).
    explicit APMPPropertyMap(std::shared_ptr<APMPRuntimeBudget> budget, double objectBytes = 0);

    // What an entry named `name` costs: its tree node and the name's buffer.
    static double entryBytes(const std::u16string& name);

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

    // Accounts the owner's `objectBytes` and the entries against `budget` from now on.
    // REQUIRES: the map is empty and has no budget yet.
    void attachBudget(std::shared_ptr<APMPRuntimeBudget> budget, double objectBytes = 0);

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
    double objectBytes_ = 0;
    APMPMemoryReservation reservation_;
};
