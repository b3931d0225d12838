#include "platform/urlsession/URLTaskSession.h"

#include <curl/curl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "platform/urlsession/HTTPRules.h"
#include "platform/urlsession/ResponseBody.h"
#include "platform/urlsession/TransferEngine.h"

namespace platform {

using urlsession_detail::EngineTransfer;
using urlsession_detail::isCredentialHeader;
using urlsession_detail::ResponseBody;
using urlsession_detail::TransferEngine;

static_assert(kURLSessionErrorResponseTooLarge == CURLE_FILESIZE_EXCEEDED);
static_assert(kURLSessionErrorTimedOut == CURLE_OPERATION_TIMEDOUT);

namespace {

// After this many followed redirects the next redirect response is the final one.
constexpr std::size_t kMaxRedirects = 16;

struct CurlEasyDeleter {
    void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};
struct CurlListDeleter {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

bool sameName(std::string_view a, std::string_view b) {
    return a.size() == b.size() && strncasecmp(a.data(), b.data(), a.size()) == 0;
}

bool hasHeader(const HTTPHeaders& headers, std::string_view name) {
    return headerValue(headers, name).has_value();
}

// The session's headers under the request's own, without the session's credentials once the
// task has left its first origin.
HTTPHeaders mergedHeaders(const HTTPHeaders& sessionHeaders, const HTTPHeaders& requestHeaders,
                          bool leftOrigin) {
    HTTPHeaders merged;
    for (const auto& header : sessionHeaders) {
        if (!hasHeader(requestHeaders, header.first) &&
            !(leftOrigin && isCredentialHeader(header.first))) {
            merged.push_back(header);
        }
    }
    merged.insert(merged.end(), requestHeaders.begin(), requestHeaders.end());
    return merged;
}

// `headers` for libcurl; Content-Length is always libcurl's, from the body actually sent. An
// empty "Expect:" keeps libcurl from waiting for 100-continue.
std::unique_ptr<curl_slist, CurlListDeleter> headerList(const HTTPHeaders& headers) {
    std::unique_ptr<curl_slist, CurlListDeleter> list(curl_slist_append(nullptr, "Expect:"));
    for (const auto& [name, value] : headers) {
        if (!list || sameName(name, "Content-Length")) {
            continue;
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

bool sendsNoBody(const std::string& method) {
    return method == "GET" || method == "HEAD";
}

std::chrono::milliseconds remaining(std::chrono::steady_clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    return std::max(left, std::chrono::milliseconds(1));
}

}  // namespace

std::optional<std::string> headerValue(const HTTPHeaders& headers, std::string_view name) {
    for (const auto& [key, value] : headers) {
        if (sameName(key, name)) {
            return value;
        }
    }
    return std::nullopt;
}

void TEST_setExtraCertificateAuthorities(std::filesystem::path caFile) {
    urlsession_detail::setExtraCertificateAuthorities(std::move(caFile));
}

// One request of a task on its way: one libcurl easy handle. A followed redirect makes the
// next hop. Lives on the engine thread once started.
class URLTaskHop : public EngineTransfer {
  public:
    URLTaskHop(std::shared_ptr<URLTaskSession> session, std::shared_ptr<URLSessionTask> task,
               URLRequest request)
        : session(std::move(session)), task(std::move(task)), request(std::move(request)) {}

    CURL* easy() override { return easyHandle.get(); }
    void finished(CURLcode result) override { session->hopFinished(*this, result); }

    // Sets up the handle. Returns the error that ends the task when that fails.
    std::optional<URLSessionError> configure();

    const std::shared_ptr<URLTaskSession> session;
    const std::shared_ptr<URLSessionTask> task;
    const URLRequest request;
    std::unique_ptr<CURL, CurlEasyDeleter> easyHandle{curl_easy_init()};
    std::unique_ptr<curl_slist, CurlListDeleter> headers;
    std::unique_ptr<std::FILE, FileCloser> bodyFile;
    ResponseBody body;
    HTTPHeaders responseHeaders;

  private:
    bool configureBody();
    bool configureLimits();
};

namespace {

// Keeps the header fields of the last response head (a new status line starts over).
size_t receiveHeader(char* data, size_t size, size_t count, void* context) {
    auto* hop = static_cast<URLTaskHop*>(context);
    const size_t bytes = size * count;
    std::string_view line(data, bytes);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) {
        line.remove_suffix(1);
    }
    if (line.starts_with("HTTP/")) {
        hop->responseHeaders.clear();
    } else if (const size_t colon = line.find(':'); colon != std::string_view::npos) {
        std::string_view value = line.substr(colon + 1);
        while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) {
            value.remove_prefix(1);
        }
        hop->responseHeaders.emplace_back(std::string(line.substr(0, colon)), std::string(value));
    }
    return bytes;
}

size_t readBody(char* buffer, size_t size, size_t count, void* context) {
    auto* file = static_cast<std::FILE*>(context);
    const size_t read = std::fread(buffer, 1, size * count, file);
    return std::ferror(file) != 0 ? CURL_READFUNC_ABORT : read;
}

}  // namespace

bool URLTaskHop::configureBody() {
    CURL* easy = easyHandle.get();
    if (request.body) {
        return curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE,
                                static_cast<curl_off_t>(request.body->size())) == CURLE_OK &&
               curl_easy_setopt(easy, CURLOPT_COPYPOSTFIELDS, request.body->c_str()) == CURLE_OK;
    }
    if (task->bodyFile_ && !sendsNoBody(request.method)) {
        bodyFile.reset(std::fopen(task->bodyFile_->c_str(), "rb"));
        struct stat info {};
        if (!bodyFile || fstat(fileno(bodyFile.get()), &info) != 0) {
            return false;
        }
        return curl_easy_setopt(easy, CURLOPT_POST, 1L) == CURLE_OK &&
               curl_easy_setopt(easy, CURLOPT_READFUNCTION, readBody) == CURLE_OK &&
               curl_easy_setopt(easy, CURLOPT_READDATA, bodyFile.get()) == CURLE_OK &&
               curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE,
                                static_cast<curl_off_t>(info.st_size)) == CURLE_OK;
    }
    if (request.method == "POST") {
        return curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t{0}) == CURLE_OK &&
               curl_easy_setopt(easy, CURLOPT_COPYPOSTFIELDS, "") == CURLE_OK;
    }
    return curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L) == CURLE_OK;
}

bool URLTaskHop::configureLimits() {
    CURL* easy = easyHandle.get();
    const URLSessionConfiguration& configuration = session->configuration();
    const long idleSeconds =
        static_cast<long>((configuration.timeoutIntervalForRequest.count() + 999) / 1000);
    bool ok = curl_easy_setopt(
                  easy, CURLOPT_CONNECTTIMEOUT_MS,
                  static_cast<long>(configuration.timeoutIntervalForRequest.count())) == CURLE_OK;
    ok = ok && curl_easy_setopt(easy, CURLOPT_LOW_SPEED_LIMIT, 1L) == CURLE_OK;
    ok = ok && curl_easy_setopt(easy, CURLOPT_LOW_SPEED_TIME, idleSeconds) == CURLE_OK;
    ok = ok && curl_easy_setopt(easy, CURLOPT_TIMEOUT_MS,
                                static_cast<long>(remaining(task->deadline_).count())) == CURLE_OK;
    return ok && curl_easy_setopt(easy, CURLOPT_MAXFILESIZE_LARGE,
                                  static_cast<curl_off_t>(request.maxResponseBytes)) == CURLE_OK;
}

std::optional<URLSessionError> URLTaskHop::configure() {
    CURL* easy = easyHandle.get();
    const URLSessionError setupFailed{CURLE_FAILED_INIT, "the transfer could not be set up", false};
    if (easy == nullptr) {
        return setupFailed;
    }
    const HTTPHeaders sent = mergedHeaders(session->configuration().additionalHeaders,
                                           request.headers, task->leftOrigin_);
    if (std::optional<std::string> invalid = urlsession_detail::invalidHeaderField(sent)) {
        return URLSessionError{CURLE_BAD_FUNCTION_ARGUMENT, std::move(*invalid), false};
    }
    bool ok = curl_easy_setopt(easy, CURLOPT_URL, request.url.c_str()) == CURLE_OK;
    ok = ok && curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L) == CURLE_OK;
    ok = ok && curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https") == CURLE_OK;
    ok = ok && curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 0L) == CURLE_OK;
    ok = ok && curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 1L) == CURLE_OK;
    ok = ok && curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 2L) == CURLE_OK;
    ok = ok && urlsession_detail::configureTrust(easy);
    body.limit = request.maxResponseBytes;
    ok = ok && curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, ResponseBody::receive) == CURLE_OK;
    ok = ok && curl_easy_setopt(easy, CURLOPT_WRITEDATA, &body) == CURLE_OK;
    ok = ok && curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, receiveHeader) == CURLE_OK;
    ok = ok && curl_easy_setopt(easy, CURLOPT_HEADERDATA, this) == CURLE_OK;
    // The session's cookies stay with the origin the task started at.
    if (session->cookies_ != nullptr && !task->leftOrigin_) {
        ok = ok && curl_easy_setopt(easy, CURLOPT_SHARE, session->cookies_) == CURLE_OK &&
             curl_easy_setopt(easy, CURLOPT_COOKIEFILE, "") == CURLE_OK;
    }
    // libcurl sends a request again by itself when a reused connection turns out closed before
    // an answer; a request that must not arrive twice gets a connection of its own instead.
    if (urlsession_detail::isNonIdempotent(request.method)) {
        ok = ok && curl_easy_setopt(easy, CURLOPT_FRESH_CONNECT, 1L) == CURLE_OK;
    }
    headers = headerList(sent);
    ok = ok && headers && curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headers.get()) == CURLE_OK;
    ok = ok && configureLimits();
    if (!ok) {
        return setupFailed;
    }
    if (!configureBody()) {
        return URLSessionError{CURLE_READ_ERROR, "the body file could not be opened", false};
    }
    if (!sendsNoBody(request.method) && request.method != "POST") {
        if (curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, request.method.c_str()) != CURLE_OK) {
            return setupFailed;
        }
    } else if (request.method == "HEAD" && curl_easy_setopt(easy, CURLOPT_NOBODY, 1L) != CURLE_OK) {
        return setupFailed;
    }
    return std::nullopt;
}

URLSessionTask::URLSessionTask(Passkey, std::weak_ptr<URLTaskSession> session, Kind kind,
                               URLRequest request)
    : session_(std::move(session)), kind_(kind), originalRequest_(std::move(request)) {}

URLSessionTask::State URLSessionTask::state() const {
    std::lock_guard lock(mutex_);
    return state_;
}

std::optional<HTTPURLResponse> URLSessionTask::response() const {
    std::lock_guard lock(mutex_);
    return response_;
}

void URLSessionTask::resume() {
    std::shared_ptr<URLTaskSession> session = session_.lock();
    if (!session) {
        return;
    }
    {
        std::lock_guard lock(mutex_);
        if (state_ != State::kSuspended) {
            return;
        }
        state_ = State::kRunning;
    }
    session->resumeTask(shared_from_this());
}

std::shared_ptr<URLTaskSession> URLTaskSession::create(URLSessionConfiguration configuration,
                                                       std::shared_ptr<URLSessionDelegate> delegate,
                                                       QueueRef delegateQueue) {
    return std::make_shared<URLTaskSession>(Passkey(), std::move(configuration),
                                            std::move(delegate), std::move(delegateQueue));
}

URLTaskSession::URLTaskSession(Passkey, URLSessionConfiguration configuration,
                               std::shared_ptr<URLSessionDelegate> delegate, QueueRef delegateQueue)
    : configuration_(std::move(configuration)),
      delegateQueue_(delegateQueue ? std::move(delegateQueue) : DispatchQueue::main()),
      delegate_(std::move(delegate)) {
    (void)TransferEngine::instance();  // libcurl's global set-up happens there, once
    if (configuration_.kind != URLSessionConfiguration::Kind::kEphemeral) {
        cookies_ = curl_share_init();
        if (cookies_ != nullptr) {
            curl_share_setopt(cookies_, CURLSHOPT_SHARE, CURL_LOCK_DATA_COOKIE);
        }
    }
}

URLTaskSession::~URLTaskSession() {
    // Every hop holds the session, so no easy handle uses the share handle any more.
    if (cookies_ != nullptr) {
        curl_share_cleanup(cookies_);
    }
}

std::shared_ptr<URLSessionTask> URLTaskSession::makeTask(URLSessionTask::Kind kind,
                                                         URLRequest request) {
    std::lock_guard lock(mutex_);
    if (invalidated_) {
        return nullptr;
    }
    return std::make_shared<URLSessionTask>(URLSessionTask::Passkey(), weak_from_this(), kind,
                                            std::move(request));
}

std::shared_ptr<URLSessionTask> URLTaskSession::dataTask(URLRequest request) {
    return makeTask(URLSessionTask::Kind::kData, std::move(request));
}

std::shared_ptr<URLSessionTask> URLTaskSession::uploadTask(URLRequest request, std::string body) {
    request.body = std::move(body);
    return makeTask(URLSessionTask::Kind::kUpload, std::move(request));
}

std::shared_ptr<URLSessionTask> URLTaskSession::uploadTask(URLRequest request,
                                                           std::filesystem::path file) {
    request.body.reset();
    std::shared_ptr<URLSessionTask> task =
        makeTask(URLSessionTask::Kind::kUpload, std::move(request));
    if (task) {
        task->bodyFile_ = std::move(file);
    }
    return task;
}

std::shared_ptr<URLSessionTask> URLTaskSession::downloadTask(URLRequest request) {
    return makeTask(URLSessionTask::Kind::kDownload, std::move(request));
}

void URLTaskSession::finishTasksAndInvalidate() {
    {
        std::lock_guard lock(mutex_);
        if (invalidated_) {
            return;
        }
        invalidated_ = true;
        if (runningTasks_ != 0) {
            return;  // the last task to end releases the delegate
        }
    }
    delegateQueue_->async([self = shared_from_this()] { self->releaseDelegateIfDone(); });
}

std::shared_ptr<URLSessionDelegate> URLTaskSession::currentDelegate() const {
    std::lock_guard lock(mutex_);
    return delegate_;
}

void URLTaskSession::resumeTask(const std::shared_ptr<URLSessionTask>& task) {
    {
        std::lock_guard lock(mutex_);
        ++runningTasks_;
    }
    // The whole task ends by the request's own timeout, or the session's limit when shorter.
    const std::chrono::milliseconds limit = std::max(
        std::min(task->originalRequest_.timeout, configuration_.timeoutIntervalForResource),
        std::chrono::milliseconds(1));
    task->deadline_ = std::chrono::steady_clock::now() + limit;
    task->origin_ = urlsession_detail::originOf(task->originalRequest_.url).value_or("");
    URLRequest request = task->originalRequest_;
    TransferEngine::instance().post(
        [self = shared_from_this(), task, request = std::move(request)]() mutable {
            self->startHop(task, std::move(request));
        });
}

void URLTaskSession::startHop(const std::shared_ptr<URLSessionTask>& task, URLRequest request) {
    auto hop = std::make_shared<URLTaskHop>(shared_from_this(), task, std::move(request));
    if (std::optional<URLSessionError> failure = hop->configure()) {
        finishTask(task, std::nullopt, {}, std::move(failure));
        return;
    }
    TransferEngine::instance().start(std::move(hop));
}

void URLTaskSession::hopFinished(URLTaskHop& hop, int code) {
    const auto result = static_cast<CURLcode>(code);
    CURL* easy = hop.easyHandle.get();
    long status = 0;
    curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
    std::optional<HTTPURLResponse> response;
    if (status != 0) {
        char* url = nullptr;
        curl_easy_getinfo(easy, CURLINFO_EFFECTIVE_URL, &url);
        response = HTTPURLResponse{url != nullptr ? url : hop.request.url, status,
                                   std::move(hop.responseHeaders)};
    }
    if (result != CURLE_OK) {
        // A body past the cap ends with one code, whether its length was announced or not.
        const bool tooLarge = hop.body.tooLarge || result == CURLE_FILESIZE_EXCEEDED;
        std::string message =
            tooLarge ? "the response body is larger than allowed" : curl_easy_strerror(result);
        finishTask(
            hop.task, std::move(response), std::move(hop.body.bytes),
            URLSessionError{tooLarge ? kURLSessionErrorResponseTooLarge : static_cast<long>(result),
                            std::move(message), result == CURLE_PEER_FAILED_VERIFICATION});
        return;
    }
    char* location = nullptr;
    curl_easy_getinfo(easy, CURLINFO_REDIRECT_URL, &location);
    // A redirect from https to plain http is never followed: it ends the task as it is.
    if (status >= 300 && status < 400 && location != nullptr &&
        hop.task->redirectsFollowed_ < kMaxRedirects &&
        !urlsession_detail::isDowngrade(hop.request.url, location)) {
        askRedirect(
            hop.task, std::move(*response),
            urlsession_detail::redirectedRequest(hop.request, status, location, hop.task->origin_),
            std::move(hop.body.bytes));
        return;
    }
    finishTask(hop.task, std::move(response), std::move(hop.body.bytes), std::nullopt);
}

void URLTaskSession::askRedirect(const std::shared_ptr<URLSessionTask>& task,
                                 HTTPURLResponse response, URLRequest proposed, std::string body) {
    delegateQueue_->async([self = shared_from_this(), task, response = std::move(response),
                           proposed = std::move(proposed), body = std::move(body)]() mutable {
        auto decide = [self, task, response, body](std::optional<URLRequest> next) mutable {
            TransferEngine::instance().post([self, task, response = std::move(response),
                                             body = std::move(body),
                                             next = std::move(next)]() mutable {
                if (next &&
                    !urlsession_detail::isDowngrade(task->originalRequest_.url, next->url)) {
                    ++task->redirectsFollowed_;
                    self->leaveOriginIfNeeded(*task, *next);
                    self->startHop(task, std::move(*next));
                } else {
                    self->finishTask(task, std::move(response), std::move(body), std::nullopt);
                }
            });
        };
        std::shared_ptr<URLSessionDelegate> delegate = self->currentDelegate();
        if (delegate) {
            delegate->willPerformHTTPRedirection(*self, *task, response, std::move(proposed),
                                                 std::move(decide));
        } else {
            decide(std::move(proposed));
        }
    });
}

// On the engine thread: once a task goes to another origin, its credentials stay behind, for
// this hop and every later one.
void URLTaskSession::leaveOriginIfNeeded(URLSessionTask& task, URLRequest& request) {
    if (!task.leftOrigin_ && urlsession_detail::originOf(request.url) == task.origin_) {
        return;
    }
    task.leftOrigin_ = true;
    std::erase_if(request.headers,
                  [](const auto& header) { return isCredentialHeader(header.first); });
}

void URLTaskSession::finishTask(const std::shared_ptr<URLSessionTask>& task,
                                std::optional<HTTPURLResponse> response, std::string body,
                                std::optional<URLSessionError> error) {
    {
        std::lock_guard lock(task->mutex_);
        task->state_ = URLSessionTask::State::kCompleted;
        task->response_ = std::move(response);
    }
    delegateQueue_->async(
        [self = shared_from_this(), task, body = std::move(body), error = std::move(error)] {
            self->deliver(task, body, error);
            self->taskEnded();
        });
}

// On the delegate queue: the body, then the completion.
void URLTaskSession::deliver(const std::shared_ptr<URLSessionTask>& task, const std::string& body,
                             const std::optional<URLSessionError>& error) {
    std::shared_ptr<URLSessionDelegate> delegate = currentDelegate();
    if (!delegate) {
        return;
    }
    if (task->kind() != URLSessionTask::Kind::kDownload) {
        if (!body.empty()) {
            delegate->didReceiveData(*this, *task, body);
        }
    } else if (task->response()) {
        std::filesystem::path location =
            std::filesystem::temp_directory_path() / "urlsession-download-XXXXXX";
        std::string pattern = location.string();
        const int fd = mkstemp(pattern.data());
        if (fd >= 0) {
            const bool written =
                ::write(fd, body.data(), body.size()) == static_cast<ssize_t>(body.size());
            ::close(fd);
            delegate->didFinishDownloading(
                *this, *task, written ? std::filesystem::path(pattern) : std::filesystem::path());
            std::filesystem::remove(pattern);
        } else {
            delegate->didFinishDownloading(*this, *task, std::filesystem::path());
        }
    }
    delegate->didComplete(*this, *task, error);
}

// On the delegate queue, after a task's last call.
void URLTaskSession::taskEnded() {
    {
        std::lock_guard lock(mutex_);
        --runningTasks_;
    }
    releaseDelegateIfDone();
}

// On the delegate queue.
void URLTaskSession::releaseDelegateIfDone() {
    std::shared_ptr<URLSessionDelegate> released;
    {
        std::lock_guard lock(mutex_);
        if (!invalidated_ || runningTasks_ != 0 || !delegate_) {
            return;
        }
        released = std::move(delegate_);
    }
    released->didBecomeInvalid(*this);
}

}  // namespace platform
