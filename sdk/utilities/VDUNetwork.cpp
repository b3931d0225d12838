#include "sdk/utilities/VDUNetwork.h"

#include <strings.h>

#include <chrono>
#include <cmath>
#include <iostream>

#include "sdk/utilities/FormatString.h"
#include "sdk/utilities/VDUGzip.h"
#include "sdk/utilities/VDULogger.h"

namespace {

constexpr std::string_view kSubsystem = "com.vovidu.utilities.logger";
constexpr std::string_view kService = "[VDUNetwork]";
// Requests never wait longer than this, whatever the timeout interval says.
constexpr double kMaxTimeoutSeconds = 7 * 24 * 3600.0;

std::string messageCode(std::int64_t code) {
    return sdk::formatString("I-NET%06ld", {{sdk::FormatArg(code)}});
}

const char* levelName(std::int64_t level) {
    switch (level) {
        case VDUNetworkLogLevelError:
            return "ERROR";
        case VDUNetworkLogLevelWarning:
            return "WARNING";
        case VDUNetworkLogLevelInfo:
            return "INFO";
        default:
            return "DEBUG";
    }
}

// Calls `handler`; an exception it throws (a failed allocation while reading a reply, say) is
// logged (error, I-NET900004) and goes no further, so it cannot end the queue's thread.
void callHandler(const VDUNetwork::CompletionHandler& handler, const VDUNetwork::Response& response,
                 const VDUNetwork::Data& data, const sdk::Error& error) {
    if (!handler) {
        return;
    }
    try {
        handler(response, data, error);
    } catch (const std::exception& e) {
        VDULoggerLogError(kSubsystem, kService, false, messageCode(900004),
                          std::string("A request's completion handler failed: ") + e.what());
    }
}

// Sets `name` to `value`, replacing a field of the same name in any letter case.
void setHeader(platform::HTTPHeaders& headers, const std::string& name, std::string value) {
    std::erase_if(headers, [&](const auto& header) {
        return strcasecmp(header.first.c_str(), name.c_str()) == 0;
    });
    headers.emplace_back(name, std::move(value));
}

}  // namespace

std::shared_ptr<VDUNetwork> VDUNetwork::create() {
    return createWithReachabilityHost(kDefaultHost);
}

std::shared_ptr<VDUNetwork> VDUNetwork::createWithReachabilityHost(std::string_view host) {
    auto network = std::make_shared<VDUNetwork>(Passkey());
    network->reachability_ = VDUReachabilityChecker::create(network->weak_from_this(), host);
    if (!network->reachability_ || !network->reachability_->start()) {
        return nullptr;
    }
    return network;
}

VDUNetwork::~VDUNetwork() {
    if (reachability_) {
        reachability_->setReachabilityDelegate({});
        reachability_->stop();
    }
}

std::optional<platform::URLRequest> VDUNetwork::makeRequest(const std::string& url,
                                                            std::string method,
                                                            const Headers& headers) const {
    double seconds = timeoutInterval_;
    if (!(seconds > 0)) {
        seconds = kDefaultTimeoutInterval;  // 0 (and anything not positive) means the default
    }
    seconds = std::min(seconds, kMaxTimeoutSeconds);
    platform::URLRequest request;
    request.url = url;
    request.method = std::move(method);
    request.timeout =
        std::chrono::milliseconds(static_cast<std::int64_t>(std::llround(seconds * 1000.0)));
    for (const auto& [name, value] : headers) {
        setHeader(request.headers, name, value);
    }
    return request;
}

std::optional<std::string> VDUNetwork::postURL(const std::string& url, const sdk::Bytes& payload,
                                               platform::QueueRef queue,
                                               bool usingBackgroundSession,
                                               CompletionHandler handler) {
    return postURL(url, Headers(), payload, std::move(queue), usingBackgroundSession,
                   std::move(handler));
}

std::optional<std::string> VDUNetwork::postURL(const std::string& url, const Headers& headers,
                                               const sdk::Bytes& payload, platform::QueueRef queue,
                                               bool usingBackgroundSession,
                                               CompletionHandler handler) {
    if (url.empty()) {
        handleErrorWithCode(VDUNetworkErrorCodeInvalidURL, queue, handler);
        return std::nullopt;
    }
    std::optional<platform::URLRequest> request = makeRequest(url, "POST", headers);
    if (!request) {
        handleErrorWithCode(VDUNetworkErrorCodeRequestFailed, queue, handler);
        return std::nullopt;
    }
    sdk::Error gzipError;
    std::optional<sdk::Bytes> compressed = vdu_dataByGzippingData(payload, &gzipError);
    if (!compressed) {
        if (!gzipError.ok() || !payload.empty()) {
            handleErrorWithCode(VDUNetworkErrorCodeGzipFailed, queue, handler);
            return std::nullopt;
        }
        compressed.emplace();  // an empty payload goes as an empty body
    }
    setHeader(request->headers, "Content-Length", std::to_string(compressed->size()));
    request->body = std::string(compressed->begin(), compressed->end());
    setHeader(request->headers, "Content-Type", "application/x-www-form-urlencoded");
    setHeader(request->headers, "Content-Encoding", "gzip");

    return startFetcher(*request, std::move(queue), usingBackgroundSession, std::move(handler));
}

std::optional<std::string> VDUNetwork::getURL(const std::string& url, const Headers& headers,
                                              platform::QueueRef queue, bool usingBackgroundSession,
                                              CompletionHandler handler) {
    if (url.empty()) {
        handleErrorWithCode(VDUNetworkErrorCodeInvalidURL, queue, handler);
        return std::nullopt;
    }
    std::optional<platform::URLRequest> request = makeRequest(url, "GET", headers);
    if (!request) {
        handleErrorWithCode(VDUNetworkErrorCodeRequestFailed, queue, handler);
        return std::nullopt;
    }
    return startFetcher(*request, std::move(queue), usingBackgroundSession, std::move(handler));
}

std::optional<std::string> VDUNetwork::startFetcher(const platform::URLRequest& request,
                                                    platform::QueueRef queue, bool background,
                                                    CompletionHandler handler) {
    std::shared_ptr<VDUNetworkURLSession> fetcher = VDUNetworkURLSession::create(weak_from_this());
    fetcher->setBackgroundNetworkEnabled(background);
    // Registered before it starts, so that a fast completion finds the entry it removes.
    requests_.setObject(fetcher, fetcher->sessionID());
    VDUNetworkURLSession::CompletionHandler wrapped =
        wrapperHandler(std::move(queue), std::move(handler));
    const bool post = request.method == "POST";
    std::optional<std::string> sessionID =
        post ? fetcher->sessionIDFromAsyncPOSTRequest(request, std::move(wrapped))
             : fetcher->sessionIDFromAsyncGETRequest(request, std::move(wrapped));
    if (!sessionID) {
        requests_.removeObjectForKey(fetcher->sessionID());
        return std::nullopt;  // the fetcher has told the handler
    }
    VDUNetwork_logWithLevel(VDUNetworkLogLevelDebug, post ? 900000 : 900001,
                            post ? "Uploading data. Host" : "Downloading data. Host",
                            sdk::Value(request.url));
    return sessionID;
}

VDUNetworkURLSession::CompletionHandler VDUNetwork::wrapperHandler(platform::QueueRef queue,
                                                                   CompletionHandler handler) {
    if (!queue) {
        queue = platform::DispatchQueue::main();
    }
    return [weak = weak_from_this(), queue = std::move(queue), handler = std::move(handler)](
               const Response& response, const Data& data, const std::string& sessionID,
               const sdk::Error& error) {
        std::shared_ptr<VDUNetwork> self = weak.lock();
        if (!self) {
            return;  // the client is gone: nobody is waiting
        }
        queue->async([self, handler, response, data, sessionID, error] {
            if (!sessionID.empty()) {
                self->requests_.removeObjectForKey(sessionID);
            }
            callHandler(handler, response, data, error);
        });
    };
}

void VDUNetwork::handleEventsForBackgroundURLSessionID(
    const std::string& sessionID, VDUNetworkURLSession::SystemCompletionHandler handler) {
    VDUNetworkURLSession::handleEventsForBackgroundURLSessionID(sessionID, std::move(handler));
}

void VDUNetwork::setLoggerDelegate(const std::shared_ptr<VDUNetworkLoggerDelegate>& delegate) {
    if (!delegate) {
        VDULoggerLogError(kSubsystem, kService, false, messageCode(900002),
                          "Cannot set the network logger delegate: delegate does not conform to "
                          "the network logger protocol.");
        return;
    }
    loggerDelegate_ = delegate;
}

void VDUNetwork::handleErrorWithCode(std::int64_t code, platform::QueueRef queue,
                                     const CompletionHandler& handler) {
    const sdk::Error error = VDUNetworkError(code);
    VDUNetwork_logWithLevel(
        VDUNetworkLogLevelWarning, 900002, "Failed to create network request. Code, error",
        std::vector<sdk::Value>{sdk::Value(code), VDUNetworkErrorContext(error)});
    if (handler) {
        (queue ? queue : platform::DispatchQueue::main())->async([handler, error] {
            callHandler(handler, std::nullopt, std::nullopt, error);
        });
    }
}

void VDUNetwork::reachability(VDUReachabilityChecker&, std::int32_t status) {
    networkConnected_.store(status == VDUReachabilityStatusConnected ||
                            status == VDUReachabilityStatusCellular);
    if (std::shared_ptr<VDUNetworkReachabilityDelegate> delegate = reachabilityDelegate().lock()) {
        delegate->reachabilityDidChange();
    }
}

void VDUNetwork::VDUNetwork_logWithLevel(std::int64_t level, std::int64_t code,
                                         const std::optional<std::string>& message,
                                         const std::vector<sdk::Value>& contexts) {
    if (std::shared_ptr<VDUNetworkLoggerDelegate> delegate = loggerDelegate_.lock()) {
        delegate->VDUNetwork_logWithLevel(level, code, message, contexts);
        return;
    }
    const bool shown = level == VDUNetworkLogLevelError || level == VDUNetworkLogLevelWarning ||
                       level == VDUNetworkLogLevelInfo;
    if (!isDebugModeEnabled() && !shown) {
        return;
    }
    std::string text = !message           ? "(Message was nil)"
                       : message->empty() ? "(Message was empty)"
                                          : *message;
    std::string line = "<Vovidu/Utilities/Network/" + std::string(levelName(level)) + "> " + text;
    if (!contexts.empty()) {
        line += ": ";
        for (std::size_t i = 0; i < contexts.size(); ++i) {
            line += (i == 0 ? "" : ", ");
            line += contexts[i].isNull()     ? std::string("(nil)")
                    : contexts[i].isString() ? *contexts[i].string()
                                             : contexts[i].description();
        }
    }
    std::cerr << line << std::endl;
    VDULoggerLogMessage(level, kSubsystem, kService, false, messageCode(code), line, nullptr);
}

void VDUNetwork::VDUNetwork_logWithLevel(std::int64_t level, std::int64_t code,
                                         const std::optional<std::string>& message,
                                         const sdk::Value& context) {
    if (std::shared_ptr<VDUNetworkLoggerDelegate> delegate = loggerDelegate_.lock()) {
        delegate->VDUNetwork_logWithLevel(level, code, message, context);
        return;
    }
    std::vector<sdk::Value> contexts;
    if (!context.isNull()) {
        contexts.push_back(context);
    }
    VDUNetwork_logWithLevel(level, code, message, contexts);
}

void VDUNetwork::VDUNetwork_logWithLevel(std::int64_t level, std::int64_t code,
                                         const std::optional<std::string>& message) {
    if (std::shared_ptr<VDUNetworkLoggerDelegate> delegate = loggerDelegate_.lock()) {
        delegate->VDUNetwork_logWithLevel(level, code, message);
        return;
    }
    VDUNetwork_logWithLevel(level, code, message, std::vector<sdk::Value>{});
}
