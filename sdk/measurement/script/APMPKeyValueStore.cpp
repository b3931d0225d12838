#include "sdk/measurement/script/APMPKeyValueStore.h"

#include <cassert>

#include "sdk/measurement/script/APMPEvaluator.h"
#include "sdk/measurement/script/APMPIntegers.h"
#include "sdk/measurement/script/APMPScope.h"
#include "sdk/measurement/script/APMPStringValue.h"
#include "sdk/measurement/script/APMPUnicode.h"

APMPKeyValueStore::APMPKeyValueStore(std::u16string functionName, APMPGetValueBlock getValueBlock)
    : APMPFunctionValue(std::move(functionName), {}, {}, APMPScope::make()) {
    // A host-made function has no budget, so this store cannot fail.
    const sdk::Error error = propertyMap().setValue(
        std::make_shared<APMPKeyValueStoreGetValue>(std::move(getValueBlock)), u"getValue");
    assert(error.ok());
    (void)error;
}

APMPKeyValueStoreGetValue::APMPKeyValueStoreGetValue(APMPGetValueBlock getValueBlock)
    : APMPFunctionValue(u"getValue", {}, {}, APMPScope::make()),
      getValueBlock_(std::move(getValueBlock)) {}

APMPValueRef APMPKeyValueStoreGetValue::invokeWithArguments(APMPArguments arguments,
                                                            const APMPScopeRef& scope,
                                                            sdk::Error& error) {
    const std::optional<APMPValueList> evaluated = APMPEvaluateExactly(arguments, 2, scope, error);
    if (!evaluated) {
        return APMPUndefined();
    }
    const APMPValueList& values = *evaluated;
    const std::u16string key = values[0]->stringValueOrError(error);
    if (!error.ok()) {
        return APMPUndefined();
    }
    const std::optional<std::string> text =
        getValueBlock_ ? getValueBlock_(APMPToUTF8(key)) : std::nullopt;
    if (!text) {
        return values[1];
    }
    APMPValueRef value = APMPStringValue::makeInScope(APMPFromUTF8(*text), scope.get(), error);
    return error.ok() ? value : APMPUndefined();
}
