#include "sdk/measurement/script/APMPPropertyMap.h"

#include <algorithm>
#include <bit>
#include <cassert>
#include <cstdint>
#include <cstring>
#include <functional>

bool APMPNameOrder::operator()(std::u16string_view a, std::u16string_view b) const {
    const std::size_t common = std::min(a.size(), b.size());
    std::size_t i = 0;
    for (; i + 4 <= common; i += 4) {
        std::uint64_t x = 0;
        std::uint64_t y = 0;
        std::memcpy(&x, a.data() + i, sizeof x);
        std::memcpy(&y, b.data() + i, sizeof y);
        if (x != y) {
            // The first differing unit is the lowest-addressed one.
            const std::uint64_t diff = x ^ y;
            const int bit = std::endian::native == std::endian::little ? std::countr_zero(diff)
                                                                       : std::countl_zero(diff);
            const std::size_t unit = i + static_cast<std::size_t>(bit / 16);
            return a[unit] < b[unit];
        }
    }
    for (; i < common; ++i) {
        if (a[i] != b[i]) {
            return a[i] < b[i];
        }
    }
    return a.size() < b.size();
}

bool APMPPropertyMap::KeyOrder::lessWithEqualHash(std::u16string_view a, std::u16string_view b) {
    if (a.size() != b.size()) {
        return a.size() < b.size();
    }
    return !a.empty() && std::memcmp(a.data(), b.data(), a.size() * sizeof(char16_t)) < 0;
}

APMPPropertyMap::APMPPropertyMap(std::shared_ptr<APMPRuntimeBudget> budget, double objectBytes)
    : objectBytes_(budget ? objectBytes : 0), reservation_(std::move(budget)) {
    reservation_.account(objectBytes_);
}

void APMPPropertyMap::attachBudget(std::shared_ptr<APMPRuntimeBudget> budget, double objectBytes) {
    assert(contents_.empty() && !reservation_.budget());
    objectBytes_ = budget ? objectBytes : 0;
    reservation_.attach(std::move(budget));
    reservation_.account(objectBytes_);
}

double APMPPropertyMap::entryBytes(std::u16string_view name) {
    // A node of the tree: three links and a colour, then the key (hash and name) and the entry.
    static const double kNodeBytes = APMPAllocationBytes(32 + sizeof(Key) + sizeof(Entry));
    return kNodeBytes + APMPTextBufferBytes(name.size());
}

std::size_t APMPPropertyMap::hashName(std::u16string_view name) {
    return std::hash<std::u16string_view>()(name);
}

const APMPValueRef& APMPPropertyMap::valueForName(std::u16string_view name) const {
    const APMPValueRef* value = findValue(name);
    return value != nullptr ? *value : APMPUndefined();
}

const APMPValueRef* APMPPropertyMap::findValue(std::u16string_view name, std::size_t hash) const {
    if (contents_.empty()) {
        return nullptr;
    }
    const auto it = contents_.find(KeyView{hash, name});
    return it != contents_.end() ? &it->second.value : nullptr;
}

std::vector<std::u16string> APMPPropertyMap::allNames() const {
    std::vector<std::u16string> names;
    names.reserve(contents_.size());
    for (const auto& entry : contents_) {
        names.push_back(entry.first.name);
    }
    std::sort(names.begin(), names.end(), APMPNameOrder());
    return names;
}

sdk::Error APMPPropertyMap::store(APMPValueRef value, std::u16string_view name, bool immutable) {
    if (immutable_) {
        return {};
    }
    const KeyView key{hashName(name), name};
    const auto it = contents_.lower_bound(key);
    if (it != contents_.end() && !contents_.key_comp()(key, it->first)) {
        if (!it->second.immutable) {
            it->second.value = std::move(value);
            it->second.immutable = immutable;
        }
        return {};
    }
    sdk::Error error =
        reservation_.resize(static_cast<double>(reservation_.bytes()) + entryBytes(name));
    if (!error.ok()) {
        return error;
    }
    contents_.emplace_hint(it, Key{key.hash, std::u16string(name)},
                           Entry{std::move(value), immutable});
    return {};
}

sdk::Error APMPPropertyMap::setValue(APMPValueRef value, std::u16string_view name) {
    return store(std::move(value), name, false);
}

sdk::Error APMPPropertyMap::setImmutableValue(APMPValueRef value, std::u16string_view name) {
    return store(std::move(value), name, true);
}

void APMPPropertyMap::removeValueForName(std::u16string_view name) {
    if (immutable_ || contents_.empty()) {
        return;
    }
    const auto it = contents_.find(KeyView{hashName(name), name});
    if (it == contents_.end() || it->second.immutable) {
        return;
    }
    contents_.erase(it);
    (void)reservation_.resize(static_cast<double>(reservation_.bytes()) - entryBytes(name));
}

void APMPPropertyMap::markValues(APMPMarker& marker) const {
    for (const auto& entry : contents_) {
        marker.mark(entry.second.value.get());
    }
}

void APMPPropertyMap::releaseValues(APMPMarkable::Released& released) {
    for (auto& entry : contents_) {
        APMPRelease(released, std::move(entry.second.value));
    }
    contents_.clear();
    (void)reservation_.resize(objectBytes_);
}
