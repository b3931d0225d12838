#pragma once

#include <cstddef>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/dispatch/DispatchQueue.h"
#include "platform/urlsession/URLRequest.h"
#include "platform/urlsession/URLSessionTypes.h"

namespace platform {

class URLTaskSession;
class URLSessionTask;
class URLTaskHop;

// What a URLTaskSession tells about its tasks. Every call arrives on the session's delegate
// queue, in the order the events happened; the defaults do nothing (redirects: follow).
class URLSessionDelegate {
  public:
    virtual ~URLSessionDelegate() = default;

    // Data and upload tasks: the body of the final response, in one piece, before
    // didComplete. Not called for an empty body.
    virtual void didReceiveData(URLTaskSession&, URLSessionTask&, const std::string& /*data*/) {}

    // Download tasks that received a response: the final body in a file, which is removed
    // when this returns.
    virtual void didFinishDownloading(URLTaskSession&, URLSessionTask&,
                                      const std::filesystem::path& /*location*/) {}

    // A response with a 3xx status and a Location (never one from https to http, which ends
    // the task). `proposed` is the next request: 303 (and a POST answered by 301 or 302)
    // becomes a GET without body, the others keep method and body; at another origin than the
    // task's first, its credential fields are already left out (and are left out of whatever
    // request the delegate follows with). Calling `completion` with a request follows the
    // redirect with it; calling it with no value makes `response` the task's final response.
    // `completion` may be called later, from any thread, and must be called once.
    virtual void willPerformHTTPRedirection(
        URLTaskSession&, URLSessionTask&, const HTTPURLResponse& /*response*/, URLRequest proposed,
        std::function<void(std::optional<URLRequest>)> completion) {
        completion(std::move(proposed));
    }

    // The task ended: with a response (see URLSessionTask::response) and no error, or with a
    // transport error. A transfer that failed after the response head arrived (a body cut
    // short, past its cap, stalled or past the deadline) has both, and its body is not whole.
    virtual void didComplete(URLTaskSession&, URLSessionTask&,
                             const std::optional<URLSessionError>& /*error*/) {}

    // After finishTasksAndInvalidate, once the last task's didComplete has returned. The
    // session releases its delegate right after.
    virtual void didBecomeInvalid(URLTaskSession&) {}
};

// One request of a URLTaskSession: made suspended, started with resume().
//
// Thread-safety: every member function may be called from any thread.
class URLSessionTask : public std::enable_shared_from_this<URLSessionTask> {
  public:
    enum class Kind { kData, kUpload, kDownload };
    enum class State { kSuspended, kRunning, kCompleted };

    Kind kind() const { return kind_; }
    const URLRequest& originalRequest() const { return originalRequest_; }
    State state() const;
    // The final response once the task has completed with one; no value before.
    std::optional<HTTPURLResponse> response() const;

    // Starts a suspended task; does nothing otherwise, or when its session is gone.
    void resume();

    // Public only for std::make_shared; sessions make tasks.
    struct Passkey {
        explicit Passkey() = default;
    };
    URLSessionTask(Passkey, std::weak_ptr<URLTaskSession> session, Kind kind, URLRequest request);

  private:
    friend class URLTaskSession;
    friend class URLTaskHop;

    const std::weak_ptr<URLTaskSession> session_;
    const Kind kind_;
    const URLRequest originalRequest_;
    std::optional<std::filesystem::path> bodyFile_;  // upload from a file; set before resume

    mutable std::mutex mutex_;
    State state_ = State::kSuspended;          // guarded by mutex_
    std::optional<HTTPURLResponse> response_;  // guarded by mutex_

    // Set by resume() before the transfer thread sees the task, then used there only.
    std::size_t redirectsFollowed_ = 0;
    std::chrono::steady_clock::time_point deadline_{};
    std::string origin_;       // scheme, host and port of the original request
    bool leftOrigin_ = false;  // a followed redirect went to another origin
};

// A set of tasks sharing a configuration and a delegate, in place of a platform URL session.
// All transfers of all sessions run on one thread of this layer (one libcurl multi handle);
// TLS peers and host names are verified against the system's certificates; nothing is cached.
// A task ends by its request's `timeout`, or the configuration's resource timeout when that is
// shorter; the configuration's request timeout bounds connecting and each wait for data. A
// request's `maxResponseBytes` caps its body. A task whose header fields hold CR, LF or NUL
// ends with an error before anything is sent. A request that is not idempotent (a POST) goes
// on a connection of its own, so the transfer library never sends it twice.
//
// Redirects are decided by the delegate, within these rules: a redirect from https to http is
// never followed (the 3xx ends the task); once a task goes to another origin (scheme, host or
// port), its credential fields (Authorization, API keys, Cookie; see isCredentialHeader) and
// the session's cookies are not sent any more, whatever the delegate proposes.
//
// Design notes:
// 1. The session holds its delegate strongly until it is invalidated and its last task is
//    done; a running task holds its session.
// 2. A task's events reach the delegate on the delegate queue: at most one didReceiveData or
//    didFinishDownloading, then didComplete exactly once.
// 3. After finishTasksAndInvalidate no new task can be made; running tasks finish.
//
// Thread-safety: every member function may be called from any thread.
class URLTaskSession : public std::enable_shared_from_this<URLTaskSession> {
  public:
    // Makes a session. `delegateQueue` receives every delegate call (the main queue when null).
    static std::shared_ptr<URLTaskSession> create(URLSessionConfiguration configuration,
                                                  std::shared_ptr<URLSessionDelegate> delegate,
                                                  QueueRef delegateQueue = nullptr);

    ~URLTaskSession();
    URLTaskSession(const URLTaskSession&) = delete;
    URLTaskSession& operator=(const URLTaskSession&) = delete;

    const URLSessionConfiguration& configuration() const { return configuration_; }

    // Each returns a suspended task, or null once the session is invalidated.
    // A data task sends `request` as it is (its body, if any).
    std::shared_ptr<URLSessionTask> dataTask(URLRequest request);
    // Sends `body` in place of the request's body.
    std::shared_ptr<URLSessionTask> uploadTask(URLRequest request, std::string body);
    // Streams the file at `file` as the body; a file that cannot be opened ends the task with
    // an error.
    std::shared_ptr<URLSessionTask> uploadTask(URLRequest request, std::filesystem::path file);
    // Delivers the body through didFinishDownloading.
    std::shared_ptr<URLSessionTask> downloadTask(URLRequest request);

    // Lets running tasks finish, then tells the delegate and releases it; refuses new tasks.
    void finishTasksAndInvalidate();

    // Public only for std::make_shared; use create().
    struct Passkey {
        explicit Passkey() = default;
    };
    URLTaskSession(Passkey, URLSessionConfiguration configuration,
                   std::shared_ptr<URLSessionDelegate> delegate, QueueRef delegateQueue);

  private:
    friend class URLSessionTask;
    friend class URLTaskHop;

    std::shared_ptr<URLSessionTask> makeTask(URLSessionTask::Kind kind, URLRequest request);
    void resumeTask(const std::shared_ptr<URLSessionTask>& task);
    void startHop(const std::shared_ptr<URLSessionTask>& task, URLRequest request);
    void hopFinished(URLTaskHop& hop, int result);
    void leaveOriginIfNeeded(URLSessionTask& task, URLRequest& request);
    void askRedirect(const std::shared_ptr<URLSessionTask>& task, HTTPURLResponse response,
                     URLRequest proposed, std::string body);
    void finishTask(const std::shared_ptr<URLSessionTask>& task,
                    std::optional<HTTPURLResponse> response, std::string body,
                    std::optional<URLSessionError> error);
    void deliver(const std::shared_ptr<URLSessionTask>& task, const std::string& body,
                 const std::optional<URLSessionError>& error);
    void taskEnded();
    void releaseDelegateIfDone();
    std::shared_ptr<URLSessionDelegate> currentDelegate() const;

    const URLSessionConfiguration configuration_;
    const QueueRef delegateQueue_;
    void* cookies_ = nullptr;  // libcurl share handle; null for ephemeral sessions

    mutable std::mutex mutex_;
    std::shared_ptr<URLSessionDelegate> delegate_;  // guarded by mutex_
    bool invalidated_ = false;                      // guarded by mutex_
    std::size_t runningTasks_ = 0;                  // guarded by mutex_
};

// Test hook: HTTPS transfers of both sessions of this layer started later also trust the
// certificates in the PEM file at `caFile` (besides the system's); an empty path removes the extra
// file.
void TEST_setExtraCertificateAuthorities(std::filesystem::path caFile);

}  // namespace platform
