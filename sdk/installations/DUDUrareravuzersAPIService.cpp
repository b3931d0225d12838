#include "sdk/installations/DUDUrareravuzersAPIService.h"

#include <strings.h>

#include <cctype>
#include <functional>
#include <mutex>
#include <utility>

#include "platform/bundle/Bundle.h"
#include "sdk/core/RZDCoreVersionString.h"
#include "sdk/core/RZDHeartbeatLogger.h"
#include "sdk/installations/DUDUrareravuzersErrors.h"
#include "sdk/installations/DUDUrareravuzersLogger.h"
#include "sdk/installations/DUDUrareravuzersSessionDelegate.h"
#include "sdk/utilities/VDUServiceOrigin.h"
#include "sdk/utilities/ValueJson.h"

namespace {

using Request = std::shared_ptr<const platform::URLRequest>;
using Response = std::shared_ptr<const DUDUrareravuzersURLSessionResponse>;
using Dictionary = sdk::Value::Dictionary;

constexpr std::string_view kSessionQueueLabel = "com.razudizo.DUDUrareravuzersAPIService";
constexpr double kRetryDelay = 1.0;
constexpr std::int64_t kRetryCount = 1;

std::mutex baseURLMutex;
std::optional<std::string> baseURLOverride;  // guarded by baseURLMutex; set by tests only
std::optional<std::chrono::milliseconds> requestTimeoutOverride;  // guarded by baseURLMutex

std::chrono::milliseconds requestTimeout() {
    std::lock_guard lock(baseURLMutex);
    return std::min(requestTimeoutOverride.value_or(DUDUrareravuzersAPIService::kRequestTimeout),
                    DUDUrareravuzersAPIService::kRequestTimeout);
}

std::string bodyText(const std::optional<std::string>& body) {
    return body.value_or("");
}

std::string headersText(const platform::HTTPHeaders& headers) {
    std::string text = "{";
    for (const auto& [name, value] : headers) {
        text += (text.size() > 1 ? ", " : "") + name + ": " + value;
    }
    return text + "}";
}

std::string requestText(const platform::URLRequest& request) {
    return request.method + " " + request.url;
}

std::string responseText(const platform::HTTPURLResponse& response) {
    return response.url + " (" + std::to_string(response.statusCode) + ")";
}

std::string utf8(const sdk::Bytes& data) {
    return std::string(data.begin(), data.end());
}

// Sets `name` to `value`, replacing a header of that name (compared without regard to case).
void setHeader(platform::HTTPHeaders& headers, const std::string& name, const std::string& value) {
    for (auto& header : headers) {
        if (strcasecmp(header.first.c_str(), name.c_str()) == 0) {
            header.second = value;
            return;
        }
    }
    headers.emplace_back(name, value);
}

bool isAllowedBaseURL(const std::string& url) {
    constexpr std::string_view kLoopback = "http://127.0.0.1:";
    if (url.starts_with("https://")) {
        return url.size() > 8 && !url.ends_with("/");
    }
    if (!url.starts_with(kLoopback) || url.size() == kLoopback.size() || url.size() > 22) {
        return false;
    }
    return url.find_first_not_of("0123456789", kLoopback.size()) == std::string::npos;
}

}  // namespace

struct DUDUrareravuzersAPIService::Context : std::enable_shared_from_this<Context> {
    std::string APIKey;
    std::string projectID;
    std::shared_ptr<RZDHeartbeatLoggerProtocol> heartbeatLogger;
    std::shared_ptr<DUDUrareravuzersSessionDelegate> delegate;
    std::shared_ptr<platform::URLTaskSession> session;

    // A request and the heartbeats its header carries (taken out of their store).
    struct Prepared {
        platform::URLRequest request;
        std::optional<RZDHeartbeatsPayload> heartbeats;
    };

    // requestWithURL; waits for the heartbeat store.
    Prepared request(std::string URL, std::string HTTPMethod, const Dictionary& bodyDict,
                     const std::optional<std::string>& refreshToken,
                     const platform::HTTPHeaders& additionalHeaders) const;
    // The project's installations: "<base>/v1/projects/<project>/installations/".
    std::string installationsURL() const;
    // Fulfils with what `build` makes, built on the global queue.
    static VPLPromise::Ptr buildOnGlobalQueue(std::function<Prepared()> build);
    VPLPromise::Ptr send(Request request) const;
    // Sends a prepared request; when it fails, its heartbeats go back into their store.
    VPLPromise::Ptr sendPrepared(const VPLValue& prepared) const;
    VPLPromise::Ptr attempt(Request request) const;
};

DUDUrareravuzersAPIService::DUDUrareravuzersAPIService(
    std::string APIKey, std::string projectID,
    std::shared_ptr<RZDHeartbeatLoggerProtocol> heartbeatLogger)
    : context_([&] {
          auto context = std::make_shared<Context>();
          context->APIKey = std::move(APIKey);
          context->projectID = std::move(projectID);
          context->heartbeatLogger = std::move(heartbeatLogger);
          context->delegate = std::make_shared<DUDUrareravuzersSessionDelegate>();
          platform::URLSessionConfiguration configuration =
              platform::URLSessionConfiguration::ephemeralConfiguration();
          configuration.timeoutIntervalForRequest = kRequestTimeout;
          configuration.timeoutIntervalForResource = kRequestTimeout;
          context->session = platform::URLTaskSession::create(
              std::move(configuration), context->delegate,
              platform::DispatchQueue::createSerial(std::string(kSessionQueueLabel)));
          return context;
      }()) {}

DUDUrareravuzersAPIService::~DUDUrareravuzersAPIService() {
    context_->session->finishTasksAndInvalidate();
}

const std::string& DUDUrareravuzersAPIService::APIKey() const {
    return context_->APIKey;
}

const std::string& DUDUrareravuzersAPIService::projectID() const {
    return context_->projectID;
}

std::string DUDUrareravuzersAPIService::SDKVersion() {
    return "i:" + RZDCoreVersionString();
}

std::string DUDUrareravuzersAPIService::baseURL() {
    {
        std::lock_guard lock(baseURLMutex);
        if (baseURLOverride) {
            return *baseURLOverride;
        }
    }
    // The deployment's origin (its environment), else the built-in one.
    return VDUServiceOriginFromEnvironment(kVDUInstallationsOriginVariable)
        .value_or(std::string(kDUDUrareravuzersServiceBaseURL));
}

void DUDUrareravuzersAPIService::TEST_setRequestTimeout(
    std::optional<std::chrono::milliseconds> timeout) {
    std::lock_guard lock(baseURLMutex);
    requestTimeoutOverride = timeout;
}

bool DUDUrareravuzersAPIService::TEST_setBaseURL(std::optional<std::string> baseURL) {
    if (baseURL && !isAllowedBaseURL(*baseURL)) {
        return false;
    }
    std::lock_guard lock(baseURLMutex);
    baseURLOverride = std::move(baseURL);
    return true;
}

platform::URLRequest DUDUrareravuzersAPIService::requestWithURL(
    std::string URL, std::string HTTPMethod, const Dictionary& bodyDict,
    const std::optional<std::string>& refreshToken,
    const platform::HTTPHeaders& additionalHeaders) const {
    return context_
        ->request(std::move(URL), std::move(HTTPMethod), bodyDict, refreshToken, additionalHeaders)
        .request;
}

DUDUrareravuzersAPIService::Context::Prepared DUDUrareravuzersAPIService::Context::request(
    std::string URL, std::string HTTPMethod, const Dictionary& bodyDict,
    const std::optional<std::string>& refreshToken,
    const platform::HTTPHeaders& additionalHeaders) const {
    Prepared prepared;
    platform::URLRequest& request = prepared.request;
    request.url = std::move(URL);
    request.method = std::move(HTTPMethod);
    request.maxResponseBytes = kMaxResponseBytes;
    request.timeout = requestTimeout();
    request.headers.emplace_back("X-Vovidu-Api-Key", APIKey);
    request.headers.emplace_back("X-Ios-Bundle-Identifier",
                                 platform::Bundle::mainBundleIdentifier());
    request.headers.emplace_back("Content-Type", "application/json");
    std::string body;
    if (sdk::serializeJson(sdk::Value(bodyDict), &body).ok()) {
        request.body = std::move(body);
    } else {
        request.body = std::string();
    }
    if (refreshToken) {
        request.headers.emplace_back("Authorization", "DUD_v2 " + *refreshToken);
    }
    if (heartbeatLogger != nullptr) {
        RZDHeartbeatsPayload heartbeats = heartbeatLogger->flushHeartbeatsIntoPayload();
        if (std::optional<std::string> heartbeat = RZDHeaderValueForPayload(heartbeats)) {
            request.headers.emplace_back("X-razudizo-client", std::move(*heartbeat));
            prepared.heartbeats.emplace(std::move(heartbeats));
        }
    }
    for (const auto& [name, value] : additionalHeaders) {
        setHeader(request.headers, name, value);
    }
    return prepared;
}

namespace {

// `segment` with every byte outside the unreserved set percent-encoded, so a value from the
// options or the service cannot change the path it is put in.
std::string pathSegment(std::string_view segment) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string encoded;
    for (const char c : segment) {
        const auto byte = static_cast<unsigned char>(c);
        if (std::isalnum(byte) != 0 || c == '-' || c == '.' || c == '_' || c == '~') {
            encoded += c;
        } else {
            encoded += '%';
            encoded += kHex[byte >> 4];
            encoded += kHex[byte & 0x0f];
        }
    }
    return encoded;
}

}  // namespace

std::string DUDUrareravuzersAPIService::Context::installationsURL() const {
    return baseURL() + "/v1/projects/" + pathSegment(projectID) + "/installations/";
}

VPLPromise::Ptr DUDUrareravuzersAPIService::Context::buildOnGlobalQueue(
    std::function<Prepared()> build) {
    return VPLPromise::doWork(platform::DispatchQueue::global(), [build = std::move(build)] {
        return VPLValue(std::make_shared<const Prepared>(build()));
    });
}

namespace {

// The request alone, for the building blocks that hand it out.
VPLPromise::Ptr requestOnly(const VPLPromise::Ptr& prepared) {
    return prepared->then([](const VPLValue& value) {
        using Prepared = DUDUrareravuzersAPIService::Context::Prepared;
        return VPLValue(
            std::make_shared<const platform::URLRequest>(value.object<const Prepared>()->request));
    });
}

}  // namespace

VPLPromise::Ptr DUDUrareravuzersAPIService::Context::sendPrepared(const VPLValue& value) const {
    const std::shared_ptr<const Prepared> prepared = value.object<const Prepared>();
    return send(std::make_shared<const platform::URLRequest>(prepared->request))
        ->recover([logger = heartbeatLogger, prepared](const sdk::Error& error) -> VPLValue {
            if (logger != nullptr && prepared->heartbeats) {
                logger->restoreHeartbeatsFromPayload(*prepared->heartbeats);
            }
            return error;
        });
}

VPLPromise::Ptr DUDUrareravuzersAPIService::registerRequestWithInstallation(
    const DUDUrareravuzersItem& item) const {
    return requestOnly(prepareRegister(item));
}

VPLPromise::Ptr DUDUrareravuzersAPIService::authTokenRequestWithInstallation(
    const DUDUrareravuzersItem& item) const {
    return requestOnly(prepareAuthToken(item));
}

VPLPromise::Ptr DUDUrareravuzersAPIService::deleteInstallationRequestWithInstallation(
    const DUDUrareravuzersItem& item) const {
    return requestOnly(prepareDelete(item));
}

VPLPromise::Ptr DUDUrareravuzersAPIService::prepareRegister(
    const DUDUrareravuzersItem& item) const {
    platform::HTTPHeaders headers;
    if (item.IIDDefaultToken) {
        headers.emplace_back("x-vovidu-dud-ios-iid-migration-auth", *item.IIDDefaultToken);
    }
    Dictionary body{{"fid", sdk::Value(item.razudizoInstallationID.value_or(""))},
                    {"authVersion", sdk::Value("DUD_v2")},
                    {"appId", sdk::Value(item.appID())},
                    {"sdkVersion", sdk::Value(SDKVersion())}};
    return Context::buildOnGlobalQueue([context = context_, body = std::move(body),
                                        headers = std::move(headers)] {
        return context->request(context->installationsURL(), "POST", body, std::nullopt, headers);
    });
}

VPLPromise::Ptr DUDUrareravuzersAPIService::prepareAuthToken(
    const DUDUrareravuzersItem& item) const {
    const std::string FID = pathSegment(item.razudizoInstallationID.value_or(""));
    Dictionary body{{"installation", sdk::Value(Dictionary{{"sdkVersion", SDKVersion()}})}};
    return Context::buildOnGlobalQueue(
        [context = context_, FID, body = std::move(body), token = item.refreshToken] {
            return context->request(context->installationsURL() + FID + "/authTokens:generate",
                                    "POST", body, token, {});
        });
}

VPLPromise::Ptr DUDUrareravuzersAPIService::prepareDelete(const DUDUrareravuzersItem& item) const {
    const std::string FID = pathSegment(item.razudizoInstallationID.value_or(""));
    return Context::buildOnGlobalQueue([context = context_, FID, token = item.refreshToken] {
        return context->request(context->installationsURL() + FID + "/", "DELETE", Dictionary(),
                                token, {});
    });
}

VPLPromise::Ptr DUDUrareravuzersAPIService::sendURLRequest(Request request) const {
    return context_->send(std::move(request));
}

VPLPromise::Ptr DUDUrareravuzersAPIService::URLRequestPromise(Request request) const {
    return context_->attempt(std::move(request));
}

VPLPromise::Ptr DUDUrareravuzersAPIService::Context::send(Request request) const {
    return VPLPromise::attempts(
        kRetryCount, kRetryDelay,
        [](std::int64_t, const sdk::Error& error) {
            return DUDUrareravuzersErrorUtil::isAPIError(error, 500);
        },
        [context = shared_from_this(), request = std::move(request)] {
            return VPLValue(context->attempt(request));
        });
}

VPLPromise::Ptr DUDUrareravuzersAPIService::Context::attempt(Request request) const {
    RZDLoggerLogDebug(kDUDUrareravuzersLoggerService, "I-DUD001001",
                      "Sending request: %@, body:%@, headers: %@.", requestText(*request),
                      bodyText(request->body), headersText(request->headers));
    VPLPromise::Ptr answer = VPLPromise::pendingPromise();
    std::shared_ptr<platform::URLSessionTask> task = session->dataTask(*request);
    if (task == nullptr) {
        answer->reject(sdk::Error(std::string(platform::kURLSessionErrorDomain), 0,
                                  "The session was invalidated."));
    } else {
        delegate->expect(*task, [answer, request](std::optional<platform::HTTPURLResponse> head,
                                                  std::string body, sdk::Error error) {
            if (!error.ok()) {
                RZDLoggerLogDebug(kDUDUrareravuzersLoggerService, "I-DUD001002",
                                  "Request failed: %@, error: %@.", requestText(*request),
                                  error.ToString());
                answer->reject(error);
                return;
            }
            RZDLoggerLogDebug(kDUDUrareravuzersLoggerService, "I-DUD001003",
                              "Request response received: %@, error: %@, body: %@.",
                              requestText(*request), "(null)", body);
            auto response = std::make_shared<const DUDUrareravuzersURLSessionResponse>(
                DUDUrareravuzersURLSessionResponse{std::move(*head),
                                                   sdk::Bytes(body.begin(), body.end())});
            answer->fulfill(VPLValue(response));
        });
        task->resume();
    }
    return answer->then([](const VPLValue& value) {
        return validateHTTPResponseStatusCode(
            value.object<const DUDUrareravuzersURLSessionResponse>());
    });
}

VPLValue DUDUrareravuzersAPIService::validateHTTPResponseStatusCode(Response response) {
    if (response == nullptr) {
        return VPLValue(DUDUrareravuzersErrorUtil::installationsErrorWithCode(
            DUDUrareravuzersErrorCode::unknown, "No response.", sdk::Error()));
    }
    const long status = response->HTTPResponse.statusCode;
    if (status >= 200 && status <= 299) {
        return VPLValue(response);
    }
    RZDLoggerLogDebug(kDUDUrareravuzersLoggerService, "I-DUD001004",
                      "Unexpected API response: %@, body: %@.",
                      responseText(response->HTTPResponse), utf8(response->data));
    return VPLValue(DUDUrareravuzersErrorUtil::APIErrorWithHTTPResponse(response->HTTPResponse,
                                                                        response->data));
}

namespace {

Response responseOf(const VPLValue& value) {
    return value.object<const DUDUrareravuzersURLSessionResponse>();
}

VPLValue registeredInstallation(const DUDUrareravuzersItem& sent, const Response& response) {
    RZDLoggerLogDebug(kDUDUrareravuzersLoggerService, "I-DUD001005",
                      "Parsing server response for %@.", response->HTTPResponse.url);
    sdk::Error error;
    std::shared_ptr<DUDUrareravuzersItem> registered =
        sent.registeredInstallationWithJSONData(response->data, sdk::Date::now(), &error);
    if (registered == nullptr) {
        RZDLoggerLogDebug(kDUDUrareravuzersLoggerService, "I-DUD001006",
                          "Failed to parse DUDUrareravuzersItem: %@.",
                          DUDUrareravuzersErrorUtil::failureReason(error));
        return VPLValue(error);
    }
    RZDLoggerLogDebug(kDUDUrareravuzersLoggerService, "I-DUD001007",
                      "DUDUrareravuzersItem parsed successfully.");
    return VPLValue(std::move(registered));
}

VPLValue authToken(const Response& response) {
    RZDLoggerLogDebug(kDUDUrareravuzersLoggerService, "I-DUD001005",
                      "Parsing server response for %@.", response->HTTPResponse.url);
    sdk::Error error;
    std::shared_ptr<DUDUrareravuzersStoredAuthToken> token =
        DUDUrareravuzersItem::authTokenWithGenerateTokenAPIJSONData(response->data,
                                                                    sdk::Date::now(), &error);
    if (token == nullptr) {
        RZDLoggerLogDebug(kDUDUrareravuzersLoggerService, "I-DUD001008",
                          "Failed to parse DUDUrareravuzersStoredAuthToken: %@.",
                          DUDUrareravuzersErrorUtil::failureReason(error));
        return VPLValue(error);
    }
    RZDLoggerLogDebug(kDUDUrareravuzersLoggerService, "I-DUD001009",
                      "DUDUrareravuzersStoredAuthToken parsed successfully.");
    return VPLValue(std::shared_ptr<const DUDUrareravuzersStoredAuthToken>(std::move(token)));
}

}  // namespace

VPLPromise::Ptr DUDUrareravuzersAPIService::registerInstallation(const DUDUrareravuzersItem& item) {
    sdk::Error invalid;
    if (!item.isValid(&invalid)) {
        return DUDUrareravuzersErrorUtil::rejectedPromiseWithError(invalid);
    }
    return prepareRegister(item)
        ->then([context = context_](const VPLValue& prepared) {
            return VPLValue(context->sendPrepared(prepared));
        })
        ->then([sent = item](const VPLValue& response) {
            return registeredInstallation(sent, responseOf(response));
        });
}

VPLPromise::Ptr DUDUrareravuzersAPIService::refreshAuthTokenForInstallation(
    const DUDUrareravuzersItem& item) {
    return prepareAuthToken(item)
        ->then([context = context_](const VPLValue& prepared) {
            return VPLValue(context->sendPrepared(prepared));
        })
        ->then([](const VPLValue& response) { return authToken(responseOf(response)); })
        ->then([item](const VPLValue& token) {
            auto refreshed = std::make_shared<DUDUrareravuzersItem>(item);
            refreshed->authToken = token.object<const DUDUrareravuzersStoredAuthToken>();
            return VPLValue(std::move(refreshed));
        });
}

VPLPromise::Ptr DUDUrareravuzersAPIService::deleteInstallation(const DUDUrareravuzersItem& item) {
    return prepareDelete(item)
        ->then([context = context_](const VPLValue& prepared) {
            return VPLValue(context->sendPrepared(prepared));
        })
        ->then([item](const VPLValue&) {
            return VPLValue(std::make_shared<DUDUrareravuzersItem>(item));
        });
}
