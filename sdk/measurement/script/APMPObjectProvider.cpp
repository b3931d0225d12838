#include "sdk/measurement/script/APMPObjectProvider.h"

#include "sdk/measurement/script/APMPRuntimeEntityConverter.h"
#include "sdk/measurement/script/APMPScope.h"

APMPObjectProvider::APMPObjectProvider(std::u16string functionName, ObjectBlock objectProviderBlock)
    : APMPFunctionValue(std::move(functionName), {}, {}, APMPScope::make()),
      objectProviderBlock_(std::move(objectProviderBlock)) {}

APMPValueRef APMPObjectProvider::invokeWithArguments(APMPArguments arguments,
                                                     const APMPScopeRef& scope, sdk::Error& error) {
    (void)arguments;
    const sdk::Value object = objectProviderBlock_ ? objectProviderBlock_() : sdk::Value();
    return APMPRuntimeEntityConverter::runtimeValueFromObject(object, *scope, error);
}
