#include "sdk/measurement/script/APMPEventLogger.h"

#include "sdk/measurement/script/APMPError.h"
#include "sdk/measurement/script/APMPEvaluator.h"
#include "sdk/measurement/script/APMPIntegers.h"
#include "sdk/measurement/script/APMPRuntimeEntityConverter.h"
#include "sdk/measurement/script/APMPScope.h"
#include "sdk/measurement/script/APMPUnicode.h"

APMPEventLogger::APMPEventLogger(std::shared_ptr<APMPEventContext> eventContext)
    : APMPFunctionValue(u"internal.eventLogger", {}, {}, APMPScope::make()),
      eventContext_(std::move(eventContext)) {}

APMPValueRef APMPEventLogger::invokeWithArguments(APMPArguments arguments,
                                                  const APMPScopeRef& scope, sdk::Error& error) {
    const std::optional<APMPValueList> evaluated = APMPEvaluateExactly(arguments, 3, scope, error);
    if (!evaluated) {
        return APMPUndefined();
    }
    const APMPValueList& values = *evaluated;
    const std::u16string name = values[0]->stringValueOrError(error);
    if (!error.ok()) {
        return APMPUndefined();
    }
    const double number = values[1]->doubleValueOrError(error);
    if (!error.ok()) {
        return APMPUndefined();
    }
    if (values[2]->kind() != APMPValueKind::kMap) {
        error = APMPError(APMPErrorCode::kArgumentKind);
        return APMPUndefined();
    }
    const auto parameters = APMPRuntimeEntityConverter::dictionaryFromMapValue(
        static_cast<const APMPMapValue&>(*values[2]), error);
    if (!parameters) {
        return APMPUndefined();
    }
    const auto timestamp = static_cast<double>(APMPToInt64Saturating(number));
    eventContext_->logEventWithName(APMPToUTF8(name), timestamp, *parameters);
    return APMPUndefined();
}
