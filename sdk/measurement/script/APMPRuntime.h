#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "sdk/measurement/messages/APMPBAccessors.h"
#include "sdk/measurement/script/APMPDynamicProvider.h"
#include "sdk/measurement/script/APMPObjectManager.h"
#include "sdk/measurement/script/APMPScope.h"

// One instance of the event-editing runtime: the scope chain programs run in, the instruction
// budget, the modules `require` loads and the collector.
//
// Design notes:
//  1. The root scope holds nothing a program can name; the global scope (its child) holds
//     "require" and whatever programs declare at top level; each callback run gets a fresh
//     child of the global scope (getRunScope()).
//  2. The instruction count is a field of the runtime's budget, not a script variable, so no
//     program can reset, shadow or overwrite it. It survives between runs until
//     resetInstructionCount().
//  3. Collection happens only when collectGarbage() is called. Destroying the runtime breaks
//     the references of everything programs made, so cycles do not outlive it.
//
// Thread-safety: one thread at a time (the measurement worker queue).
class APMPRuntime {
  public:
    APMPRuntime();
    APMPRuntime(const APMPRuntime&) = delete;
    APMPRuntime& operator=(const APMPRuntime&) = delete;
    ~APMPRuntime();

    // The version sent as "runtime_version" and answered by "getVersion".
    static std::int64_t runtimeVersion() { return 0; }

    // Installs the creator of the module `name`.
    void setModuleCreator(APMPDynamicProvider::Creator creator, const std::u16string& name);

    // Converts each RuntimeEntity of `entities` in turn and evaluates it in the global scope;
    // the value of the last one (undefined for none). A conversion or evaluation error ends
    // the run with undefined. Control values are ordinary results here.
    APMPValueRef executeStatements(const APMPBRepeatedArray& entities, sdk::Error& error);

    // A new child scope of the global scope, for one callback run.
    APMPScopeRef getRunScope();
    const APMPScopeRef& initialScope() const { return initScope_; }
    const APMPScopeRef& globalScope() const { return globalScope_; }
    const std::shared_ptr<APMPObjectManager>& objectManager() const { return objectManager_; }

    // The evaluation steps paid since the last reset. `error` is kept for callers that pass
    // one; reading the count cannot fail.
    std::int32_t getInstructionCount(sdk::Error& error) const;
    void resetInstructionCount();

    // Adds a further collection root (anything that answers markReferences()).
    void addGarbageCollectionRoot(const std::shared_ptr<APMPMarkable>& root);
    void collectGarbage();

  private:
    APMPScopeRef initScope_;
    APMPScopeRef globalScope_;
    std::shared_ptr<APMPDynamicProvider> apiProvider_;
    std::shared_ptr<APMPObjectManager> objectManager_;
};
