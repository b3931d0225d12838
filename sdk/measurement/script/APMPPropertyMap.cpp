#include "sdk/measurement/script/APMPPropertyMap.h"

#include <algorithm>
#include <bit>
#include <cassert>
#include <cstdint>
#include <functional>
#include <memory>
#include <utility>

#include "sdk/measurement/script/APMPUnicode.h"

bool APMPNameOrder::operator()(std::u16string_view a, std::u16string_view b) const {
    return APMPCompareUnits(a, b) < 0;
}

APMPPropertyMap::APMPPropertyMap(Entry* slots, std::size_t slotCount,
                                 std::shared_ptr<APMPRuntimeBudget> budget, double objectBytes)
    : slots_(slots),
      entries_(slots),
      slotCount_(static_cast<std::uint32_t>(slotCount)),
      capacity_(static_cast<std::uint32_t>(slotCount)),
      objectBytes_(budget ? objectBytes : 0),
      reservation_(std::move(budget)) {
    reservation_.account(objectBytes_);
}

APMPPropertyMap::~APMPPropertyMap() {
    std::destroy_n(entries_, count_);
    if (entries_ != slots_) {
        std::allocator<Entry>().deallocate(entries_, capacity_);
    }
}

void APMPPropertyMap::attachBudget(std::shared_ptr<APMPRuntimeBudget> budget, double objectBytes) {
    assert(count_ == 0 && !reservation_.budget());
    objectBytes_ = budget ? objectBytes : 0;
    reservation_.attach(std::move(budget));
    reservation_.account(objectBytes_);
}

const APMPPropertyMap& APMPPropertyMap::none() {
    static const APMPPropertyMap& empty = *new APMPPropertyMap();  // lives for the process
    return empty;
}

APMPPropertyMap& APMPPropertyMap::madeIn(std::unique_ptr<APMPPropertyMap>& slot,
                                         const std::shared_ptr<APMPRuntimeBudget>& budget) {
    if (!slot) {
        slot =
            std::make_unique<APMPPropertyMap>(budget, APMPAllocationBytes(sizeof(APMPPropertyMap)));
    }
    return *slot;
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
    if (indexSize_ == 0) {
        for (std::size_t i = 0; i < count_; ++i) {
            if (entries_[i].hash == hash && APMPSameUnits(entries_[i].name, name)) {
                return i;
            }
        }
        return kAbsent;
    }
    const std::size_t mask = indexSize_ - 1;
    for (std::size_t slot = hash & mask;; slot = (slot + 1) & mask) {
        const std::uint32_t held = index_[slot];
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
    const std::size_t mask = indexSize_ - 1;
    std::size_t slot = entries_[position].hash & mask;
    while (index_[slot] != position + 1) {
        slot = (slot + 1) & mask;
    }
    return slot;
}

void APMPPropertyMap::insertSlot(std::size_t position) {
    const std::size_t mask = indexSize_ - 1;
    std::size_t slot = entries_[position].hash & mask;
    while (index_[slot] != 0) {
        slot = (slot + 1) & mask;
    }
    index_[slot] = static_cast<std::uint32_t>(position + 1);
}

void APMPPropertyMap::rebuildIndex(std::size_t slots) {
    index_ = slots > 0 ? std::make_unique<std::uint32_t[]>(slots) : nullptr;
    indexSize_ = static_cast<std::uint32_t>(slots);
    if (slots == 0) {
        return;
    }
    for (std::size_t i = 0; i < count_; ++i) {
        insertSlot(i);
    }
}

void APMPPropertyMap::eraseSlot(std::size_t slot) {
    // Backward-shift deletion: a later slot of the same run moves into the gap unless its home
    // lies cyclically after the gap and at or before the slot itself.
    const std::size_t mask = indexSize_ - 1;
    std::size_t gap = slot;
    for (std::size_t next = (gap + 1) & mask; index_[next] != 0; next = (next + 1) & mask) {
        const std::size_t home = entries_[index_[next] - 1].hash & mask;
        const bool staysPut =
            gap <= next ? (gap < home && home <= next) : (gap < home || home <= next);
        if (!staysPut) {
            index_[gap] = index_[next];
            gap = next;
        }
    }
    index_[gap] = 0;
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
    names.reserve(count_);
    for (std::size_t i = 0; i < count_; ++i) {
        names.push_back(entries_[i].name);
    }
    std::sort(names.begin(), names.end(), APMPNameOrder());
    return names;
}

void APMPPropertyMap::reallocate(std::size_t capacity) {
    assert(capacity >= count_ && capacity <= UINT32_MAX);
    Entry* buffer = std::allocator<Entry>().allocate(capacity);
    for (std::size_t i = 0; i < count_; ++i) {
        std::construct_at(buffer + i, std::move(entries_[i]));
    }
    std::destroy_n(entries_, count_);
    if (entries_ != slots_) {
        std::allocator<Entry>().deallocate(entries_, capacity_);
    }
    entries_ = buffer;
    capacity_ = static_cast<std::uint32_t>(capacity);
}

sdk::Error APMPPropertyMap::grow(std::size_t capacity, std::size_t slots, double extraBytes) {
    const std::size_t buffer = capacity > capacity_ ? capacity : bufferCapacity();
    const double added =
        tableBytes(buffer, slots) - tableBytes(bufferCapacity(), indexSize_) + extraBytes;
    sdk::Error error = reservation_.resize(static_cast<double>(reservation_.bytes()) + added);
    if (!error.ok()) {
        return error;
    }
    if (capacity > capacity_) {
        reallocate(capacity);
    }
    if (slots != indexSize_) {
        rebuildIndex(slots);
    }
    return {};
}

sdk::Error APMPPropertyMap::reserve(std::size_t count) {
    if (count <= capacity_) {
        return {};
    }
    return grow(count, std::max<std::size_t>(indexSize_, slotsFor(count)), 0);
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
    const std::size_t count = count_ + 1;
    const std::size_t capacity =
        count <= capacity_ ? capacity_ : std::max<std::size_t>(count, 2 * capacity_);
    const std::size_t slots = std::max<std::size_t>(indexSize_, slotsFor(count));
    sdk::Error error = grow(capacity, slots, entryBytes(name));
    if (!error.ok()) {
        return error;
    }
    std::construct_at(entries_ + count_,
                      Entry{hash, std::u16string(name), std::move(value), immutable});
    ++count_;
    // The index (rebuilt above if it grew) takes the new entry's position.
    if (indexSize_ != 0) {
        insertSlot(count_ - 1);
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
    const std::size_t last = count_ - 1;
    if (indexSize_ != 0) {
        eraseSlot(slotOf(position));
        if (position != last) {
            index_[slotOf(last)] = static_cast<std::uint32_t>(position + 1);
        }
    }
    // The removed value is released after the entry is gone: its destruction cannot see the
    // map half changed.
    APMPValueRef removed = std::move(entries_[position].value);
    if (position != last) {
        entries_[position] = std::move(entries_[last]);
    }
    std::destroy_at(entries_ + last);
    --count_;
    (void)reservation_.resize(static_cast<double>(reservation_.bytes()) - bytes);
}

void APMPPropertyMap::markValues(APMPMarker& marker) const {
    for (std::size_t i = 0; i < count_; ++i) {
        marker.mark(entries_[i].value.get());
    }
}

void APMPPropertyMap::releaseValues(APMPMarkable::Released& released) {
    for (std::size_t i = 0; i < count_; ++i) {
        APMPRelease(released, std::move(entries_[i].value));
    }
    std::destroy_n(entries_, count_);
    count_ = 0;
    if (entries_ != slots_) {
        std::allocator<Entry>().deallocate(entries_, capacity_);
        entries_ = slots_;
        capacity_ = slotCount_;
    }
    index_.reset();
    indexSize_ = 0;
    (void)reservation_.resize(objectBytes_);
}
