#pragma once

#include <functional>
#include <map>
#include <string>

#include "sdk/measurement/script/APMPRuntimeValue.h"

// The modules a program can `require`: a creator per module name. A creator makes a new value
// on every call; returning null means it has nothing to give.
class APMPDynamicProvider {
  public:
    using Creator = std::function<APMPValueRef()>;

    // Stores `creator` under `name`, replacing an earlier one.
    void setModuleCreator(Creator creator, const std::u16string& name);

    // No creator: undefined without an error. A creator that returns null: error 15 and
    // undefined. Otherwise the creator's new value.
    APMPValueRef moduleForName(const std::u16string& name, sdk::Error& error) const;

  private:
    std::map<std::u16string, Creator, std::less<>> creators_;
};
