#include "platform/urlsession/URLSession.h"

#include "platform/urlsession/HTTPRules.h"
#include "platform/urlsession/ResponseBody.h"
#include "platform/urlsession/TransferEngine.h"

#include <curl/curl.h>

#include <strings.h>

#include <algorithm>
#include <chrono>
#include <future>
#include <mutex>
#include <string_view>
#include <vector>

namespace platform {

namespace {

constexpr long kMaxRedirects = 16;

struct CurlEasyDeleter {
    void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};
struct CurlListDeleter {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
struct CurlUrlDeleter {
    void operator()(CURLU* url) const { curl_url_cleanup(url); }
};

// True for an absolute address whose scheme is http or https. libcurl alone would guess a
// scheme for an address without one.
bool isHTTPAddress(const std::string& url) {
    std::unique_ptr<CURLU, CurlUrlDeleter> parsed(curl_url());
    if (!parsed || curl_url_set(parsed.get(), CURLUPART_URL, url.c_str(), 0) != CURLUE_OK) {
        return false;
    }
    char* scheme = nullptr;
    if (curl_url_get(parsed.get(), CURLUPART_SCHEME, &scheme, 0) != CURLUE_OK) {
        return false;
    }
    const std::string_view name(scheme);
    const bool http = name == "http" || name == "https";
    curl_free(scheme);
    return http;
}

URLOutcome failure(URLErrorCode code, std::string message) {
    URLOutcome outcome;
    outcome.error = code;
    outcome.errorMessage = std::move(message);
    return outcome;
}

}  // namespace

// One request on its way: the libcurl handle and everything it points at. Owned by the
// transfer engine while it runs.
struct Transfer : urlsession_detail::EngineTransfer, std::enable_shared_from_this<Transfer> {
    const URLSession::State* owner = nullptr;  // for cancelling a session's transfers
    URLRequest request;                        // the current hop's request
    std::string origin;                        // scheme, host and port of the first request
    long redirects = 0;                        // followed so far
    std::chrono::steady_clock::time_point deadline{};
    URLSession::Completion completion;
    std::unique_ptr<CURL, CurlEasyDeleter> easyHandle;
    std::unique_ptr<curl_slist, CurlListDeleter> headers;
    urlsession_detail::ResponseBody body;  // the current hop's
    bool cancelled = false;                // set on the engine thread before finished()

    CURL* easy() override { return easyHandle.get(); }
    void finished(CURLcode result) override;
    // Starts the next hop when the answer is a redirect that is followed; returns whether.
    bool followRedirect();

    // Hands `outcome` to the completion (when there is one), which runs once.
    void finish(URLOutcome outcome) {
        URLSession::Completion done = std::move(completion);
        if (done) {
            done(std::move(outcome));
        }
    }
};

struct URLSession::State {
    std::mutex mutex;
    bool closed = false;  // guarded by mutex
};

namespace {

// The request's headers for libcurl, or null when the list cannot be made. An empty "Expect:"
// keeps libcurl from adding "Expect: 100-continue" to larger bodies.
std::unique_ptr<curl_slist, CurlListDeleter> headerList(const URLRequest& request) {
    std::unique_ptr<curl_slist, CurlListDeleter> list(curl_slist_append(nullptr, "Expect:"));
    for (const auto& [name, value] : request.headers) {
        if (!list) {
            break;
        }
        curl_slist* longer = curl_slist_append(list.get(), (name + ": " + value).c_str());
        if (longer == nullptr) {
            list.reset();
        } else {
            (void)list.release();  // `longer` is the same list with one more entry
            list.reset(longer);
        }
    }
    return list;
}

// Sets the method and body. Returns false when libcurl refuses an option.
bool configureMethod(CURL* easy, const URLRequest& request) {
    const bool sendsBody = request.body.has_value() || request.method == "POST";
    bool ok = true;
    if (sendsBody) {
        const std::string empty;
        const std::string& body = request.body ? *request.body : empty;
        ok = curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE,
                              static_cast<curl_off_t>(body.size())) == CURLE_OK &&
             curl_easy_setopt(easy, CURLOPT_COPYPOSTFIELDS, body.c_str()) == CURLE_OK;
    } else {
        ok = curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L) == CURLE_OK;
    }
    if (request.method != (sendsBody ? "POST" : "GET")) {
        ok =
            ok && curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, request.method.c_str()) == CURLE_OK;
    }
    return ok;
}

// Sets up `transfer.easy` for its request. Returns false when libcurl refuses an option.
bool configure(Transfer& transfer) {
    CURL* easy = transfer.easyHandle.get();
    const URLRequest& request = transfer.request;
    bool ok = curl_easy_setopt(easy, CURLOPT_URL, request.url.c_str()) == CURLE_OK;
    ok = ok && curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L) == CURLE_OK;
    ok = ok && curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https") == CURLE_OK;
    // Redirects are followed here, hop by hop, so that credentials stay with their origin.
    ok = ok && curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 0L) == CURLE_OK;
    ok = ok && curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 1L) == CURLE_OK;
    ok = ok && curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 2L) == CURLE_OK;
    ok = ok && urlsession_detail::configureTrust(easy);
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        transfer.deadline - std::chrono::steady_clock::now());
    ok = ok &&
         curl_easy_setopt(easy, CURLOPT_TIMEOUT_MS,
                          static_cast<long>(std::max<std::int64_t>(left.count(), 1))) == CURLE_OK;
    // libcurl sends a request again by itself when a reused connection turns out closed before
    // an answer; a request that must not arrive twice gets a connection of its own instead.
    if (urlsession_detail::isNonIdempotent(request.method)) {
        ok = ok && curl_easy_setopt(easy, CURLOPT_FRESH_CONNECT, 1L) == CURLE_OK;
    }
    ok = ok && curl_easy_setopt(easy, CURLOPT_MAXFILESIZE_LARGE,
                                static_cast<curl_off_t>(request.maxResponseBytes)) == CURLE_OK;
    transfer.body.limit = request.maxResponseBytes;
    ok = ok && curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION,
                                urlsession_detail::ResponseBody::receive) == CURLE_OK;
    ok = ok && curl_easy_setopt(easy, CURLOPT_WRITEDATA, &transfer.body) == CURLE_OK;
    ok = ok && curl_easy_setopt(easy, CURLOPT_PRIVATE, &transfer) == CURLE_OK;
    transfer.headers = headerList(request);
    ok = ok && transfer.headers &&
         curl_easy_setopt(easy, CURLOPT_HTTPHEADER, transfer.headers.get()) == CURLE_OK;
    return ok && configureMethod(easy, request);
}

URLOutcome outcomeOf(Transfer& transfer, CURLcode result) {
    if (result == CURLE_OK) {
        URLOutcome outcome;
        curl_easy_getinfo(transfer.easyHandle.get(), CURLINFO_RESPONSE_CODE, &outcome.statusCode);
        outcome.body = std::move(transfer.body.bytes);
        return outcome;
    }
    std::string message = curl_easy_strerror(result);
    if (transfer.body.tooLarge || result == CURLE_FILESIZE_EXCEEDED) {
        return failure(URLErrorCode::responseTooLarge, std::move(message));
    }
    switch (result) {
        case CURLE_OPERATION_TIMEDOUT:
            return failure(URLErrorCode::timedOut, std::move(message));
        case CURLE_UNSUPPORTED_PROTOCOL:
        case CURLE_URL_MALFORMAT:
            return failure(URLErrorCode::unsupportedURL, std::move(message));
        default:
            return failure(URLErrorCode::failed, std::move(message));
    }
}

}  // namespace

void Transfer::finished(CURLcode result) {
    if (cancelled) {
        finish(failure(URLErrorCode::cancelled, "the session was closed"));
        return;
    }
    if (result == CURLE_OK && followRedirect()) {
        return;
    }
    finish(outcomeOf(*this, result));
}

bool Transfer::followRedirect() {
    CURL* easy = easyHandle.get();
    long status = 0;
    char* location = nullptr;
    curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
    curl_easy_getinfo(easy, CURLINFO_REDIRECT_URL, &location);
    if (status < 300 || status >= 400 || location == nullptr) {
        return false;
    }
    if (!isHTTPAddress(location) || urlsession_detail::isDowngrade(request.url, location)) {
        finish(failure(URLErrorCode::unsupportedURL,
                       "redirected to an address that is not followed: another scheme, or "
                       "from https to http"));
        return true;
    }
    if (redirects >= kMaxRedirects) {
        finish(failure(URLErrorCode::failed, "too many redirects"));
        return true;
    }
    ++redirects;
    request = urlsession_detail::redirectedRequest(request, status, location, origin);
    body.bytes.clear();
    easyHandle.reset(curl_easy_init());
    if (!easyHandle || !configure(*this)) {
        finish(failure(URLErrorCode::failed, "the transfer could not be set up"));
        return true;
    }
    urlsession_detail::TransferEngine::instance().start(shared_from_this());
    return true;
}

URLSession::URLSession() : state_(std::make_unique<State>()) {
    // The engine is made first, so that it outlives a session that is a static object.
    (void)urlsession_detail::TransferEngine::instance();
}

URLSession::~URLSession() {
    {
        std::lock_guard lock(state_->mutex);
        state_->closed = true;
    }
    auto& engine = urlsession_detail::TransferEngine::instance();
    const State* owner = state_.get();
    auto cancel = [&engine, owner] {
        engine.abandonWhere([owner](urlsession_detail::EngineTransfer& transfer) {
            auto* mine = dynamic_cast<Transfer*>(&transfer);
            if (mine == nullptr || mine->owner != owner) {
                return false;
            }
            mine->cancelled = true;
            return true;
        });
    };
    if (engine.isEngineThread()) {
        cancel();
        return;
    }
    std::promise<void> done;
    engine.post([&] {
        cancel();
        done.set_value();
    });
    done.get_future().wait();
}

URLSession& URLSession::shared() {
    static URLSession session;
    return session;
}

void URLSession::send(URLRequest request, Completion completion) {
    auto transfer = std::make_shared<Transfer>();
    transfer->owner = state_.get();
    transfer->request = std::move(request);
    transfer->completion = std::move(completion);
    {
        std::lock_guard lock(state_->mutex);
        if (state_->closed) {
            transfer->finish(failure(URLErrorCode::cancelled, "the session was closed"));
            return;
        }
    }
    auto& engine = urlsession_detail::TransferEngine::instance();
    if (std::optional<std::string> invalid =
            urlsession_detail::invalidHeaderField(transfer->request.headers)) {
        engine.post([transfer, invalid = std::move(*invalid)] {
            transfer->finish(failure(URLErrorCode::failed, invalid));
        });
        return;
    }
    transfer->origin = urlsession_detail::originOf(transfer->request.url).value_or("");
    transfer->deadline = std::chrono::steady_clock::now() + transfer->request.timeout;
    if (!isHTTPAddress(transfer->request.url)) {
        engine.post([transfer] {
            transfer->finish(
                failure(URLErrorCode::unsupportedURL, "not an absolute http or https address"));
        });
        return;
    }
    transfer->easyHandle.reset(curl_easy_init());
    if (!transfer->easyHandle || !configure(*transfer)) {
        engine.post([transfer] {
            transfer->finish(failure(URLErrorCode::failed, "the transfer could not be set up"));
        });
        return;
    }
    engine.start(std::move(transfer));
}

}  // namespace platform
