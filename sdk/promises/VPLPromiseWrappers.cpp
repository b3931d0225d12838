// The completion wrappers: adapters from completion-handler interfaces to promises. Each one
// runs its work through `async` with a handler that turns the handler's arguments into one
// settling call; the promise's settle-once rule makes later handler calls harmless.

#include <utility>

#include "sdk/promises/VPLAssert.h"
#include "sdk/promises/VPLPromise.h"

namespace {

using Ptr = VPLPromise::Ptr;
using Queue = VPLPromise::Queue;
using Fulfill = VPLPromise::Fulfill;
using Reject = VPLPromise::Reject;

// Runs `work` on `queue` with the handler that `makeHandler(fulfill, reject)` builds.
template <typename Handler, typename MakeHandler>
Ptr wrap(const Queue& queue, VPLPromise::WrapWork<Handler> work, MakeHandler makeHandler) {
    if (!VPLRequireParameter(queue != nullptr, "queue") ||
        !VPLRequireParameter(static_cast<bool>(work), "work")) {
        return nullptr;
    }
    return VPLPromise::async(queue,
                             [work = std::move(work), makeHandler](Fulfill fulfill, Reject reject) {
                                 work(makeHandler(std::move(fulfill), std::move(reject)));
                             });
}

// Rejects with `error` when it is a failure, else fulfils with `value`.
void settleWith(const Fulfill& fulfill, const Reject& reject, const sdk::Error& error,
                VPLValue value) {
    if (!error.ok()) {
        reject(error);
        return;
    }
    fulfill(std::move(value));
}

VPLValue nilAsNull(VPLValue value) {
    return value.isNil() ? VPLValue(sdk::Value()) : value;
}

}  // namespace

Ptr VPLPromise::wrapCompletion(WrapWork<Completion> work) {
    return wrapCompletion(defaultDispatchQueue(), std::move(work));
}

Ptr VPLPromise::wrapCompletion(const Queue& queue, WrapWork<Completion> work) {
    return wrap(queue, std::move(work), [](Fulfill fulfill, Reject) -> Completion {
        return [fulfill] { fulfill(VPLValue()); };
    });
}

Ptr VPLPromise::wrapObjectCompletion(WrapWork<ObjectCompletion> work) {
    return wrapObjectCompletion(defaultDispatchQueue(), std::move(work));
}

Ptr VPLPromise::wrapObjectCompletion(const Queue& queue, WrapWork<ObjectCompletion> work) {
    return wrap(queue, std::move(work), [](Fulfill fulfill, Reject) -> ObjectCompletion {
        return [fulfill](VPLValue object) { fulfill(std::move(object)); };
    });
}

Ptr VPLPromise::wrapErrorCompletion(WrapWork<ErrorCompletion> work) {
    return wrapErrorCompletion(defaultDispatchQueue(), std::move(work));
}

Ptr VPLPromise::wrapErrorCompletion(const Queue& queue, WrapWork<ErrorCompletion> work) {
    return wrap(queue, std::move(work), [](Fulfill fulfill, Reject reject) -> ErrorCompletion {
        return
            [fulfill, reject](sdk::Error error) { settleWith(fulfill, reject, error, VPLValue()); };
    });
}

Ptr VPLPromise::wrapObjectOrErrorCompletion(WrapWork<ObjectOrErrorCompletion> work) {
    return wrapObjectOrErrorCompletion(defaultDispatchQueue(), std::move(work));
}

Ptr VPLPromise::wrapObjectOrErrorCompletion(const Queue& queue,
                                            WrapWork<ObjectOrErrorCompletion> work) {
    return wrap(queue, std::move(work),
                [](Fulfill fulfill, Reject reject) -> ObjectOrErrorCompletion {
                    return [fulfill, reject](VPLValue object, sdk::Error error) {
                        settleWith(fulfill, reject, error, std::move(object));
                    };
                });
}

Ptr VPLPromise::wrapErrorOrObjectCompletion(WrapWork<ErrorOrObjectCompletion> work) {
    return wrapErrorOrObjectCompletion(defaultDispatchQueue(), std::move(work));
}

Ptr VPLPromise::wrapErrorOrObjectCompletion(const Queue& queue,
                                            WrapWork<ErrorOrObjectCompletion> work) {
    return wrap(queue, std::move(work),
                [](Fulfill fulfill, Reject reject) -> ErrorOrObjectCompletion {
                    return [fulfill, reject](sdk::Error error, VPLValue object) {
                        settleWith(fulfill, reject, error, std::move(object));
                    };
                });
}

Ptr VPLPromise::wrap2ObjectsOrErrorCompletion(WrapWork<TwoObjectsOrErrorCompletion> work) {
    return wrap2ObjectsOrErrorCompletion(defaultDispatchQueue(), std::move(work));
}

Ptr VPLPromise::wrap2ObjectsOrErrorCompletion(const Queue& queue,
                                              WrapWork<TwoObjectsOrErrorCompletion> work) {
    return wrap(
        queue, std::move(work), [](Fulfill fulfill, Reject reject) -> TwoObjectsOrErrorCompletion {
            return [fulfill, reject](VPLValue first, VPLValue second, sdk::Error error) {
                settleWith(
                    fulfill, reject, error,
                    VPLValue::List{nilAsNull(std::move(first)), nilAsNull(std::move(second))});
            };
        });
}

Ptr VPLPromise::wrapBoolCompletion(WrapWork<BoolCompletion> work) {
    return wrapBoolCompletion(defaultDispatchQueue(), std::move(work));
}

Ptr VPLPromise::wrapBoolCompletion(const Queue& queue, WrapWork<BoolCompletion> work) {
    return wrap(queue, std::move(work), [](Fulfill fulfill, Reject) -> BoolCompletion {
        return [fulfill](bool value) { fulfill(sdk::Value(value)); };
    });
}

Ptr VPLPromise::wrapBoolOrErrorCompletion(WrapWork<BoolOrErrorCompletion> work) {
    return wrapBoolOrErrorCompletion(defaultDispatchQueue(), std::move(work));
}

Ptr VPLPromise::wrapBoolOrErrorCompletion(const Queue& queue,
                                          WrapWork<BoolOrErrorCompletion> work) {
    return wrap(queue, std::move(work),
                [](Fulfill fulfill, Reject reject) -> BoolOrErrorCompletion {
                    return [fulfill, reject](bool value, sdk::Error error) {
                        settleWith(fulfill, reject, error, sdk::Value(value));
                    };
                });
}

Ptr VPLPromise::wrapIntegerCompletion(WrapWork<IntegerCompletion> work) {
    return wrapIntegerCompletion(defaultDispatchQueue(), std::move(work));
}

Ptr VPLPromise::wrapIntegerCompletion(const Queue& queue, WrapWork<IntegerCompletion> work) {
    return wrap(queue, std::move(work), [](Fulfill fulfill, Reject) -> IntegerCompletion {
        return [fulfill](std::int64_t value) { fulfill(sdk::Value(value)); };
    });
}

Ptr VPLPromise::wrapIntegerOrErrorCompletion(WrapWork<IntegerOrErrorCompletion> work) {
    return wrapIntegerOrErrorCompletion(defaultDispatchQueue(), std::move(work));
}

Ptr VPLPromise::wrapIntegerOrErrorCompletion(const Queue& queue,
                                             WrapWork<IntegerOrErrorCompletion> work) {
    return wrap(queue, std::move(work),
                [](Fulfill fulfill, Reject reject) -> IntegerOrErrorCompletion {
                    return [fulfill, reject](std::int64_t value, sdk::Error error) {
                        settleWith(fulfill, reject, error, sdk::Value(value));
                    };
                });
}

Ptr VPLPromise::wrapDoubleCompletion(WrapWork<DoubleCompletion> work) {
    return wrapDoubleCompletion(defaultDispatchQueue(), std::move(work));
}

Ptr VPLPromise::wrapDoubleCompletion(const Queue& queue, WrapWork<DoubleCompletion> work) {
    return wrap(queue, std::move(work), [](Fulfill fulfill, Reject) -> DoubleCompletion {
        return [fulfill](double value) { fulfill(sdk::Value(value)); };
    });
}

Ptr VPLPromise::wrapDoubleOrErrorCompletion(WrapWork<DoubleOrErrorCompletion> work) {
    return wrapDoubleOrErrorCompletion(defaultDispatchQueue(), std::move(work));
}

Ptr VPLPromise::wrapDoubleOrErrorCompletion(const Queue& queue,
                                            WrapWork<DoubleOrErrorCompletion> work) {
    return wrap(queue, std::move(work),
                [](Fulfill fulfill, Reject reject) -> DoubleOrErrorCompletion {
                    return [fulfill, reject](double value, sdk::Error error) {
                        settleWith(fulfill, reject, error, sdk::Value(value));
                    };
                });
}
