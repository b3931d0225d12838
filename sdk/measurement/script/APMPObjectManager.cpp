#include "sdk/measurement/script/APMPObjectManager.h"

#include <algorithm>

#include "sdk/measurement/script/APMPArrayValue.h"
#include "sdk/measurement/script/APMPFunctionValue.h"
#include "sdk/measurement/script/APMPMapValue.h"
#include "sdk/measurement/script/APMPScope.h"

APMPObjectManager::APMPObjectManager() : budget_(std::make_shared<APMPRuntimeBudget>()) {}

void APMPObjectManager::addRoot(const std::shared_ptr<APMPMarkable>& root) {
    if (root) {
        roots_.push_back(root);
    }
}

void APMPObjectManager::addObject(const APMPValueRef& object) {
    if (!object) {
        return;
    }
    // Amortised constant: a compaction after the list doubled touches each entry once.
    static constexpr std::size_t kMinCompactedSize = 1024;
    if (objects_.size() >= 2 * std::max(compactedSize_, kMinCompactedSize)) {
        std::erase_if(objects_, [](const auto& tracked) { return tracked.expired(); });
        compactedSize_ = objects_.size();
    }
    objects_.push_back(object);
}

std::vector<std::shared_ptr<APMPMarkable>> APMPObjectManager::roots() const {
    std::vector<std::shared_ptr<APMPMarkable>> out;
    for (const auto& root : roots_) {
        if (auto live = root.lock()) {
            out.push_back(std::move(live));
        }
    }
    return out;
}

APMPValueList APMPObjectManager::trackedObjects() const {
    APMPValueList out;
    for (const auto& object : objects_) {
        if (auto live = object.lock()) {
            out.push_back(std::move(live));
        }
    }
    return out;
}

std::shared_ptr<APMPFunctionValue> APMPObjectManager::functionValue(
    std::u16string functionName, std::vector<std::u16string> parameterNames,
    APMPValueList statements, const APMPScopeRef& definingScope) {
    APMPObjectManager* manager = definingScope ? definingScope->objectManager() : nullptr;
    auto function = std::make_shared<APMPFunctionValue>(
        std::move(functionName), std::move(parameterNames), std::move(statements), definingScope,
        manager ? manager->budget() : nullptr);
    if (manager) {
        manager->addObject(function);
    }
    return function;
}

std::shared_ptr<APMPMapValue> APMPObjectManager::mapValueWithScope(const APMPScope& scope) {
    APMPObjectManager* manager = scope.objectManager();
    auto map = std::make_shared<APMPMapValue>(manager ? manager->budget() : nullptr);
    if (manager) {
        manager->addObject(map);
    }
    return map;
}

std::shared_ptr<APMPArrayValue> APMPObjectManager::arrayValueWithScope(const APMPScope& scope) {
    APMPObjectManager* manager = scope.objectManager();
    auto array = std::make_shared<APMPArrayValue>(manager ? manager->budget() : nullptr);
    if (manager) {
        manager->addObject(array);
    }
    return array;
}

std::shared_ptr<APMPArrayValue> APMPObjectManager::arrayValueWithArray(APMPValueList elements,
                                                                       const APMPScope& scope,
                                                                       sdk::Error& error) {
    APMPObjectManager* manager = scope.objectManager();
    auto array =
        APMPArrayValue::make(std::move(elements), manager ? manager->budget() : nullptr, error);
    if (array && manager) {
        manager->addObject(array);
    }
    return array;
}

std::shared_ptr<APMPArrayValue> APMPObjectManager::subarrayWithArray(const APMPArrayValue& array,
                                                                     std::size_t location,
                                                                     std::size_t length,
                                                                     const APMPScope& scope,
                                                                     sdk::Error& error) {
    auto subarray = array.subarrayWithRange(location, length, error);
    if (subarray) {
        if (APMPObjectManager* manager = scope.objectManager()) {
            manager->addObject(subarray);
        }
    }
    return subarray;
}

void APMPObjectManager::collectGarbage() {
    ++epoch_;
    APMPMarker marker(epoch_);
    const auto liveRoots = roots();
    for (const auto& root : liveRoots) {
        marker.mark(root.get());
    }
    marker.run();
    sweep(false);
    std::erase_if(roots_, [](const auto& root) { return root.expired(); });
}

void APMPObjectManager::releaseAll() {
    sweep(true);
}

void APMPObjectManager::sweep(bool everything) {
    // Keep every tracked object alive while references are dropped, so each one is emptied
    // before anything is freed; freeing then never recurses into a non-empty object.
    APMPValueList alive = trackedObjects();
    APMPMarkable::Released released;
    for (const auto& object : alive) {
        if (everything || object->markEpoch() != epoch_) {
            object->releaseReferences(released);
        }
    }
    APMPReleaseAll(released);
    APMPMarkable::Released last;
    for (auto& object : alive) {
        last.push_back(std::move(object));
    }
    alive.clear();
    APMPReleaseAll(last);
    // Compact: only the objects still alive stay tracked.
    std::erase_if(objects_, [](const auto& object) { return object.expired(); });
    compactedSize_ = objects_.size();
}
