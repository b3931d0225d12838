#include "platform/urlsession/URLSession.h"

#include "platform/urlsession/TransferEngine.h"

#include <curl/curl.h>

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
struct Transfer : urlsession_detail::EngineTransfer {
    const URLSession::State* owner = nullptr;  // for cancelling a session's transfers
    URLRequest request;
    URLSession::Completion completion;
    std::unique_ptr<CURL, CurlEasyDeleter> easyHandle;
    std::unique_ptr<curl_slist, CurlListDeleter> headers;
    std::string received;
    bool tooLarge = false;
    bool cancelled = false;  // set on the engine thread before finished()

    CURL* easy() override { return easyHandle.get(); }
    void finished(CURLcode result) override;

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

size_t receive(char* data, size_t size, size_t count, void* context) {
    auto* transfer = static_cast<Transfer*>(context);
    const size_t bytes = size * count;
    if (bytes > transfer->request.maxResponseBytes - transfer->received.size()) {
        transfer->tooLarge = true;
        return 0;  // libcurl ends the transfer with CURLE_WRITE_ERROR
    }
    transfer->received.append(data, bytes);
    return bytes;
}

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
    ok = ok && curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, "http,https") == CURLE_OK;
    ok = ok && curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L) == CURLE_OK;
    ok = ok && curl_easy_setopt(easy, CURLOPT_MAXREDIRS, kMaxRedirects) == CURLE_OK;
    ok = ok && curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 1L) == CURLE_OK;
    ok = ok && curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 2L) == CURLE_OK;
    ok = ok && curl_easy_setopt(easy, CURLOPT_TIMEOUT_MS,
                                static_cast<long>(request.timeout.count())) == CURLE_OK;
    ok = ok && curl_easy_setopt(easy, CURLOPT_MAXFILESIZE_LARGE,
                                static_cast<curl_off_t>(request.maxResponseBytes)) == CURLE_OK;
    ok = ok && curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, receive) == CURLE_OK;
    ok = ok && curl_easy_setopt(easy, CURLOPT_WRITEDATA, &transfer) == CURLE_OK;
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
        outcome.body = std::move(transfer.received);
        return outcome;
    }
    std::string message = curl_easy_strerror(result);
    if (transfer.tooLarge || result == CURLE_FILESIZE_EXCEEDED) {
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
    finish(cancelled ? failure(URLErrorCode::cancelled, "the session was closed")
                     : outcomeOf(*this, result));
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
