#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/urlsession/URLRequest.h"
#include "platform/urlsession/URLTaskSession.h"
#include "sdk/core/RZDHeartbeatLoggerProtocol.h"
#include "sdk/installations/DUDUrareravuzersItem.h"
#include "sdk/installations/DUDUrareravuzersURLSessionResponse.h"
#include "sdk/promises/VPLPromise.h"
#include "sdk/utilities/Value.h"

class DUDUrareravuzersSessionDelegate;

// The installations service's address in a real run: a placeholder under the reserved
// ".invalid" domain, so nothing reaches a third party until a real host is configured.
inline constexpr std::string_view kDUDUrareravuzersServiceBaseURL =
    "https://razudizoinstallations.invalid";

// The client of the installations service: registers an installation, generates an auth token
// for a registered one, and deletes one. Every request carries the API key, the main bundle's
// identifier and, when heartbeats are stored, the "X-razudizo-client" header (which drains
// them); bodies and answers are JSON.
//
// Design notes:
// 1. Requests are built on the dispatch global queue (the heartbeat header waits for its
//    store there), sent through one ephemeral URL session (no cookies, no cache) whose events
//    arrive on the service's own serial queue, and parsed on the promise library's default
//    queue.
// 2. A request is sent at most twice: only an HTTP 500 answer is tried again, 1.0 s later.
//    Each attempt ends within kRequestTimeout, however slowly the answer arrives; a redirect
//    is never followed (the 3xx is a server error).
// 5. The heartbeats a request of register, refresh or delete carries are put back into their
//    store when the request fails, so that the next request carries them again.
// 3. A status outside 200-299 rejects with a DUDUrareravuzersHTTPError; a transport failure
//    rejects with the session's error unchanged; a malformed answer with the parse error.
//    Answers are capped at kMaxResponseBytes before they are parsed.
// 4. No mutable state after construction. The session is invalidated when the service goes
//    away; requests still running finish and settle their promises.
//
// Every operation may be called from any thread and returns a VPLPromise.
class DUDUrareravuzersAPIService {
  public:
    // The largest answer body accepted.
    static constexpr std::size_t kMaxResponseBytes = 256u * 1024;
    // The longest one attempt may take, from sending to the end of the answer.
    static constexpr std::chrono::milliseconds kRequestTimeout{30'000};

    // `heartbeatLogger` may be null (no heartbeat header).
    DUDUrareravuzersAPIService(std::string APIKey, std::string projectID,
                               std::shared_ptr<RZDHeartbeatLoggerProtocol> heartbeatLogger);
    ~DUDUrareravuzersAPIService();

    DUDUrareravuzersAPIService(const DUDUrareravuzersAPIService&) = delete;
    DUDUrareravuzersAPIService& operator=(const DUDUrareravuzersAPIService&) = delete;

    // Fulfils with the registered item (std::shared_ptr<DUDUrareravuzersItem>). An invalid
    // item rejects with its validation error and nothing is sent.
    VPLPromise::Ptr registerInstallation(const DUDUrareravuzersItem& item);

    // Fulfils with a copy of `item` (std::shared_ptr<DUDUrareravuzersItem>) whose auth token is
    // the new one; status, FID and refresh token are kept.
    VPLPromise::Ptr refreshAuthTokenForInstallation(const DUDUrareravuzersItem& item);

    // Fulfils with `item` itself (std::shared_ptr<DUDUrareravuzersItem>) on a 2xx answer.
    VPLPromise::Ptr deleteInstallation(const DUDUrareravuzersItem& item);

    // ---- Building blocks ----

    // Each fulfils with the request (std::shared_ptr<const platform::URLRequest>).
    VPLPromise::Ptr registerRequestWithInstallation(const DUDUrareravuzersItem& item) const;
    VPLPromise::Ptr authTokenRequestWithInstallation(const DUDUrareravuzersItem& item) const;
    VPLPromise::Ptr deleteInstallationRequestWithInstallation(
        const DUDUrareravuzersItem& item) const;

    // A request with the common headers in their fixed order, then `additionalHeaders` (each
    // replacing a header of its name). Call on a background queue: it waits for the heartbeat
    // store.
    platform::URLRequest requestWithURL(std::string URL, std::string HTTPMethod,
                                        const sdk::Value::Dictionary& bodyDict,
                                        const std::optional<std::string>& refreshToken,
                                        const platform::HTTPHeaders& additionalHeaders = {}) const;

    // Sends `request` with the retry of design note 2; fulfils with the validated response
    // (std::shared_ptr<const DUDUrareravuzersURLSessionResponse>).
    VPLPromise::Ptr sendURLRequest(std::shared_ptr<const platform::URLRequest> request) const;

    // One attempt: sends `request` and validates the status.
    VPLPromise::Ptr URLRequestPromise(std::shared_ptr<const platform::URLRequest> request) const;

    // `response` when its status is 200-299; else the HTTP error for it.
    static VPLValue validateHTTPResponseStatusCode(
        std::shared_ptr<const DUDUrareravuzersURLSessionResponse> response);

    // "i:" followed by the core version.
    static std::string SDKVersion();

    // The address requests go to: kDUDUrareravuzersServiceBaseURL unless a test replaced it.
    static std::string baseURL();

    // Test hook: sends later requests to `baseURL` ("https://..." or "http://127.0.0.1:<port>",
    // no trailing slash); no value restores the constant. Returns false (and changes nothing)
    // for any other address.
    static bool TEST_setBaseURL(std::optional<std::string> baseURL);

    // Test hook: requests built later end within `timeout` (when shorter than
    // kRequestTimeout); no value restores kRequestTimeout.
    static void TEST_setRequestTimeout(std::optional<std::chrono::milliseconds> timeout);

    const std::string& APIKey() const;
    const std::string& projectID() const;

    // What queued work needs of the service; shared with that work, so a request still
    // running when the service goes away finishes safely.
    struct Context;

  private:
    // Each fulfils with a Context::Prepared: the request and the heartbeats it carries.
    VPLPromise::Ptr prepareRegister(const DUDUrareravuzersItem& item) const;
    VPLPromise::Ptr prepareAuthToken(const DUDUrareravuzersItem& item) const;
    VPLPromise::Ptr prepareDelete(const DUDUrareravuzersItem& item) const;

    const std::shared_ptr<const Context> context_;
};
