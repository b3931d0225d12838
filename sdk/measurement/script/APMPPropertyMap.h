#pragma once

#include <cstddef>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "sdk/measurement/script/APMPMarkable.h"
#include "sdk/measurement/script/APMPRuntimeBudget.h"
#include "sdk/measurement/script/APMPRuntimeValue.h"

// Code-unit order of names (the order of std::u16string's own comparison), compared four units
// at a time.
struct APMPNameOrder {
    using is_transparent = void;
    bool operator()(std::u16string_view a, std::u16string_view b) const;
};

// A name-to-value table with read-only names and a freeze flag: the named properties of arrays,
// maps and functions, and the variables of a scope.
//
// Entries are kept in the order of their names' hashes, so a lookup compares one number at
// each level of the tree and whole names only where the hashes match; allNames() sorts the
// names into code-unit order.
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
    static double entryBytes(std::u16string_view name);

    // The hash the map orders `name` by; a caller that looks one name up in several maps
    // (a scope chain) computes it once.
    static std::size_t hashName(std::u16string_view name);

    bool hasName(std::u16string_view name) const { return findValue(name) != nullptr; }
    // The value, or undefined when absent.
    const APMPValueRef& valueForName(std::u16string_view name) const;
    // The value, or null when absent (one lookup for "has it, and what").
    const APMPValueRef* findValue(std::u16string_view name) const {
        return findValue(name, hashName(name));
    }
    // As findValue(name); REQUIRES: `hash` is hashName(name).
    const APMPValueRef* findValue(std::u16string_view name, std::size_t hash) const;
    // The names, in code-unit order.
    std::vector<std::u16string> allNames() const;
    std::size_t count() const { return contents_.size(); }

    // Stores `value` under `name` unless frozen or read-only.
    sdk::Error setValue(APMPValueRef value, std::u16string_view name);
    // As setValue(), and makes the name read-only.
    sdk::Error setImmutableValue(APMPValueRef value, std::u16string_view name);
    // Removes `name` unless frozen or read-only.
    void removeValueForName(std::u16string_view name);

    // Accounts the owner's `objectBytes` and the entries against `budget` from now on.
    // REQUIRES: the map is empty and has no budget yet.
    void attachBudget(std::shared_ptr<APMPRuntimeBudget> budget, double objectBytes = 0);
    // The budget entries are accounted against; null when none.
    APMPRuntimeBudget* budget() const { return reservation_.budget().get(); }
    const std::shared_ptr<APMPRuntimeBudget>& sharedBudget() const { return reservation_.budget(); }

    void makeImmutable() { immutable_ = true; }
    bool isImmutable() const { return immutable_; }

    // For the collector: hands every value to `marker`; moves every value into `released`.
    void markValues(APMPMarker& marker) const;
    void releaseValues(APMPMarkable::Released& released);

  private:
    struct Key {
        std::size_t hash;
        std::u16string name;
    };
    struct KeyView {
        std::size_t hash;
        std::u16string_view name;
    };
    // Hash first, then length, then the names' bytes: any strict order does, as allNames()
    // sorts, and equal hashes almost always mean equal names.
    struct KeyOrder {
        using is_transparent = void;
        template <typename A, typename B>
        bool operator()(const A& a, const B& b) const {
            if (a.hash != b.hash) {
                return a.hash < b.hash;
            }
            return lessWithEqualHash(a.name, b.name);
        }
        static bool lessWithEqualHash(std::u16string_view a, std::u16string_view b);
    };
    struct Entry {
        APMPValueRef value;
        bool immutable = false;
    };
    using Contents = std::map<Key, Entry, KeyOrder>;

    // Stores unless frozen or read-only; `immutable` makes a new or overwritten name read-only.
    sdk::Error store(APMPValueRef value, std::u16string_view name, bool immutable);

    Contents contents_;
    bool immutable_ = false;
    double objectBytes_ = 0;
    APMPMemoryReservation reservation_;
};
