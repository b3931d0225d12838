#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "sdk/measurement/script/APMPMarkable.h"
#include "sdk/measurement/script/APMPRuntimeBudget.h"
#include "sdk/measurement/script/APMPRuntimeValue.h"

// Code-unit order of names (the order of std::u16string's own comparison).
struct APMPNameOrder {
    using is_transparent = void;
    bool operator()(std::u16string_view a, std::u16string_view b) const;
};

// The hash of names for tables looked up by a view of the name, without a copy.
struct APMPNameHash {
    using is_transparent = void;
    std::size_t operator()(std::u16string_view name) const {
        return std::hash<std::u16string_view>()(name);
    }
};

// A table by name, looked up by any view of a name.
template <typename T>
using APMPNameTable = std::unordered_map<std::u16string, T, APMPNameHash, std::equal_to<>>;

// One entry of an APMPPropertyMap: a name (with its hash) and its value.
struct APMPPropertyEntry {
    std::size_t hash;
    std::u16string name;
    APMPValueRef value;
    bool immutable;
};

// A name-to-value table with read-only names and a freeze flag: the named properties of arrays,
// maps and functions, and the variables of a scope.
//
// The entries sit in one buffer (a scope's few variables in one block, not one node each); an
// APMPPropertyMapWithSlots holds its first few entries in itself and allocates no buffer until
// it outgrows them. Up to kLinearCount entries are found by comparing each one's hash; past that
// an index of buffer positions, open-addressed by hash, finds a name in about one probe however
// many there are. allNames() sorts the names into code-unit order; nothing else depends on the
// order.
//
// Writes to a frozen map or to a read-only name are dropped without an error. A map with a
// budget accounts what it allocates: the entry buffer and the index at their capacity and each
// name's text (slots inside the map are the owner's, accounted with its size). A write that
// adds an entry is checked before anything grows: past the memory cap it fails with error 18
// and stores nothing. The map also carries the fixed cost of the object that owns it
// (objectBytes), accounted for as long as it lives.
//
// Invariants:
//  1. Each name appears in at most one entry.
//  2. The index is empty while there are at most kLinearCount entries; otherwise it has a
//     power-of-two size of at least twice the entries, and holds each entry's position + 1 in
//     the probe sequence of its hash (0 marks a free slot).
//  3. The reservation is objectBytes plus the buffer, the index and the names' text, as
//     entryBytes() and tableBytes() count them.
class APMPPropertyMap {
  public:
    static constexpr std::size_t kLinearCount = 8;

    APMPPropertyMap() : APMPPropertyMap(nullptr, 0, nullptr, 0) {}
    // `objectBytes`: the owner's own allocation, accounted unchecked (the owner exists).
    explicit APMPPropertyMap(std::shared_ptr<APMPRuntimeBudget> budget, double objectBytes = 0)
        : APMPPropertyMap(nullptr, 0, std::move(budget), objectBytes) {}
    APMPPropertyMap(const APMPPropertyMap&) = delete;
    APMPPropertyMap& operator=(const APMPPropertyMap&) = delete;
    ~APMPPropertyMap();

    // What the text of an entry named `name` costs (its slot is counted with the buffer).
    static double entryBytes(std::u16string_view name);

    // An empty map without a budget, shared for the process: what an owner that has not made
    // its own map yet shows to readers.
    static const APMPPropertyMap& none();
    // The named properties of an owner that makes its map with its first property (most arrays
    // and functions never get one): `slot`'s map, made and accounted to `budget` when empty.
    static APMPPropertyMap& madeIn(std::unique_ptr<APMPPropertyMap>& slot,
                                   const std::shared_ptr<APMPRuntimeBudget>& budget);
    // `slot`'s map for reading, or none() while it is empty.
    static const APMPPropertyMap& in(const std::unique_ptr<APMPPropertyMap>& slot) {
        return slot ? *slot : none();
    }

    // The hash the map finds `name` by; a caller that looks one name up in several maps
    // (a scope chain) computes it once.
    static std::size_t hashName(std::u16string_view name);

    bool hasName(std::u16string_view name) const { return findValue(name) != nullptr; }
    // The value, or undefined when absent.
    const APMPValueRef& valueForName(std::u16string_view name) const;
    // The value, or null when absent (one lookup for "has it, and what"). The pointer is valid
    // until the map next gains or loses a name.
    const APMPValueRef* findValue(std::u16string_view name) const {
        return findValue(name, hashName(name));
    }
    // As findValue(name); REQUIRES: `hash` is hashName(name).
    const APMPValueRef* findValue(std::u16string_view name, std::size_t hash) const;
    // The names, in code-unit order.
    std::vector<std::u16string> allNames() const;
    std::size_t count() const { return count_; }

    // Makes room for `count` entries in all (accounted, checked against the cap: error 18 and
    // nothing changed past it), so that adding them grows nothing.
    sdk::Error reserve(std::size_t count);
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

    // For the collector: hands every value to `marker`; moves every value into `released`
    // (the map is left empty, its buffers freed).
    void markValues(APMPMarker& marker) const;
    void releaseValues(APMPMarkable::Released& released);

  protected:
    using Entry = APMPPropertyEntry;

    // A map whose first `slotCount` entries go into `slots`: raw storage that outlives the map.
    APMPPropertyMap(Entry* slots, std::size_t slotCount, std::shared_ptr<APMPRuntimeBudget> budget,
                    double objectBytes);

  private:
    static constexpr std::size_t kAbsent = static_cast<std::size_t>(-1);

    // What a buffer of `capacity` entries and an index of `slots` slots cost the allocator.
    static double tableBytes(std::size_t capacity, std::size_t slots);
    // The index size for `count` entries: 0 up to kLinearCount, else a power of two of at
    // least twice `count`.
    static std::size_t slotsFor(std::size_t count);

    // The position of `name`'s entry; kAbsent when absent. REQUIRES: `hash` is hashName(name).
    std::size_t find(std::u16string_view name, std::size_t hash) const;
    // The index slot holding `position`. REQUIRES: the index is in use and holds it.
    std::size_t slotOf(std::size_t position) const;
    // The capacity of the allocated buffer; 0 while the entries fit the map's own slots.
    std::size_t bufferCapacity() const { return entries_ != slots_ ? capacity_ : 0; }
    // Moves the entries into a new buffer of `capacity`. REQUIRES: capacity >= count().
    void reallocate(std::size_t capacity);
    // Grows the buffer to `capacity` and the index to `slots`, accounted first: error 18 and
    // nothing changed past the cap.
    sdk::Error grow(std::size_t capacity, std::size_t slots, double extraBytes);
    // Rebuilds the index at `slots` slots from the entries.
    void rebuildIndex(std::size_t slots);
    // Puts `position` into the probe sequence of its entry's hash.
    void insertSlot(std::size_t position);
    // Empties `slot`, moving later slots of its run back so every probe sequence stays whole.
    void eraseSlot(std::size_t slot);
    // Stores unless frozen or read-only; `immutable` makes a new or overwritten name read-only.
    sdk::Error store(APMPValueRef value, std::u16string_view name, bool immutable);

    // The map's own slots (null when it has none), and the entries: in those slots, or in a
    // buffer of capacity_ once they outgrew them.
    Entry* const slots_;
    Entry* entries_;
    // The index (invariant 2), of indexSize_ slots; null while there is none.
    std::unique_ptr<std::uint32_t[]> index_;
    const std::uint32_t slotCount_;
    std::uint32_t count_ = 0;
    std::uint32_t capacity_;
    std::uint32_t indexSize_ = 0;
    bool immutable_ = false;
    double objectBytes_ = 0;
    APMPMemoryReservation reservation_;
};

// Raw storage for `N` property entries, constructed one at a time by the map that uses it.
template <std::size_t N>
struct APMPPropertySlots {
    union {
        APMPPropertyEntry entries[N];
    };
    APMPPropertySlots() {}
    ~APMPPropertySlots() {}
};

// A property map whose first `N` entries live in the map itself: a scope's few variables or a
// small map's properties need no buffer of their own. The slots are a base made before the map
// and destroyed after it.
template <std::size_t N>
class APMPPropertyMapWithSlots : private APMPPropertySlots<N>, public APMPPropertyMap {
  public:
    APMPPropertyMapWithSlots() : APMPPropertyMap(this->entries, N, nullptr, 0) {}
    explicit APMPPropertyMapWithSlots(std::shared_ptr<APMPRuntimeBudget> budget,
                                      double objectBytes = 0)
        : APMPPropertyMap(this->entries, N, std::move(budget), objectBytes) {}
};
