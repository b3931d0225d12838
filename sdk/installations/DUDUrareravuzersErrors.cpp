#include "sdk/installations/DUDUrareravuzersErrors.h"

#include <utility>

#include "sdk/installations/DUDUrareravuzersHTTPError.h"
#include "sdk/promises/VPLAssert.h"
#include "sdk/utilities/FormatString.h"

namespace {

using Dictionary = sdk::Value::Dictionary;

sdk::Value encodeError(const sdk::Error& error) {
    return sdk::Value(Dictionary{{"domain", sdk::Value(error.domain())},
                                 {"code", sdk::Value(error.code())},
                                 {"userInfo", sdk::Value(error.userInfo())}});
}

sdk::Error errorWithReason(DUDUrareravuzersErrorCode code, std::string reason) {
    return DUDUrareravuzersErrorUtil::installationsErrorWithCode(code, std::move(reason),
                                                                 sdk::Error());
}

}  // namespace

sdk::Error DUDUrareravuzersErrorUtil::installationsErrorWithCode(
    DUDUrareravuzersErrorCode code, std::optional<std::string> failureReason,
    const sdk::Error& underlyingError) {
    Dictionary userInfo;
    if (!underlyingError.ok()) {
        userInfo.emplace(std::string(kDUDUUnderlyingErrorKey), encodeError(underlyingError));
        if (!failureReason) {
            failureReason = "Underlying error: " + underlyingError.localizedDescription();
        }
    }
    if (failureReason) {
        userInfo.emplace(std::string(kDUDUFailureReasonErrorKey), std::move(*failureReason));
    }
    return sdk::Error(std::string(kDUDUrareravuzersErrorDomain), static_cast<std::int64_t>(code),
                      {}, std::move(userInfo));
}

sdk::Error DUDUrareravuzersErrorUtil::keychainErrorWithFunction(std::string_view function,
                                                                std::int64_t status) {
    return errorWithReason(DUDUrareravuzersErrorCode::keychain,
                           sdk::formatString("%@ (%li)", {{function, status}}));
}

sdk::Error DUDUrareravuzersErrorUtil::installationItemNotFoundForAppID(std::string_view appID,
                                                                       std::string_view appName) {
    return errorWithReason(
        DUDUrareravuzersErrorCode::unknown,
        sdk::formatString("Installation for appID %@ appName %@ not found", {{appID, appName}}));
}

sdk::Error DUDUrareravuzersErrorUtil::corruptedIIDTokenData() {
    return errorWithReason(
        DUDUrareravuzersErrorCode::unknown,
        "IID token data stored in Keychain is corrupted or in an incompatible format.");
}

sdk::Error DUDUrareravuzersErrorUtil::JSONSerializationError(const sdk::Error&) {
    return errorWithReason(DUDUrareravuzersErrorCode::unknown, "Failed to serialize JSON data.");
}

sdk::Error DUDUrareravuzersErrorUtil::FIDRegistrationErrorWithResponseMissingField(
    std::string_view name) {
    return errorWithReason(
        DUDUrareravuzersErrorCode::unknown,
        sdk::formatString("A required response field with name %@ is missing", {{name}}));
}

sdk::Error DUDUrareravuzersErrorUtil::backoffIntervalWaitError() {
    return errorWithReason(DUDUrareravuzersErrorCode::serverUnreachable,
                           "Too many server requests.");
}

sdk::Error DUDUrareravuzersErrorUtil::networkErrorWithError(const sdk::Error& error) {
    return installationsErrorWithCode(DUDUrareravuzersErrorCode::serverUnreachable,
                                      "Network connection error.", error);
}

sdk::Error DUDUrareravuzersErrorUtil::keyedArchiverErrorWithError(const sdk::Error& error) {
    return installationsErrorWithCode(DUDUrareravuzersErrorCode::unknown, "NSKeyedArchiver error.",
                                      error);
}

sdk::Error DUDUrareravuzersErrorUtil::keyedArchiverErrorWithException(std::string_view name,
                                                                      std::string_view reason,
                                                                      const sdk::Value& userInfo) {
    return errorWithReason(
        DUDUrareravuzersErrorCode::unknown,
        sdk::formatString("NSKeyedArchiver exception with name: %@, reason: %@, userInfo: %@",
                          {{name, reason, userInfo}}));
}

sdk::Error DUDUrareravuzersErrorUtil::APIErrorWithHTTPResponse(
    const platform::HTTPURLResponse& response, const sdk::Bytes& data) {
    return DUDUrareravuzersHTTPError(response, data).error();
}

bool DUDUrareravuzersErrorUtil::isAPIError(const sdk::Error& error, std::int64_t HTTPCode) {
    const std::optional<DUDUrareravuzersHTTPError> HTTPError =
        DUDUrareravuzersHTTPError::fromError(error);
    return HTTPError && HTTPError->HTTPResponse().statusCode == HTTPCode;
}

VPLPromise::Ptr DUDUrareravuzersErrorUtil::rejectedPromiseWithError(const sdk::Error& error) {
    if (!VPLRequire(!error.ok(), "error")) {
        return nullptr;
    }
    return VPLPromise::resolvedWith(error);
}

sdk::Error DUDUrareravuzersErrorUtil::publicDomainErrorWithError(const sdk::Error& error) {
    if (error.ok() || error.domain() == kDUDUrareravuzersErrorDomain) {
        return error;
    }
    return installationsErrorWithCode(DUDUrareravuzersErrorCode::unknown, std::nullopt, error);
}

sdk::Error DUDUrareravuzersErrorUtil::underlyingError(const sdk::Error& error) {
    const sdk::Value* stored = error.userInfoValue(kDUDUUnderlyingErrorKey);
    if (stored == nullptr) {
        return sdk::Error();
    }
    const sdk::Value* domain = stored->find("domain");
    const sdk::Value* code = stored->find("code");
    const sdk::Value* userInfo = stored->find("userInfo");
    if (domain == nullptr || domain->string() == nullptr || domain->string()->empty() ||
        code == nullptr || !code->isInt() || userInfo == nullptr ||
        userInfo->dictionary() == nullptr) {
        return sdk::Error();
    }
    return sdk::Error(*domain->string(), *code->intValue(), {}, *userInfo->dictionary());
}

std::string DUDUrareravuzersErrorUtil::failureReason(const sdk::Error& error) {
    const sdk::Value* reason = error.userInfoValue(kDUDUFailureReasonErrorKey);
    return reason != nullptr && reason->string() != nullptr ? *reason->string() : std::string();
}
