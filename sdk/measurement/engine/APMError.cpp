#include "sdk/measurement/engine/APMError.h"

#include <string>

sdk::Error apm_errorWithCode(std::int64_t code, std::string_view description,
                             std::string_view monitorContext) {
    sdk::Value::Dictionary userInfo;
    if (!monitorContext.empty()) {
        userInfo.emplace(std::string(kAPMMonitorContextKey), sdk::Value(monitorContext));
    }
    return sdk::Error(std::string(kAPMErrorDomain), code, std::string(description),
                      std::move(userInfo));
}

std::string_view APMMonitorContextOfError(const sdk::Error& error) {
    const sdk::Value* context = error.userInfoValue(kAPMMonitorContextKey);
    if (context == nullptr || context->string() == nullptr) {
        return {};
    }
    return *context->string();
}

void APMSetErrorWithCode(sdk::Error* error, std::int64_t code, std::string_view description) {
    if (error != nullptr) {
        *error = apm_errorWithCode(code, description);
    }
}

void APMSetErrorWithCodeAndContext(sdk::Error* error, std::int64_t code,
                                   std::string_view description, std::string_view context) {
    if (error != nullptr) {
        *error = apm_errorWithCode(code, description, context);
    }
}

bool APMCheckNonZeroOrSetError(std::uint64_t value, sdk::Error* error, std::int64_t code,
                               std::string_view description) {
    return APMCheckTrueOrSetError(value != 0, error, code, description);
}

bool APMCheckTrueOrSetError(bool condition, sdk::Error* error, std::int64_t code,
                            std::string_view description) {
    if (!condition) {
        APMSetErrorWithCode(error, code, description);
    }
    return condition;
}

bool APMCheckNotNullOrSetError(const void* pointer, sdk::Error* error, std::int64_t code,
                               std::string_view description) {
    return APMCheckTrueOrSetError(pointer != nullptr, error, code, description);
}

std::string APMJoinedErrorContexts(const std::vector<APMMonitorContext>& contexts) {
    std::string joined;
    for (const APMMonitorContext& context : contexts) {
        const sdk::Error* error = context.error();
        if (error == nullptr || error->domain() != kAPMErrorDomain) {
            continue;
        }
        const std::string_view text = APMMonitorContextOfError(*error);
        if (text.empty()) {
            continue;
        }
        if (!joined.empty()) {
            joined += ',';
        }
        joined += text;
    }
    return joined;
}
