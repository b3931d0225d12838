#include "sdk/measurement/script/APMPPropertyMap.h"

#include "sdk/measurement/script/APMPUnicode.h"

#include <algorithm>
#include <bit>
#include <cassert>
#include <cstdint>
#include <cstring>
#include <functional>
#include <utility>

bool APMPNameOrder::operator()(std::u16string_view a, std::u16string_view b) const {
    return APMPCompareUnits(a, b) < 0;
}

APMPPropertyMap::APMPPropertyMap(std::shared_ptr<APMPRuntimeBudget> budget, double objectBytes)
    : objectBytes_(budget ? objectBytes : 0), reservation_(std::move(budget)) {
    reservation_.account(objectBytes_);
}

void APMPPropertyMap::attachBudget(std::shared_ptr<APMPRuntimeBudget> budget, double objectBytes) {
    assert(entries_.empty() && !reservation_.budget());
    objectBytes_ = budget ? objectBytes : 0;
    reservation_.attach(std::move(budget));
    reservation_.account(objectBytes_);
}

double APMPPropertyMap::entryBytes(std::u16string_view name) {
    return APMPTextBufferBytes(name.size());
}

double APMPPropertyMap::tableBytes(std::size_t capacity, std::size_t slots) {
    double bytes = 0;
    if (capacity > 0) {
        bytes += APMPAllocationBytes(static_cast<double>(capacity) * sizeof(Entry));
    }
    if (slots > 0) {
        bytes += APMPAllocationBytes(static_cast<double>(slots) * sizeof(std::uint32_t));
    }
    return bytes;
}

std::size_t APMPPropertyMap::slotsFor(std::size_t count) {
    if (count <= kLinearCount) {
        return 0;
    }
    return std::bit_ceil(2 * count);
}

std::size_t APMPPropertyMap::hashName(std::u16string_view name) {
    return std::hash<std::u16string_view>()(name);
}

std::size_t APMPPropertyMap::find(std::u16string_view name, std::size_t hash) const {
    if (slots_.empty()) {
        for (std::size_t i = 0; i < entries_.size(); ++i) {
            if (entries_[i].hash == hash && APMPSameUnits(entries_[i].name, name)) {
                return i;
            }
        }
        return kAbsent;
    }
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t slot = hash & mask;; slot = (slot + 1) & mask) {
        const std::uint32_t held = slots_[slot];
        if (held == 0) {
            return kAbsent;
        }
        const Entry& entry = entries_[held - 1];
        if (entry.hash == hash && APMPSameUnits(entry.name, name)) {
            return held - 1;
        }
    }
}

std::size_t APMPPropertyMap::slotOf(std::size_t position) const {
    const std::size_t mask = slots_.size() - 1;
    std::size_t slot = entries_[position].hash & mask;
    while (slots_[slot] != position + 1) {
        slot = (slot + 1) & mask;
    }
    return slot;
}

void APMPPropertyMap::insertSlot(std::size_t position) {
    const std::size_t mask = slots_.size() - 1;
    std::size_t slot = entries_[position].hash & mask;
    while (slots_[slot] != 0) {
        slot = (slot + 1) & mask;
    }
    slots_[slot] = static_cast<std::uint32_t>(position + 1);
}

void APMPPropertyMap::rebuildIndex(std::size_t slots) {
    slots_.assign(slots, 0);
    if (slots == 0) {
        return;
    }
    for (std::size_t i = 0; i < entries_.size(); ++i) {
        insertSlot(i);
    }
}

void APMPPropertyMap::eraseSlot(std::size_t slot) {
    // Backward-shift deletion: a later slot of the same run moves into the gap unless its home
    // lies cyclically after the gap and at or before the slot itself.
    const std::size_t mask = slots_.size() - 1;
    std::size_t gap = slot;
    for (std::size_t next = (gap + 1) & mask; slots_[next] != 0; next = (next + 1) & mask) {
        const std::size_t home = entries_[slots_[next] - 1].hash & mask;
        const bool staysPut =
            gap <= next ? (gap < home && home <= next) : (gap < home || home <= next);
        if (!staysPut) {
            slots_[gap] = slots_[next];
            gap = next;
        }
    }
    slots_[gap] = 0;
}

const APMPValueRef& APMPPropertyMap::valueForName(std::u16string_view name) const {
    const APMPValueRef* value = findValue(name);
    return value != nullptr ? *value : APMPUndefined();
}

const APMPValueRef* APMPPropertyMap::findValue(std::u16string_view name, std::size_t hash) const {
    const std::size_t position = find(name, hash);
    return position != kAbsent ? &entries_[position].value : nullptr;
}

std::vector<std::u16string> APMPPropertyMap::allNames() const {
    std::vector<std::u16string> names;
    names.reserve(entries_.size());
    for (const auto& entry : entries_) {
        names.push_back(entry.name);
    }
    std::sort(names.begin(), names.end(), APMPNameOrder());
    return names;
}

sdk::Error APMPPropertyMap::grow(std::size_t capacity, std::size_t slots, double extraBytes) {
    const double added =
        tableBytes(capacity, slots) - tableBytes(entries_.capacity(), slots_.size()) + extraBytes;
    sdk::Error error = reservation_.resize(static_cast<double>(reservation_.bytes()) + added);
    if (!error.ok()) {
        return error;
    }
    entries_.reserve(capacity);
    if (slots != slots_.size()) {
        rebuildIndex(slots);
    }
    return {};
}

sdk::Error APMPPropertyMap::reserve(std::size_t count) {
    if (count <= entries_.capacity()) {
        return {};
    }
    return grow(count, std::max(slots_.size(), slotsFor(count)), 0);
}

sdk::Error APMPPropertyMap::store(APMPValueRef value, std::u16string_view name, bool immutable) {
    if (immutable_) {
        return {};
    }
    const std::size_t hash = hashName(name);
    const std::size_t position = find(name, hash);
    if (position != kAbsent) {
        Entry& entry = entries_[position];
        if (!entry.immutable) {
            entry.value = std::move(value);
            entry.immutable = immutable;
        }
        return {};
    }
    // The name's text, and the buffer and index as they must grow, are checked before any of
    // them is allocated.
    const std::size_t count = entries_.size() + 1;
    const std::size_t capacity = count <= entries_.capacity()
                                     ? entries_.capacity()
                                     : std::max(count, 2 * entries_.capacity());
    const std::size_t slots = std::max(slots_.size(), slotsFor(count));
    sdk::Error error = grow(capacity, slots, entryBytes(name));
    if (!error.ok()) {
        return error;
    }
    entries_.push_back(Entry{hash, std::u16string(name), std::move(value), immutable});
    // The index (rebuilt above if it grew) takes the new entry's position.
    if (!slots_.empty()) {
        insertSlot(entries_.size() - 1);
    }
    return {};
}

sdk::Error APMPPropertyMap::setValue(APMPValueRef value, std::u16string_view name) {
    return store(std::move(value), name, false);
}

sdk::Error APMPPropertyMap::setImmutableValue(APMPValueRef value, std::u16string_view name) {
    return store(std::move(value), name, true);
}

void APMPPropertyMap::removeValueForName(std::u16string_view name) {
    if (immutable_) {
        return;
    }
    const std::size_t position = find(name, hashName(name));
    if (position == kAbsent || entries_[position].immutable) {
        return;
    }
    const double bytes = entryBytes(entries_[position].name);
    // The last entry moves into the freed position; the index follows it.
    const std::size_t last = entries_.size() - 1;
    if (!slots_.empty()) {
        eraseSlot(slotOf(position));
        if (position != last) {
            slots_[slotOf(last)] = static_cast<std::uint32_t>(position + 1);
        }
    }
    // The removed value is released after the entry is gone: its destruction cannot see the
    // map half changed.
    APMPValueRef removed = std::move(entries_[position].value);
    if (position != last) {
        entries_[position] = std::move(entries_[last]);
    }
    entries_.pop_back();
    (void)reservation_.resize(static_cast<double>(reservation_.bytes()) - bytes);
}

void APMPPropertyMap::markValues(APMPMarker& marker) const {
    for (const auto& entry : entries_) {
        marker.mark(entry.value.get());
    }
}

void APMPPropertyMap::releaseValues(APMPMarkable::Released& released) {
    for (auto& entry : entries_) {
        APMPRelease(released, std::move(entry.value));
    }
    std::vector<Entry>().swap(entries_);
    std::vector<std::uint32_t>().swap(slots_);
    (void)reservation_.resize(objectBytes_);
}
