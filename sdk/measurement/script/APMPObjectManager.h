#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "sdk/measurement/script/APMPMarkable.h"
#include "sdk/measurement/script/APMPRuntimeBudget.h"
#include "sdk/measurement/script/APMPRuntimeValue.h"

class APMPArrayValue;
class APMPFunctionValue;
class APMPMapValue;

// The mark-and-sweep collector of one runtime, and the owner of its budget.
//
// Design notes:
//  1. The manager never keeps a value alive: roots and tracked objects are weak references.
//     Ownership is the shared references values and scopes hold to one another.
//  2. collectGarbage() marks everything reachable from the live roots (each object once, by
//     an explicit work list), then makes every tracked object that was not marked drop its
//     references, so cycles among unreachable objects free. Nothing a root reaches is touched.
//  3. Dropped references are released through a work list too: freeing a chain of any length
//     costs constant stack.
//  4. The tracked list is compacted whenever it has doubled since it last was: a weak
//     reference keeps the freed object's block allocated (it shares one with the control
//     block), so dead entries must not pile up until the next collection.
//  5. releaseAll() treats every tracked object as unreachable; the runtime calls it when it is
//     destroyed, so nothing a program made outlives it.
//
// Thread-safety: none; the manager belongs to the thread that runs its runtime.
class APMPObjectManager {
  public:
    APMPObjectManager();
    APMPObjectManager(const APMPObjectManager&) = delete;
    APMPObjectManager& operator=(const APMPObjectManager&) = delete;

    // Adds a root (a scope, or anything that answers markReferences()); null is ignored.
    void addRoot(const std::shared_ptr<APMPMarkable>& root);
    // Tracks an array, map or function; null is ignored.
    void addObject(const APMPValueRef& object);
    // The live roots and tracked objects.
    std::vector<std::shared_ptr<APMPMarkable>> roots() const;
    APMPValueList trackedObjects() const;

    const std::shared_ptr<APMPRuntimeBudget>& budget() const { return budget_; }

    // Factories that create a value accounted against and tracked by the manager of `scope`
    // (untracked and unaccounted when `scope` has none). They fail only with error 18, when
    // the memory cap would be passed; then they return null.
    static std::shared_ptr<APMPFunctionValue> functionValue(
        std::u16string functionName, std::vector<std::u16string> parameterNames,
        APMPValueList statements, const APMPScopeRef& definingScope);
    static std::shared_ptr<APMPMapValue> mapValueWithScope(const APMPScope& scope);
    static std::shared_ptr<APMPArrayValue> arrayValueWithScope(const APMPScope& scope);
    static std::shared_ptr<APMPArrayValue> arrayValueWithArray(APMPValueList elements,
                                                               const APMPScope& scope,
                                                               sdk::Error& error);
    static std::shared_ptr<APMPArrayValue> subarrayWithArray(const APMPArrayValue& array,
                                                             std::size_t location,
                                                             std::size_t length,
                                                             const APMPScope& scope,
                                                             sdk::Error& error);

    // Marks from the roots, then breaks the references of everything unmarked.
    void collectGarbage();
    // Breaks the references of every tracked object.
    void releaseAll();

  private:
    // Tests count the tracked list's entries through it.
    friend class APMPObjectManagerTestPeer;

    void sweep(bool everything);

    std::vector<std::weak_ptr<APMPMarkable>> roots_;
    std::vector<std::weak_ptr<APMPRuntimeValue>> objects_;
    // The tracked list's size after it was last compacted.
    std::size_t compactedSize_ = 0;
    std::uint64_t epoch_ = 0;
    std::shared_ptr<APMPRuntimeBudget> budget_;
};
