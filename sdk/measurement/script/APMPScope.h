#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "sdk/measurement/script/APMPMarkable.h"
#include "sdk/measurement/script/APMPPropertyMap.h"
#include "sdk/measurement/script/APMPRuntimeValue.h"

class APMPObjectManager;
class APMPRuntimeBudget;
class APMPScope;

// The data of a scope, in a base of its own with no virtual functions: the walks up the chain
// (every variable read) read only plain data, so in the sanitizer build they check no object's
// dynamic type along the way.
struct APMPScopeData {
    // Accounts against the parent's budget, if any: the owner's `objectBytes` and the names.
    APMPScopeData(APMPScopeRef parent, double objectBytes);

    APMPScopeRef parentScope_;
    // A scope mostly holds a loop's variable or a call's parameter: the first fits in the scope.
    APMPPropertyMapWithSlots<1> contents_;
    std::shared_ptr<APMPObjectManager> objectManager_;
};

// A level of the scope chain in which programs run: its own names, a parent (none for a root
// scope) and, normally on the root only, the object manager that every descendant finds
// through its parents.
//
// Invariants:
//  1. The parent chain is acyclic (a parent exists before its children).
//  2. A frozen scope (makeImmutable()) never changes its own names; reads still work.
//  3. Marking a scope marks its own values and its whole parent chain, so a closure made in a
//     nested block keeps every enclosing scope's values alive.
//
// Thread-safety: none; a scope belongs to the thread that runs its runtime.
class APMPScope : public APMPMarkable,
                  private APMPScopeData,
                  public std::enable_shared_from_this<APMPScope> {
  public:
    explicit APMPScope(APMPScopeRef parentScope = nullptr);
    ~APMPScope() override;

    static APMPScopeRef make(APMPScopeRef parentScope = nullptr) {
        return std::make_shared<APMPScope>(std::move(parentScope));
    }

    // A new scope whose parent is this one.
    APMPScopeRef createChildScope();
    const APMPScopeRef& parentScope() const { return parentScope_; }

    // True when this scope or an ancestor holds `name`.
    bool hasName(std::u16string_view name) const;
    // Declares `name` in this scope (overwriting a mutable declaration); dropped when this
    // scope is frozen or the name was declared immutable.
    sdk::Error addValue(APMPValueRef value, std::u16string_view name);
    // As addValue(), and the name becomes immutable.
    sdk::Error addImmutableValue(APMPValueRef value, std::u16string_view name);
    // Assigns: dropped when this scope is frozen; else the nearest scope of the chain that
    // holds `name` takes it, or this scope when none does. An immutable name keeps its value.
    sdk::Error setValue(APMPValueRef value, std::u16string_view name);
    // The number of names this scope holds itself (its parents' not counted).
    std::size_t ownNameCount() const { return contents_.count(); }
    // The value of the nearest scope holding `name`; undefined when none does.
    const APMPValueRef& valueForName(std::u16string_view name) const;
    // Freezes this scope's own names.
    void makeImmutable() { contents_.makeImmutable(); }
    // Forgets this scope's own names, releasing their values, so that it can serve as a new
    // child of its parent; false (and nothing forgotten) when it is frozen. REQUIRES: nothing
    // else holds this scope.
    bool forgetNames();

    // This scope's object manager, else the nearest ancestor's; null outside a runtime. The
    // names of a scope made inside a runtime (or given a manager while empty) are accounted
    // against its memory budget: a declaration past the cap fails with error 18. The manager
    // is held by a scope of the chain, so the pointer is valid while this scope lives.
    APMPObjectManager* objectManager() const;
    void setObjectManager(std::shared_ptr<APMPObjectManager> objectManager);
    // The memory and instruction budget of this scope's runtime; null outside a runtime. The
    // reference is valid while this scope lives (a scope made in a runtime holds it itself).
    const std::shared_ptr<APMPRuntimeBudget>& budget() const;

    bool holdsReferences() const override { return true; }
    void markReferences(APMPMarker& marker) const override;
    void releaseReferences(Released& released) override;

  private:
    // The data of the scope's parent, or null for a root.
    static const APMPScopeData* parentData(const APMPScopeData& data) {
        return data.parentScope_.get();
    }
};
