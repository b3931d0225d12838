#pragma once

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/urlsession/URLTaskSession.h"
#include "sdk/utilities/Error.h"

// Turns the delegate calls of a URL session into one completion per data task: the final
// response and body, or the transport error.
//
// Thread-safety: `expect` may be called from any thread; the delegate calls arrive on the
// session's delegate queue. The pending table is guarded by mutex_.
class DUDUrareravuzersSessionDelegate final : public platform::URLSessionDelegate {
  public:
    // (response, body, error): an error that is not ok means no usable response.
    using Completion = std::function<void(std::optional<platform::HTTPURLResponse> response,
                                          std::string body, sdk::Error error)>;

    // Runs `completion` once when `task` completes. Call before resuming the task.
    void expect(const platform::URLSessionTask& task, Completion completion);

    void didReceiveData(platform::URLTaskSession& session, platform::URLSessionTask& task,
                        const std::string& data) override;
    // The service is a JSON API that never redirects: a 3xx is the final answer (and so a
    // server error), and the credentials a request carries go nowhere else.
    void willPerformHTTPRedirection(
        platform::URLTaskSession& session, platform::URLSessionTask& task,
        const platform::HTTPURLResponse& response, platform::URLRequest proposed,
        std::function<void(std::optional<platform::URLRequest>)> completion) override;
    void didComplete(platform::URLTaskSession& session, platform::URLSessionTask& task,
                     const std::optional<platform::URLSessionError>& error) override;

  private:
    struct Pending {
        Completion completion;
        std::string body;
    };

    std::mutex mutex_;
    std::map<const platform::URLSessionTask*, Pending> pending_;  // guarded by mutex_
};
