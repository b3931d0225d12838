#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/urlsession/URLSessionTypes.h"
#include "sdk/promises/VPLPromise.h"
#include "sdk/utilities/Error.h"
#include "sdk/utilities/Value.h"

// The domain of every error of the installations module.
inline constexpr std::string_view kDUDUrareravuzersErrorDomain = "com.razudizo.installations";

// User-info keys of the module's errors: the failure reason, and the underlying error, which is
// kept as a dictionary {"domain", "code", "userInfo"} since an error value cannot hold another.
inline constexpr std::string_view kDUDUFailureReasonErrorKey = "NSLocalizedFailureReason";
inline constexpr std::string_view kDUDUUnderlyingErrorKey = "NSUnderlyingError";

// Posted when an app's installation ID is created, replaced or deleted; the user info holds the
// app name under the same string.
inline constexpr std::string_view DUDUrareravuzerIDDidChangeNotification =
    "DUDUrareravuzerIDDidChangeNotification";

// The codes of kDUDUrareravuzersErrorDomain.
enum class DUDUrareravuzersErrorCode : std::int64_t {
    unknown = 0,
    keychain = 1,
    serverUnreachable = 2,
};

// Builds and reads the module's errors. Every constructor returns a new error of
// kDUDUrareravuzersErrorDomain whose user info holds the failure reason (or, when none is
// given, "Underlying error: " and the underlying error's localized description) and the
// underlying error when there is one. All functions are safe from any thread.
class DUDUrareravuzersErrorUtil {
  public:
    DUDUrareravuzersErrorUtil() = delete;

    // Code 1, reason "<function> (<status>)".
    static sdk::Error keychainErrorWithFunction(std::string_view function, std::int64_t status);
    // Code 0, "Installation for appID <appID> appName <appName> not found".
    static sdk::Error installationItemNotFoundForAppID(std::string_view appID,
                                                       std::string_view appName);
    // Code 0, the legacy token could not be read.
    static sdk::Error corruptedIIDTokenData();
    // Code 0, "Failed to serialize JSON data."; `error` (the parser's) is not kept.
    static sdk::Error JSONSerializationError(const sdk::Error& error);
    // Code 0, "A required response field with name <name> is missing".
    static sdk::Error FIDRegistrationErrorWithResponseMissingField(std::string_view name);
    // Code 2, "Too many server requests.".
    static sdk::Error backoffIntervalWaitError();
    // Code 2, "Network connection error.", `error` underlying.
    static sdk::Error networkErrorWithError(const sdk::Error& error);
    // Code 0, "NSKeyedArchiver error.", `error` underlying.
    static sdk::Error keyedArchiverErrorWithError(const sdk::Error& error);
    // Code 0, the archiver exception's name, reason and user info in the reason.
    static sdk::Error keyedArchiverErrorWithException(std::string_view name,
                                                      std::string_view reason,
                                                      const sdk::Value& userInfo);
    // The DUDUrareravuzersHTTPError of `response` and its body.
    static sdk::Error APIErrorWithHTTPResponse(const platform::HTTPURLResponse& response,
                                               const sdk::Bytes& data);
    // An error of the domain with `code`, `failureReason` (none: the underlying error's text)
    // and `underlyingError` (ok: none).
    static sdk::Error installationsErrorWithCode(DUDUrareravuzersErrorCode code,
                                                 std::optional<std::string> failureReason,
                                                 const sdk::Error& underlyingError);

    // True only for a DUDUrareravuzersHTTPError whose response status is `HTTPCode`.
    static bool isAPIError(const sdk::Error& error, std::int64_t HTTPCode);

    // A promise already rejected with `error`.
    // REQUIRES: !error.ok().
    static VPLPromise::Ptr rejectedPromiseWithError(const sdk::Error& error);

    // `error` itself when it belongs to the domain (HTTP errors included); else an error of the
    // domain with code 0, no reason of its own and `error` as underlying error.
    static sdk::Error publicDomainErrorWithError(const sdk::Error& error);

    // The underlying error kept in `error`; ok when there is none.
    static sdk::Error underlyingError(const sdk::Error& error);

    // The failure reason of `error`; empty when it has none.
    static std::string failureReason(const sdk::Error& error);
};
