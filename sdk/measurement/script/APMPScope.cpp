#include "sdk/measurement/script/APMPScope.h"

#include "sdk/measurement/script/APMPObjectManager.h"

APMPScopeData::APMPScopeData(APMPScopeRef parent, double objectBytes)
    : parentScope_(std::move(parent)),
      contents_(parentScope_ ? parentScope_->budget() : nullptr, objectBytes) {}

APMPScope::APMPScope(APMPScopeRef parentScope)
    : APMPScopeData(std::move(parentScope), APMPSharedObjectBytes(sizeof(APMPScope))) {}

APMPScope::~APMPScope() {
    Released released;
    APMPScope::releaseReferences(released);
    APMPReleaseAll(released);
}

APMPScopeRef APMPScope::createChildScope() {
    return make(shared_from_this());
}

bool APMPScope::hasName(std::u16string_view name) const {
    const std::size_t hash = APMPPropertyMap::hashName(name);
    for (const APMPScopeData* scope = this; scope != nullptr; scope = parentData(*scope)) {
        if (scope->contents_.findValue(name, hash) != nullptr) {
            return true;
        }
    }
    return false;
}

sdk::Error APMPScope::addValue(APMPValueRef value, std::u16string_view name) {
    return contents_.setValue(std::move(value), name);
}

sdk::Error APMPScope::addImmutableValue(APMPValueRef value, std::u16string_view name) {
    return contents_.setImmutableValue(std::move(value), name);
}

sdk::Error APMPScope::setValue(APMPValueRef value, std::u16string_view name) {
    if (contents_.isImmutable()) {
        return {};
    }
    // The walk is a loop: a deep chain of block scopes costs no stack.
    APMPScopeData* target = this;
    const std::size_t hash = APMPPropertyMap::hashName(name);
    if (contents_.findValue(name, hash) == nullptr) {
        for (APMPScopeData* scope = parentScope_.get(); scope != nullptr;
             scope = scope->parentScope_.get()) {
            if (scope->contents_.findValue(name, hash) != nullptr) {
                target = scope;
                break;
            }
        }
    }
    if (target != this && target->contents_.isImmutable()) {
        return {};
    }
    return target->contents_.setValue(std::move(value), name);
}

bool APMPScope::forgetNames() {
    if (contents_.isImmutable()) {
        return false;
    }
    Released released;
    contents_.releaseValues(released);
    APMPReleaseAll(released);
    return true;
}

const APMPValueRef& APMPScope::valueForName(std::u16string_view name) const {
    const std::size_t hash = APMPPropertyMap::hashName(name);
    for (const APMPScopeData* scope = this; scope != nullptr; scope = parentData(*scope)) {
        if (const APMPValueRef* value = scope->contents_.findValue(name, hash)) {
            return *value;
        }
    }
    return APMPUndefined();
}

APMPObjectManager* APMPScope::objectManager() const {
    for (const APMPScopeData* scope = this; scope != nullptr; scope = parentData(*scope)) {
        if (scope->objectManager_) {
            return scope->objectManager_.get();
        }
    }
    return nullptr;
}

void APMPScope::setObjectManager(std::shared_ptr<APMPObjectManager> objectManager) {
    if (objectManager && contents_.count() == 0) {
        contents_.attachBudget(objectManager->budget(), APMPSharedObjectBytes(sizeof(APMPScope)));
    }
    objectManager_ = std::move(objectManager);
}

const std::shared_ptr<APMPRuntimeBudget>& APMPScope::budget() const {
    // A scope made inside a runtime accounts its names against the runtime's budget already.
    if (const auto& own = contents_.sharedBudget()) {
        return own;
    }
    static const std::shared_ptr<APMPRuntimeBudget> none;
    const APMPObjectManager* manager = objectManager();
    return manager != nullptr ? manager->budget() : none;
}

void APMPScope::markReferences(APMPMarker& marker) const {
    contents_.markValues(marker);
    marker.mark(parentScope_.get());
}

void APMPScope::releaseReferences(Released& released) {
    contents_.releaseValues(released);
    if (parentScope_) {
        APMPRelease(released, std::move(parentScope_));
    }
}
