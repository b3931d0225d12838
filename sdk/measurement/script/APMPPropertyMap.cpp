#include "sdk/measurement/script/APMPPropertyMap.h"

#include <cassert>

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

double APMPPropertyMap::entryBytes(const std::u16string& name) {
    // A node of the tree: three links and a colour, then the name and the value reference.
    static const double kNodeBytes =
        APMPAllocationBytes(32 + sizeof(std::u16string) + sizeof(APMPValueRef));
    return kNodeBytes + APMPTextBufferBytes(name.size());
}

const APMPValueRef& APMPPropertyMap::valueForName(const std::u16string& name) const {
    const auto it = contents_.find(name);
    return it != contents_.end() ? it->second : APMPUndefined();
}

std::vector<std::u16string> APMPPropertyMap::allNames() const {
    std::vector<std::u16string> names;
    names.reserve(contents_.size());
    for (const auto& entry : contents_) {
        names.push_back(entry.first);
    }
    return names;
}

bool APMPPropertyMap::writable(const std::u16string& name) const {
    return !immutable_ && immutableNames_.count(name) == 0;
}

sdk::Error APMPPropertyMap::store(APMPValueRef value, const std::u16string& name) {
    const auto it = contents_.find(name);
    if (it != contents_.end()) {
        it->second = std::move(value);
        return {};
    }
    sdk::Error error =
        reservation_.resize(static_cast<double>(reservation_.bytes()) + entryBytes(name));
    if (!error.ok()) {
        return error;
    }
    contents_.emplace(name, std::move(value));
    return {};
}

sdk::Error APMPPropertyMap::setValue(APMPValueRef value, const std::u16string& name) {
    if (!writable(name)) {
        return {};
    }
    return store(std::move(value), name);
}

sdk::Error APMPPropertyMap::setImmutableValue(APMPValueRef value, const std::u16string& name) {
    if (!writable(name)) {
        return {};
    }
    // The read-only name's own node in the set, reserved first.
    const double nameBytes =
        APMPAllocationBytes(32 + sizeof(std::u16string)) + APMPTextBufferBytes(name.size());
    const auto before = static_cast<double>(reservation_.bytes());
    sdk::Error error = reservation_.resize(before + nameBytes);
    if (!error.ok()) {
        return error;
    }
    error = store(std::move(value), name);
    if (!error.ok()) {
        (void)reservation_.resize(static_cast<double>(reservation_.bytes()) - nameBytes);
        return error;
    }
    immutableNames_.insert(name);
    return error;
}

void APMPPropertyMap::removeValueForName(const std::u16string& name) {
    if (!writable(name)) {
        return;
    }
    const auto it = contents_.find(name);
    if (it == contents_.end()) {
        return;
    }
    contents_.erase(it);
    (void)reservation_.resize(static_cast<double>(reservation_.bytes()) - entryBytes(name));
}

void APMPPropertyMap::markValues(APMPMarker& marker) const {
    for (const auto& entry : contents_) {
        marker.mark(entry.second.get());
    }
}

void APMPPropertyMap::releaseValues(APMPMarkable::Released& released) {
    for (auto& entry : contents_) {
        released.push_back(std::move(entry.second));
    }
    contents_.clear();
    immutableNames_.clear();
    (void)reservation_.resize(objectBytes_);
}
