#include "platform/urlsession/URLSession.h"

#include <curl/curl.h>

#include <cassert>
#include <map>
#include <mutex>
#include <string_view>
#include <thread>
#include <vector>

namespace platform {

namespace {

// How long the session thread sleeps in one poll when nothing wakes it; a stop or a new request
// wakes it at once, so this only bounds libcurl's own timer checks.
constexpr int kPollMilliseconds = 1000;
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

void initialiseCurlOnce() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

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

// One request on its way: the libcurl handle and everything it points at.
struct Transfer {
    URLRequest request;
    URLSession::Completion completion;
    std::unique_ptr<CURL, CurlEasyDeleter> easy;
    std::unique_ptr<curl_slist, CurlListDeleter> headers;
    std::string received;
    bool tooLarge = false;

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
    std::vector<std::unique_ptr<Transfer>> incoming;  // guarded by mutex
    bool stopping = false;                            // guarded by mutex

    CURLM* multi = nullptr;  // created before the thread starts, cleaned up after it ends
    std::map<CURL*, std::unique_ptr<Transfer>> active;  // session thread only
    std::thread thread;

    void run();
    void begin(std::unique_ptr<Transfer> transfer);
    void collectFinished();
    void cancelAll(std::vector<std::unique_ptr<Transfer>> queued);
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
    CURL* easy = transfer.easy.get();
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
        curl_easy_getinfo(transfer.easy.get(), CURLINFO_RESPONSE_CODE, &outcome.statusCode);
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

void URLSession::State::run() {
    for (;;) {
        std::vector<std::unique_ptr<Transfer>> added;
        bool stop = false;
        {
            std::lock_guard lock(mutex);
            added.swap(incoming);
            stop = stopping;
        }
        if (stop) {
            cancelAll(std::move(added));
            return;
        }
        for (std::unique_ptr<Transfer>& transfer : added) {
            begin(std::move(transfer));
        }
        int running = 0;
        curl_multi_perform(multi, &running);
        collectFinished();
        curl_multi_poll(multi, nullptr, 0, kPollMilliseconds, nullptr);
    }
}

void URLSession::State::begin(std::unique_ptr<Transfer> transfer) {
    if (!isHTTPAddress(transfer->request.url)) {
        transfer->finish(
            failure(URLErrorCode::unsupportedURL, "not an absolute http or https address"));
        return;
    }
    transfer->easy.reset(curl_easy_init());
    if (!transfer->easy || !configure(*transfer)) {
        transfer->finish(failure(URLErrorCode::failed, "the transfer could not be set up"));
        return;
    }
    CURL* easy = transfer->easy.get();
    if (curl_multi_add_handle(multi, easy) != CURLM_OK) {
        transfer->finish(failure(URLErrorCode::failed, "the transfer could not be started"));
        return;
    }
    active.emplace(easy, std::move(transfer));
}

void URLSession::State::collectFinished() {
    int left = 0;
    while (CURLMsg* message = curl_multi_info_read(multi, &left)) {
        if (message->msg != CURLMSG_DONE) {
            continue;
        }
        CURL* easy = message->easy_handle;
        const CURLcode result = message->data.result;
        curl_multi_remove_handle(multi, easy);
        auto found = active.find(easy);
        assert(found != active.end());
        std::unique_ptr<Transfer> transfer = std::move(found->second);
        active.erase(found);
        transfer->finish(outcomeOf(*transfer, result));
    }
}

void URLSession::State::cancelAll(std::vector<std::unique_ptr<Transfer>> queued) {
    for (auto& [easy, transfer] : active) {
        curl_multi_remove_handle(multi, easy);
        queued.push_back(std::move(transfer));
    }
    active.clear();
    for (std::unique_ptr<Transfer>& transfer : queued) {
        transfer->finish(failure(URLErrorCode::cancelled, "the session was closed"));
    }
}

URLSession::URLSession() : state_(std::make_unique<State>()) {
    initialiseCurlOnce();
    state_->multi = curl_multi_init();
    // Without a multi handle nothing can be sent; that is a broken installation, not a case to
    // limp along in.
    assert(state_->multi != nullptr);
    state_->thread = std::thread([state = state_.get()] { state->run(); });
}

URLSession::~URLSession() {
    {
        std::lock_guard lock(state_->mutex);
        state_->stopping = true;
    }
    curl_multi_wakeup(state_->multi);
    state_->thread.join();
    // A completion that ran while the thread stopped may have sent one more request.
    for (;;) {
        std::vector<std::unique_ptr<Transfer>> left;
        {
            std::lock_guard lock(state_->mutex);
            left.swap(state_->incoming);
        }
        if (left.empty()) {
            break;
        }
        state_->cancelAll(std::move(left));
    }
    curl_multi_cleanup(state_->multi);
}

URLSession& URLSession::shared() {
    static URLSession session;
    return session;
}

void URLSession::send(URLRequest request, Completion completion) {
    auto transfer = std::make_unique<Transfer>();
    transfer->request = std::move(request);
    transfer->completion = std::move(completion);
    {
        std::lock_guard lock(state_->mutex);
        state_->incoming.push_back(std::move(transfer));
    }
    curl_multi_wakeup(state_->multi);
}

}  // namespace platform
