#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "sdk/measurement/script/APMPFunctionValue.h"

// The block behind a key-value module: the text stored under a key, or none.
using APMPGetValueBlock = std::function<std::optional<std::string>(std::string_view key)>;

// A module of host values by key ("internal.remoteConfig"): a function value whose property
// "getValue" is an APMPKeyValueStoreGetValue over the block. Calling the module itself gives
// undefined.
class APMPKeyValueStore : public APMPFunctionValue {
  public:
    APMPKeyValueStore(std::u16string functionName, APMPGetValueBlock getValueBlock);
};

// "getValue" of a key-value module.
class APMPKeyValueStoreGetValue : public APMPFunctionValue {
  public:
    explicit APMPKeyValueStoreGetValue(APMPGetValueBlock getValueBlock);

    // Exactly two arguments, (key, default) (else error 9), evaluated in order. The block's
    // text for the key's string as a string; without one the default value, unchanged.
    APMPValueRef invokeWithArguments(APMPArguments arguments, const APMPScopeRef& scope,
                                     sdk::Error& error) override;

  private:
    APMPGetValueBlock getValueBlock_;
};
