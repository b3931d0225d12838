// The instance operators: then, catch, recover, always, validate, reduce, delay and timeout.
// Each is a chain or an observation of the receiver; none keeps state beyond its callables.

#include <utility>

#include "platform/dispatch/Clock.h"
#include "sdk/promises/VPLAssert.h"
#include "sdk/promises/VPLPromise.h"
#include "sdk/promises/VPLPromiseError.h"

VPLPromise::Ptr VPLPromise::then(Work work) {
    return then(defaultDispatchQueue(), std::move(work));
}

VPLPromise::Ptr VPLPromise::then(const Queue& queue, Work work) {
    if (!VPLRequireParameter(queue != nullptr, "queue") ||
        !VPLRequireParameter(static_cast<bool>(work), "work")) {
        return nullptr;
    }
    return chainOnQueue(queue, std::move(work), nullptr);
}

VPLPromise::Ptr VPLPromise::catchError(CatchHandler reject) {
    return catchError(defaultDispatchQueue(), std::move(reject));
}

VPLPromise::Ptr VPLPromise::catchError(const Queue& queue, CatchHandler reject) {
    if (!VPLRequireParameter(queue != nullptr, "queue") ||
        !VPLRequireParameter(static_cast<bool>(reject), "reject")) {
        return nullptr;
    }
    return chainOnQueue(queue, nullptr, [reject = std::move(reject)](const sdk::Error& error) {
        reject(error);
        return VPLValue(error);
    });
}

VPLPromise::Ptr VPLPromise::recover(Recovery recovery) {
    return recover(defaultDispatchQueue(), std::move(recovery));
}

VPLPromise::Ptr VPLPromise::recover(const Queue& queue, Recovery recovery) {
    if (!VPLRequireParameter(queue != nullptr, "queue") ||
        !VPLRequireParameter(static_cast<bool>(recovery), "recovery")) {
        return nullptr;
    }
    return chainOnQueue(queue, nullptr, std::move(recovery));
}

VPLPromise::Ptr VPLPromise::always(AlwaysWork work) {
    return always(defaultDispatchQueue(), std::move(work));
}

VPLPromise::Ptr VPLPromise::always(const Queue& queue, AlwaysWork work) {
    if (!VPLRequireParameter(queue != nullptr, "queue") ||
        !VPLRequireParameter(static_cast<bool>(work), "work")) {
        return nullptr;
    }
    // Only one of the two transforms ever runs, so they may share the callable.
    return chainOnQueue(
        queue,
        [work](const VPLValue& value) {
            work();
            return value;
        },
        [work](const sdk::Error& error) {
            work();
            return VPLValue(error);
        });
}

VPLPromise::Ptr VPLPromise::validate(Predicate predicate) {
    return validate(defaultDispatchQueue(), std::move(predicate));
}

VPLPromise::Ptr VPLPromise::validate(const Queue& queue, Predicate predicate) {
    if (!VPLRequireParameter(queue != nullptr, "queue") ||
        !VPLRequireParameter(static_cast<bool>(predicate), "predicate")) {
        return nullptr;
    }
    return chainOnQueue(
        queue,
        [predicate = std::move(predicate)](const VPLValue& value) {
            return predicate(value)
                       ? value
                       : VPLValue(VPLPromiseError(VPLPromiseErrorCode::kValidationFailure));
        },
        nullptr);
}

VPLPromise::Ptr VPLPromise::reduce(VPLValue::List items, Reducer reducer) {
    return reduce(defaultDispatchQueue(), std::move(items), std::move(reducer));
}

VPLPromise::Ptr VPLPromise::reduce(const Queue& queue, VPLValue::List items, Reducer reducer) {
    if (!VPLRequireParameter(queue != nullptr, "queue") ||
        !VPLRequireParameter(static_cast<bool>(reducer), "reducer")) {
        return nullptr;
    }
    Ptr step = shared_from_this();
    for (VPLValue& item : items) {
        step = step->chainOnQueue(
            queue,
            [reducer, item = std::move(item)](const VPLValue& partial) {
                return reducer(partial, item);
            },
            nullptr);
    }
    return step;
}

VPLPromise::Ptr VPLPromise::delay(double interval) {
    return delay(defaultDispatchQueue(), interval);
}

VPLPromise::Ptr VPLPromise::delay(const Queue& queue, double interval) {
    if (!VPLRequireParameter(queue != nullptr, "queue")) {
        return nullptr;
    }
    Ptr delayed = pendingPromise();
    const platform::Clock::duration wait = platform::durationFromSeconds(interval);
    observeOnQueue(
        queue,
        [delayed, queue, wait](const VPLValue& value) {
            queue->after(wait, [delayed, value] { delayed->fulfill(value); });
        },
        [delayed](const sdk::Error& error) { delayed->reject(error); });
    return delayed;
}

VPLPromise::Ptr VPLPromise::timeout(double interval) {
    return timeout(defaultDispatchQueue(), interval);
}

VPLPromise::Ptr VPLPromise::timeout(const Queue& queue, double interval) {
    if (!VPLRequireParameter(queue != nullptr, "queue")) {
        return nullptr;
    }
    Ptr bounded = pendingPromise();
    observeOnQueue(
        queue, [bounded](const VPLValue& value) { bounded->fulfill(value); },
        [bounded](const sdk::Error& error) { bounded->reject(error); });
    // The timer is never cancelled; it holds the result weakly so that it keeps nothing alive.
    std::weak_ptr<VPLPromise> weakBounded = bounded;
    queue->after(platform::durationFromSeconds(interval), [weakBounded] {
        if (Ptr alive = weakBounded.lock()) {
            alive->reject(VPLPromiseError(VPLPromiseErrorCode::kTimedOut));
        }
    });
    return bounded;
}
