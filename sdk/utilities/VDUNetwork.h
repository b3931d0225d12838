#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/dispatch/DispatchQueue.h"
#include "platform/urlsession/URLSessionTypes.h"
#include "sdk/utilities/Error.h"
#include "sdk/utilities/VDUMutableDictionary.h"
#include "sdk/utilities/VDUNetworkError.h"
#include "sdk/utilities/VDUNetworkLoggerDelegate.h"
#include "sdk/utilities/VDUNetworkURLSession.h"
#include "sdk/utilities/VDUReachabilityChecker.h"

// The SDK's HTTP client: each call sends one request (a POST whose body it gzips, or a GET),
// returns a session ID at once and later calls the caller's handler once on the caller's queue.
// It also watches reachability of one host and reports whether the network is connected.
//
// Design notes:
// 1. requests_ holds each running fetcher (session ID -> fetcher); the handler made by a call
//    holds the client weakly, so a client released before a response never calls the handler.
// 2. Diagnostics go to the logger delegate when one is set, else to stderr and the shared
//    logger ("[VDUNetwork]", "I-NET%06ld"); debug lines only in debug mode.
// 3. The reachability checker runs from create until destruction; readings reach the client
//    on the main queue.
//
// Thread-safety: requests may be made from any thread; the flags are atomics; the delegates
// and the timeout are set from one thread before requests are made.
class VDUNetwork : public VDUReachabilityDelegate,
                   public VDUNetworkLoggerDelegate,
                   public std::enable_shared_from_this<VDUNetwork> {
  public:
    using Response = std::optional<platform::HTTPURLResponse>;
    using Data = std::optional<sdk::Bytes>;
    // (response, data, error): a response and no error when the server answered, else no
    // response and an error.
    using CompletionHandler = std::function<void(const Response&, const Data&, const sdk::Error&)>;
    using Headers = std::map<std::string, std::string>;

    // The default request timeout, used while the timeout interval is 0.
    static constexpr double kDefaultTimeoutInterval = 60.0;
    // The reachability host of create().
    static constexpr std::string_view kDefaultHost = "app-measurement.vovidu.invalid";

    // A client for the default host; null when its reachability checker cannot start.
    static std::shared_ptr<VDUNetwork> create();
    // A client watching `host`; null when the checker cannot be made or started.
    static std::shared_ptr<VDUNetwork> createWithReachabilityHost(std::string_view host);

    // Clears the checker's delegate, then stops it.
    ~VDUNetwork() override;

    // postURL with no headers.
    std::optional<std::string> postURL(const std::string& url, const sdk::Bytes& payload,
                                       platform::QueueRef queue, bool usingBackgroundSession,
                                       CompletionHandler handler);
    // Sends `payload` gzipped as a POST with `headers` plus "Content-Length", "Content-Type"
    // "application/x-www-form-urlencoded" and "Content-Encoding" "gzip". Returns the session ID,
    // or no value after handing error 1 (empty URL), 3 (gzip failed) or 4 (no request or
    // session) to `handler` on `queue` (the main queue when null). An exception `handler`
    // throws is logged (I-NET900004) and stops there.
    std::optional<std::string> postURL(const std::string& url, const Headers& headers,
                                       const sdk::Bytes& payload, platform::QueueRef queue,
                                       bool usingBackgroundSession, CompletionHandler handler);
    // Sends a GET with `headers`; otherwise as postURL.
    std::optional<std::string> getURL(const std::string& url, const Headers& headers,
                                      platform::QueueRef queue, bool usingBackgroundSession,
                                      CompletionHandler handler);

    // Hands a background session's events to the fetchers (see VDUNetworkURLSession).
    static void handleEventsForBackgroundURLSessionID(
        const std::string& sessionID, VDUNetworkURLSession::SystemCompletionHandler handler);

    // Stores `delegate` weakly; null is refused with an error log (I-NET900002) and the
    // previous delegate stays.
    void setLoggerDelegate(const std::shared_ptr<VDUNetworkLoggerDelegate>& delegate);
    std::weak_ptr<VDUNetworkLoggerDelegate> loggerDelegate() const { return loggerDelegate_; }
    // Any thread: the measurement engine sets it from its worker queue while readings arrive on
    // the main queue.
    void setReachabilityDelegate(std::weak_ptr<VDUNetworkReachabilityDelegate> delegate) {
        std::lock_guard lock(reachabilityDelegateMutex_);
        reachabilityDelegate_ = std::move(delegate);
    }
    std::weak_ptr<VDUNetworkReachabilityDelegate> reachabilityDelegate() const {
        std::lock_guard lock(reachabilityDelegateMutex_);
        return reachabilityDelegate_;
    }
    bool isNetworkConnected() const { return networkConnected_.load(); }
    // True while a request's handler has not run yet (GETs count too).
    bool hasUploadInProgress() const { return requests_.count() > 0; }
    bool isDebugModeEnabled() const { return isDebugModeEnabled_.load(); }
    void setIsDebugModeEnabled(bool enabled) { isDebugModeEnabled_.store(enabled); }
    double timeoutInterval() const { return timeoutInterval_; }
    // 0 means the default of 60 s.
    void setTimeoutInterval(double seconds) { timeoutInterval_ = seconds; }
    VDUReachabilityChecker& reachabilityChecker() { return *reachability_; }

    // Makes error `code`, logs it (warning, I-NET900002) and, with a handler, calls it with
    // (no response, no data, the error) asynchronously on `queue` (the main queue when null).
    void handleErrorWithCode(std::int64_t code, platform::QueueRef queue,
                             const CompletionHandler& handler);

    // VDUReachabilityDelegate: connected for status 2 or 3, then tells the reachability
    // delegate.
    void reachability(VDUReachabilityChecker& checker, std::int32_t status) override;

    // VDUNetworkLoggerDelegate: forwarded to the logger delegate when there is one.
    void VDUNetwork_logWithLevel(std::int64_t level, std::int64_t messageCode,
                                 const std::optional<std::string>& message,
                                 const std::vector<sdk::Value>& contexts) override;
    void VDUNetwork_logWithLevel(std::int64_t level, std::int64_t messageCode,
                                 const std::optional<std::string>& message,
                                 const sdk::Value& context) override;
    void VDUNetwork_logWithLevel(std::int64_t level, std::int64_t messageCode,
                                 const std::optional<std::string>& message) override;

    // Public only for std::make_shared; use the factories.
    struct Passkey {
        explicit Passkey() = default;
    };
    explicit VDUNetwork(Passkey) {}

  private:
    std::optional<platform::URLRequest> makeRequest(const std::string& url, std::string method,
                                                    const Headers& headers) const;
    std::optional<std::string> startFetcher(const platform::URLRequest& request,
                                            platform::QueueRef queue, bool background,
                                            CompletionHandler handler);
    VDUNetworkURLSession::CompletionHandler wrapperHandler(platform::QueueRef queue,
                                                           CompletionHandler handler);

    std::unique_ptr<VDUReachabilityChecker> reachability_;
    VDUMutableDictionary<std::string, std::shared_ptr<VDUNetworkURLSession>> requests_;
    std::atomic<bool> networkConnected_{false};
    std::atomic<bool> isDebugModeEnabled_{false};
    mutable std::mutex reachabilityDelegateMutex_;
    std::weak_ptr<VDUNetworkReachabilityDelegate>
        reachabilityDelegate_;  // guarded by reachabilityDelegateMutex_
    std::weak_ptr<VDUNetworkLoggerDelegate> loggerDelegate_;
    double timeoutInterval_ = kDefaultTimeoutInterval;
};
