#include "sdk/measurement/script/APMPPropertyMap.h"

#include <cassert>

APMPPropertyMap::APMPPropertyMap(std::shared_ptr<APMPRuntimeBudget> budget)
    : reservation_(std::move(budget)) {}

void APMPPropertyMap::attachBudget(std::shared_ptr<APMPRuntimeBudget> budget) {
    assert(contents_.empty());
    reservation_.attach(std::move(budget));
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
    const double entry = kEntryBytes + sizeof(char16_t) * static_cast<double>(name.size());
    sdk::Error error = reservation_.resize(static_cast<double>(reservation_.bytes()) + entry);
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
    sdk::Error error = store(std::move(value), name);
    if (error.ok()) {
        immutableNames_.insert(name);
    }
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
    const double entry = kEntryBytes + sizeof(char16_t) * static_cast<double>(name.size());
    (void)reservation_.resize(static_cast<double>(reservation_.bytes()) - entry);
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
    (void)reservation_.resize(0);
}
