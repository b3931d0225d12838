#include "sdk/installations/DUDUrareravuzersSessionDelegate.h"

#include <utility>

#include "sdk/utilities/VDUNetworkError.h"

void DUDUrareravuzersSessionDelegate::expect(const platform::URLSessionTask& task,
                                             Completion completion) {
    std::lock_guard lock(mutex_);
    pending_[&task] = Pending{std::move(completion), {}};
}

void DUDUrareravuzersSessionDelegate::didReceiveData(platform::URLTaskSession&,
                                                     platform::URLSessionTask& task,
                                                     const std::string& data) {
    std::lock_guard lock(mutex_);
    if (auto found = pending_.find(&task); found != pending_.end()) {
        found->second.body += data;
    }
}

void DUDUrareravuzersSessionDelegate::willPerformHTTPRedirection(
    platform::URLTaskSession&, platform::URLSessionTask&, const platform::HTTPURLResponse&,
    platform::URLRequest, std::function<void(std::optional<platform::URLRequest>)> completion) {
    completion(std::nullopt);
}

void DUDUrareravuzersSessionDelegate::didComplete(
    platform::URLTaskSession&, platform::URLSessionTask& task,
    const std::optional<platform::URLSessionError>& error) {
    Pending pending;
    {
        std::lock_guard lock(mutex_);
        auto found = pending_.find(&task);
        if (found == pending_.end()) {
            return;
        }
        pending = std::move(found->second);
        pending_.erase(found);
    }
    std::optional<platform::HTTPURLResponse> response = task.response();
    // A response whose body did not arrive whole (cut short, past the cap, stalled) is a
    // transport failure too.
    if (error || !response) {
        const platform::URLSessionError failure =
            error.value_or(platform::URLSessionError{0, "no response", false});
        pending.completion(std::nullopt, {},
                           VDUNetworkTransportError(failure.code, failure.message));
        return;
    }
    pending.completion(std::move(response), std::move(pending.body), sdk::Error());
}
