// The class operators that start work on a queue: async, do and the retry family; and the
// blocking await.

#include <memory>
#include <utility>

#include "platform/dispatch/Clock.h"
#include "platform/dispatch/DispatchSemaphore.h"
#include "sdk/promises/VPLAssert.h"
#include "sdk/promises/VPLPromise.h"
#include "sdk/utilities/Fatal.h"

VPLPromise::Ptr VPLPromise::async(AsyncWork work) {
    return async(defaultDispatchQueue(), std::move(work));
}

VPLPromise::Ptr VPLPromise::async(const Queue& queue, AsyncWork work) {
    if (!VPLRequireParameter(queue != nullptr, "queue") ||
        !VPLRequireParameter(static_cast<bool>(work), "work")) {
        return nullptr;
    }
    Ptr promise = pendingPromise();
    dispatchGroup().async(queue, [promise, queue, work = std::move(work)] {
        work([promise, queue](VPLValue resolution) { resolve(promise, queue, resolution); },
             [promise](sdk::Error error) { promise->reject(std::move(error)); });
    });
    return promise;
}

VPLPromise::Ptr VPLPromise::doWork(DoWork work) {
    return doWork(defaultDispatchQueue(), std::move(work));
}

VPLPromise::Ptr VPLPromise::doWork(const Queue& queue, DoWork work) {
    if (!VPLRequireParameter(queue != nullptr, "queue") ||
        !VPLRequireParameter(static_cast<bool>(work), "work")) {
        return nullptr;
    }
    Ptr promise = pendingPromise();
    dispatchGroup().async(
        queue, [promise, queue, work = std::move(work)] { resolve(promise, queue, work()); });
    return promise;
}

namespace {

constexpr std::int64_t kDefaultRetryCount = 1;
constexpr double kDefaultRetryDelay = 1.0;

// What every attempt of one retry shares; held by the scheduled attempts and observers.
struct Retry {
    VPLPromise::Ptr promise;
    VPLPromise::Queue queue;
    platform::Clock::duration delay;
    VPLPromise::RetryCondition condition;
    VPLPromise::DoWork work;
};

void attempt(const std::shared_ptr<Retry>& retry, std::int64_t remaining);

// Settles the retry's promise from one attempt's outcome, or schedules the next attempt.
void decide(const std::shared_ptr<Retry>& retry, std::int64_t remaining, const VPLValue& outcome) {
    if (!outcome.isError()) {
        retry->promise->fulfill(outcome);
        return;
    }
    const sdk::Error error = outcome.error();
    if (remaining > 0 && (!retry->condition || retry->condition(remaining, error))) {
        retry->queue->after(retry->delay, [retry, remaining] { attempt(retry, remaining - 1); });
        return;
    }
    retry->promise->reject(error);
}

void attempt(const std::shared_ptr<Retry>& retry, std::int64_t remaining) {
    const VPLValue outcome = retry->work();
    if (VPLPromise::Ptr promise = outcome.promise()) {
        promise->observeOnQueue(
            retry->queue,
            [retry, remaining](const VPLValue& value) { decide(retry, remaining, value); },
            [retry, remaining](const sdk::Error& error) {
                decide(retry, remaining, VPLValue(error));
            });
        return;
    }
    decide(retry, remaining, outcome);
}

}  // namespace

VPLPromise::Ptr VPLPromise::retry(DoWork work) {
    return attempts(defaultDispatchQueue(), kDefaultRetryCount, kDefaultRetryDelay, nullptr,
                    std::move(work));
}

VPLPromise::Ptr VPLPromise::retry(const Queue& queue, DoWork work) {
    return attempts(queue, kDefaultRetryCount, kDefaultRetryDelay, nullptr, std::move(work));
}

VPLPromise::Ptr VPLPromise::attempts(std::int64_t count, DoWork work) {
    return attempts(defaultDispatchQueue(), count, kDefaultRetryDelay, nullptr, std::move(work));
}

VPLPromise::Ptr VPLPromise::attempts(const Queue& queue, std::int64_t count, DoWork work) {
    return attempts(queue, count, kDefaultRetryDelay, nullptr, std::move(work));
}

VPLPromise::Ptr VPLPromise::attempts(std::int64_t count, double delay, RetryCondition condition,
                                     DoWork work) {
    return attempts(defaultDispatchQueue(), count, delay, std::move(condition), std::move(work));
}

VPLPromise::Ptr VPLPromise::attempts(const Queue& queue, std::int64_t count, double delay,
                                     RetryCondition condition, DoWork work) {
    if (!VPLRequireParameter(queue != nullptr, "queue") ||
        !VPLRequireParameter(static_cast<bool>(work), "work")) {
        return nullptr;
    }
    auto retry =
        std::make_shared<Retry>(Retry{pendingPromise(), queue, platform::durationFromSeconds(delay),
                                      std::move(condition), std::move(work)});
    attempt(retry, count);
    return retry->promise;
}

VPLValue VPLPromiseAwait(const VPLPromise::Ptr& promise, sdk::Error* error) {
    if (promise == nullptr) {
        sdk::abortWithMessage("VPLPromiseAwait: assertion failed: promise");
    }
    platform::DispatchSemaphore settled(0);
    if (promise->signalWhenSettled(settled)) {
        settled.wait();
    }
    if (error != nullptr) {
        *error = promise->error();
    }
    return promise->value();
}
