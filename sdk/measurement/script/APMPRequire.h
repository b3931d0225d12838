#pragma once

#include <map>
#include <memory>
#include <string>

#include "sdk/measurement/script/APMPDynamicProvider.h"
#include "sdk/measurement/script/APMPFunctionValue.h"

// The built-in `require`: loads a module by name from the runtime's provider, at most once per
// name, and hands out the cached value afterwards (a name without a creator caches undefined).
// Marking marks the cache, so whatever a program stores on a cached module stays alive.
class APMPRequire : public APMPFunctionValue {
  public:
    explicit APMPRequire(std::shared_ptr<const APMPDynamicProvider> provider);
    ~APMPRequire() override;

    // Exactly one argument (else error 9), evaluated; its string names the module. A creator
    // that returns nothing gives error 15; on any error the result is undefined and nothing is
    // cached. A module made here is tracked by the calling scope's object manager.
    APMPValueRef invokeWithArguments(APMPArguments arguments, const APMPScopeRef& scope,
                                     sdk::Error& error) override;

    void markReferences(APMPMarker& marker) const override;
    void releaseReferences(Released& released) override;

  private:
    std::shared_ptr<const APMPDynamicProvider> provider_;
    std::map<std::u16string, APMPValueRef, std::less<>> modules_;
};
