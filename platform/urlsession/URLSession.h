#pragma once

#include <functional>
#include <memory>

#include "platform/urlsession/URLRequest.h"

namespace platform {

// Sends HTTP requests over libcurl, in place of the platform's URL session. All transfers of a
// session run concurrently on the session's one thread, which owns the libcurl handles; callers
// never block.
//
// Design notes:
// 1. send() only queues the request and wakes the session thread; that thread starts it, drives
//    every transfer, and calls each completion exactly once, when its transfer ends.
// 2. The destructor stops the thread: transfers still running or queued end with `cancelled`
//    (their completions run on the session thread before the destructor returns).
// 3. TLS peers are verified; no cookies, cache or credentials are kept between transfers.
//
// Thread-safety: send() may be called from any thread, also from a completion.
class URLSession {
  public:
    // Called once with the transfer's outcome, on the session thread. It must not block for long
    // (every other transfer of the session waits meanwhile) and must not throw.
    using Completion = std::function<void(URLOutcome)>;

    URLSession();
    ~URLSession();

    URLSession(const URLSession&) = delete;
    URLSession& operator=(const URLSession&) = delete;

    // Returns the session of the process, created on first use (thread-safe). It lives until the
    // process exits.
    static URLSession& shared();

    // Starts `request` soon and returns at once. `completion` receives the outcome; a request
    // that cannot be sent (see URLErrorCode::unsupportedURL) ends with an error the same way.
    void send(URLRequest request, Completion completion);

  private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace platform
