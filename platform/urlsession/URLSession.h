#pragma once

#include <functional>
#include <memory>

#include "platform/urlsession/URLRequest.h"

namespace platform {

// Sends HTTP requests over libcurl, in place of the platform's URL session, for callers that
// want one outcome per request (URLTaskSession is the delegate-based form). All transfers run
// concurrently on the layer's one transfer thread, which owns the libcurl handles; callers
// never block.
//
// Design notes:
// 1. send() sets the request up and hands it to the transfer thread, which drives it and calls
//    its completion exactly once, when it ends (also for a request that cannot be sent).
// 2. The destructor cancels the session's transfers still running or queued: they end with
//    `cancelled`, their completions run on the transfer thread before the destructor returns;
//    a send() after that ends at once with `cancelled`, on the caller's thread.
// 3. TLS peers are verified; no cookies, cache or credentials are kept between transfers;
//    redirects to http and https addresses are followed (up to 16), never from https to http;
//    once a redirect leaves the first origin, credential fields (Authorization, API keys,
//    Cookie) are not sent any more. `timeout` bounds the whole exchange, redirects included.
// 4. A request whose header fields hold CR, LF or NUL ends with `failed` before anything is
//    sent; a request that is not idempotent (a POST) goes on a connection of its own, so the
//    transfer library never sends it twice.
//
// Thread-safety: send() may be called from any thread, also from a completion.
class URLSession {
  public:
    // Called once with the transfer's outcome, on the transfer thread. It must not block for
    // long (every other transfer waits meanwhile) and must not throw.
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
    friend struct Transfer;
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace platform
