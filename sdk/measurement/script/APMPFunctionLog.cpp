#include "sdk/measurement/script/APMPFunctionLog.h"

#include <algorithm>
#include <string>
#include <vector>

#include "sdk/measurement/script/APMPEvaluator.h"
#include "sdk/measurement/script/APMPIntegers.h"
#include "sdk/measurement/script/APMPScope.h"
#include "sdk/measurement/script/APMPUnicode.h"

namespace {

// Arguments past the message that become contexts.
constexpr std::size_t kMaxContexts = 3;

}  // namespace

APMPFunctionLog::APMPFunctionLog(std::shared_ptr<const APMPixieLogger> logger, bool silent,
                                 bool monitored)
    : APMPFunctionValue(u"log", {}, {}, APMPScope::make()),
      logger_(std::move(logger)),
      silent_(silent),
      monitored_(monitored) {}

APMPValueRef APMPFunctionLog::invokeWithArguments(APMPArguments arguments,
                                                  const APMPScopeRef& scope, sdk::Error& error) {
    if (!APMPCheckArgumentCountAtLeast(arguments, 1, error)) {
        return APMPUndefined();
    }
    const APMPValueList values = APMPEvaluateArguments(arguments, scope, error);
    if (!error.ok()) {
        return APMPUndefined();
    }
    std::int64_t level = kDefaultLevel;
    std::size_t messageIndex = 0;
    if (values.size() > 1) {
        level = APMPToInt64Saturating(values[0]->doubleValueOrError(error));
        messageIndex = 1;
    }
    const std::u16string message = values[messageIndex]->stringValueOrError(error);
    std::vector<std::string> contexts;
    const std::size_t end = std::min(values.size(), messageIndex + 1 + kMaxContexts);
    for (std::size_t i = messageIndex + 1; error.ok() && i < end; ++i) {
        contexts.push_back(APMPToUTF8(values[i]->stringValueOrError(error)));
    }
    if (!error.ok()) {
        return APMPUndefined();
    }
    if (logger_) {
        logger_->logWithLevel(level, APMPToUTF8(message), contexts, silent_, monitored_);
    }
    return APMPUndefined();
}
