#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/dispatch/DispatchGroup.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/dispatch/DispatchSemaphore.h"
#include "sdk/promises/VPLValue.h"
#include "sdk/utilities/Error.h"

// The SDK's single-assignment asynchronous result.
//
// A promise starts pending and is settled once: fulfilled with a value (any VPLValue but an
// error) or rejected with an error. Callbacks are registered with a queue and always run later
// on that queue, never on the thread that settles the promise or registers the callback; the
// default queue is the dispatch main queue.
//
// Invariants:
//  1. The state leaves kPending at most once; afterwards state_, value_ and error_ never change.
//  2. A promise is never fulfilled with an error: `fulfill` with an error rejects. So `value()`
//     is never an error, and `error()` is ok unless the promise is rejected.
//  3. Each promise made pending counts once in the class-wide dispatch group until it settles
//     or is destroyed; each callback task counts in the group until it has run. The group is
//     empty exactly when no promise is pending and no callback waits or runs.
//  4. observers_ and pendingObjects_ are empty once the promise has settled.
//  5. Destroying a promise never recurses into the promises it holds: a pending chain of any
//     length, and a value that is a promise whose value is a promise and so on, are released in
//     a loop (see releaseIteratively).
//  6. Following source_ from a pending promise never leads back to it: an adoption that would
//     close such a cycle is rejected instead.
//
// States and transitions:
//
//   (made by pendingPromise) --> kPending --fulfill(value)--------> kFulfilled
//                                   |    \--fulfill(error), reject--> kRejected
//                                   \--destroyed unsettled: leaves the group
//   (made by resolvedWith) --> kFulfilled or kRejected directly (never in the group)
//
// A settling call on a settled promise does nothing: racing producers (timeouts, the inputs of
// a combinator) lose that way.
//
// Lifetime: a promise is always owned by std::shared_ptr. A pending promise lives while
// something holds it: the caller, or the observers of another promise that will settle it
// (chaining and adoption hold it strongly).
//
// Contracts: a broken REQUIRES goes to the calling thread's SDK assertion handler, which
// throws by default (see VPLAssert.h); should an installed handler return, the call does
// nothing and a promise-making call returns null.
//
// Thread-safety: every member function may be called from any thread. Settling and observing
// are serialised per promise by its own mutex; observers only submit tasks to their queues, so
// no user code ever runs under a promise's lock.
class VPLPromise : public std::enable_shared_from_this<VPLPromise> {
  public:
    enum class State : std::int64_t { kPending = 0, kFulfilled = 1, kRejected = 2 };

    using Ptr = std::shared_ptr<VPLPromise>;
    using Queue = platform::QueueRef;

    // Callables of the core.
    using OnFulfill = std::function<void(const VPLValue& value)>;
    using OnReject = std::function<void(const sdk::Error& error)>;
    using ChainedFulfill = std::function<VPLValue(const VPLValue& value)>;
    using ChainedReject = std::function<VPLValue(const sdk::Error& error)>;

    // ---- Class-wide state ----

    // Returns the queue that callbacks run on when the caller names none: the dispatch main
    // queue unless `setDefaultDispatchQueue` replaced it.
    static Queue defaultDispatchQueue();

    // Replaces the default queue for every later call that names no queue.
    // REQUIRES: queue is not null ("queue").
    static void setDefaultDispatchQueue(Queue queue);

    // Returns the class-wide dispatch group: pending promises and waiting or running callback
    // tasks are its members.
    static const platform::DispatchGroup& dispatchGroup();

    // ---- Making promises ----

    // Returns a new pending promise (it enters the class-wide group).
    static Ptr pendingPromise();

    // Returns a new promise already settled with `resolution`: rejected when it is an error,
    // else fulfilled with it (nil included). It never enters the group.
    static Ptr resolvedWith(VPLValue resolution);

    // Returns a callable that returns `pendingPromise()`.
    static std::function<Ptr()> pending();

    // Returns a callable that returns `resolvedWith(resolution)`.
    static std::function<Ptr(VPLValue)> resolved();

    // ---- Settling ----

    // Fulfils the promise with `value`, or rejects it when `value` is an error. Does nothing
    // when the promise has already settled. A promise value is stored as it is (not adopted).
    void fulfill(VPLValue value);

    // Rejects the promise with `error`. Does nothing when the promise has already settled.
    // REQUIRES: !error.ok() (else reports "Invalid error type." and leaves the promise as it
    // is).
    void reject(sdk::Error error);

    // Keeps `object` alive until the promise settles; ignored when it has settled already.
    // REQUIRES: object is not null ("object").
    void addPendingObject(std::shared_ptr<void> object);

    // ---- Reading ----

    State state() const;
    bool isPending() const { return state() == State::kPending; }
    bool isFulfilled() const { return state() == State::kFulfilled; }
    bool isRejected() const { return state() == State::kRejected; }

    // The fulfilment value; nil unless fulfilled.
    VPLValue value() const;

    // The rejection error; ok unless rejected.
    sdk::Error error() const;

    // "<VPLPromise 0x...> Pending", "<VPLPromise 0x...> Fulfilled: <value>" or
    // "<VPLPromise 0x...> Rejected: <error>".
    std::string description() const;

    // ---- Observing and chaining ----

    // Arranges for exactly one of `onFulfill(value)` and `onReject(error)` to run on `queue`,
    // as a task of the class-wide group, once the promise has settled (also when it has
    // settled already: never inline). Callbacks observed on one serial queue run in the order
    // they were registered.
    // REQUIRES: queue ("queue"), onFulfill ("onFulfill") and onReject ("onReject") are given.
    void observeOnQueue(const Queue& queue, OnFulfill onFulfill, OnReject onReject);

    // Returns a new pending promise that settles from this one through the transforms, each
    // run on `queue`: with transform(value or error) when one is given, else with the value
    // or error itself. A transform's result settles the new promise by the resolution rule:
    // a promise is adopted (the new promise settles as it settles), an error rejects, anything
    // else (nil included) fulfils. A promise that would adopt itself could never settle: it
    // rejects with VPLPromiseErrorCode::kAdoptsItself instead; so does one that would adopt a
    // promise waiting, through chaining and adoption, for the adopting promise itself (P adopts
    // Q while Q adopts P; R adopts a promise chained from R).
    // REQUIRES: queue is not null ("queue").
    Ptr chainOnQueue(const Queue& queue, ChainedFulfill chainedFulfill,
                     ChainedReject chainedReject);

    // ---- Operators ----
    //
    // Each operator has a form on the default queue and one on a named queue; user callables
    // run on that queue, never inline in the call that registers them (the first try of the
    // retry family excepted). A callable's VPLValue result settles the next promise by the
    // resolution rule of `chainOnQueue`. Each returns a new promise (`reduce` of no items
    // excepted); a missing queue or callable breaks the contract and names the parameter.

    using Work = std::function<VPLValue(const VPLValue& value)>;
    using CatchHandler = std::function<void(const sdk::Error& error)>;
    using Recovery = std::function<VPLValue(const sdk::Error& error)>;
    using AlwaysWork = std::function<void()>;
    using Predicate = std::function<bool(const VPLValue& value)>;
    using Reducer = std::function<VPLValue(const VPLValue& partial, const VPLValue& item)>;
    using Fulfill = std::function<void(VPLValue resolution)>;
    using Reject = std::function<void(sdk::Error error)>;
    using AsyncWork = std::function<void(Fulfill fulfill, Reject reject)>;
    using DoWork = std::function<VPLValue()>;
    using RetryCondition = std::function<bool(std::int64_t remaining, const sdk::Error& error)>;

    // When this promise fulfils with V, settles the result by work(V); a rejection passes
    // through unchanged and `work` does not run.
    // REQUIRES: queue ("queue"), work ("work").
    Ptr then(Work work);
    Ptr then(const Queue& queue, Work work);

    // When this promise rejects with E, runs reject(E) and rejects the result with E all the
    // same (it observes, it does not recover); a fulfilment passes through.
    // REQUIRES: queue ("queue"), reject ("reject").
    Ptr catchError(CatchHandler reject);
    Ptr catchError(const Queue& queue, CatchHandler reject);

    // When this promise rejects with E, settles the result by recovery(E); a fulfilment passes
    // through. REQUIRES: queue ("queue"), recovery ("recovery").
    Ptr recover(Recovery recovery);
    Ptr recover(const Queue& queue, Recovery recovery);

    // Runs work() once this promise settles either way, then passes the outcome on unchanged.
    // REQUIRES: queue ("queue"), work ("work").
    Ptr always(AlwaysWork work);
    Ptr always(const Queue& queue, AlwaysWork work);

    // When this promise fulfils with V, the result fulfils with V if predicate(V) is true and
    // rejects with VPLPromiseErrorCode::kValidationFailure otherwise; a rejection passes
    // through. REQUIRES: queue ("queue"), predicate ("predicate").
    Ptr validate(Predicate predicate);
    Ptr validate(const Queue& queue, Predicate predicate);

    // Folds `items` through a chain of then-steps: the first reducer call gets this promise's
    // value as `partial`, each later call the value the previous step gave. A rejection at any
    // step skips the remaining calls and rejects the result. With no items, returns this very
    // promise. REQUIRES: queue ("queue"), reducer ("reducer").
    Ptr reduce(VPLValue::List items, Reducer reducer);
    Ptr reduce(const Queue& queue, VPLValue::List items, Reducer reducer);

    // The result fulfils with this promise's value `interval` seconds after it fulfilled, or
    // rejects with its error at once. REQUIRES: queue ("queue").
    Ptr delay(double interval);
    Ptr delay(const Queue& queue, double interval);

    // The result settles as this promise does, unless `interval` seconds pass first: then it
    // rejects with VPLPromiseErrorCode::kTimedOut. This promise itself is never changed, and a
    // late settlement of either does no harm. The timer holds the result only weakly.
    // REQUIRES: queue ("queue").
    Ptr timeout(double interval);
    Ptr timeout(const Queue& queue, double interval);

    // Returns a pending promise and runs work(fulfill, reject) on the queue; `fulfill` settles
    // the promise by the resolution rule (adopting a promise), `reject` rejects it. Only the
    // first call of either counts. REQUIRES: queue ("queue"), work ("work").
    static Ptr async(AsyncWork work);
    static Ptr async(const Queue& queue, AsyncWork work);

    // Returns a pending promise and runs work() on the queue; its result settles the promise
    // by the resolution rule. REQUIRES: queue ("queue"), work ("work").
    static Ptr doWork(DoWork work);
    static Ptr doWork(const Queue& queue, DoWork work);

    // Calls work() now, on the calling thread; when its outcome (the result, or the outcome of
    // the promise it returns, observed on the queue) is an error E and retries remain and
    // condition(remaining, E) allows (or no condition is given), calls it again on the queue
    // `delay` seconds later. So work runs at most `count` + 1 times; a count of 0 or less
    // means a single try. The result takes the first non-error outcome, or the last error.
    // `condition` sees the remaining count before it is lowered (count first, down to 1).
    // Defaults: count 1, delay 1.0 s, no condition, the default queue.
    // REQUIRES: queue ("queue"), work ("work").
    static Ptr retry(DoWork work);
    static Ptr retry(const Queue& queue, DoWork work);
    static Ptr attempts(std::int64_t count, DoWork work);
    static Ptr attempts(const Queue& queue, std::int64_t count, DoWork work);
    static Ptr attempts(std::int64_t count, double delay, RetryCondition condition, DoWork work);
    static Ptr attempts(const Queue& queue, std::int64_t count, double delay,
                        RetryCondition condition, DoWork work);

    // ---- Combinators ----
    //
    // Inputs are promises or plain values; a plain value counts as an input already settled
    // with it (an error as a rejection). The work runs on the queue through `async`. Nil
    // values appear in result lists as the null value (sdk::Value()).

    // Fulfils with the list of the inputs' values, in input order, once every input has
    // fulfilled; at once with an empty list when there are no inputs. Rejects with the first
    // plain error in the list (before anything is observed), else with the error of the first
    // rejection callback to run. REQUIRES: queue ("queue").
    static Ptr all(VPLValue::List promises);
    static Ptr all(const Queue& queue, VPLValue::List promises);

    // Waits until no input is pending. Fulfils with the combined list (per input, in order, its
    // value or its error; see VPLPromiseCombineValuesAndErrors) when at least one input
    // fulfilled, at once with an empty list when there are no inputs; when all of them
    // rejected, rejects with the error of the first rejection callback that runs once no
    // input is pending (so with the first input's error when all had settled already).
    // REQUIRES: queue ("queue").
    static Ptr any(VPLValue::List promises);
    static Ptr any(const Queue& queue, VPLValue::List promises);

    // Settles like the first input to settle; the first plain value in the list settles it
    // without observing anything. REQUIRES: queue ("queue"), a non-empty list ("No promises to
    // observe").
    static Ptr race(VPLValue::List promises);
    static Ptr race(const Queue& queue, VPLValue::List promises);

    // ---- Completion wrappers ----
    //
    // Each runs work(handler) on the queue and returns a promise that the first call of the
    // handler settles (later calls are ignored); the handler may be called on any thread. An
    // error argument that is not ok rejects; otherwise the handler's value fulfils (an error
    // handed as the value rejects, by the resolution rule). REQUIRES: queue ("queue"), work
    // ("work").

    template <typename Handler>
    using WrapWork = std::function<void(Handler handler)>;
    using Completion = std::function<void()>;
    using ObjectCompletion = std::function<void(VPLValue object)>;
    using ErrorCompletion = std::function<void(sdk::Error error)>;
    using ObjectOrErrorCompletion = std::function<void(VPLValue object, sdk::Error error)>;
    using ErrorOrObjectCompletion = std::function<void(sdk::Error error, VPLValue object)>;
    using TwoObjectsOrErrorCompletion =
        std::function<void(VPLValue first, VPLValue second, sdk::Error error)>;
    using BoolCompletion = std::function<void(bool value)>;
    using BoolOrErrorCompletion = std::function<void(bool value, sdk::Error error)>;
    using IntegerCompletion = std::function<void(std::int64_t value)>;
    using IntegerOrErrorCompletion = std::function<void(std::int64_t value, sdk::Error error)>;
    using DoubleCompletion = std::function<void(double value)>;
    using DoubleOrErrorCompletion = std::function<void(double value, sdk::Error error)>;

    // Fulfils with nil.
    static Ptr wrapCompletion(WrapWork<Completion> work);
    static Ptr wrapCompletion(const Queue& queue, WrapWork<Completion> work);
    // Fulfils with the object (nil allowed).
    static Ptr wrapObjectCompletion(WrapWork<ObjectCompletion> work);
    static Ptr wrapObjectCompletion(const Queue& queue, WrapWork<ObjectCompletion> work);
    // Rejects with the error, or fulfils with nil when it is ok.
    static Ptr wrapErrorCompletion(WrapWork<ErrorCompletion> work);
    static Ptr wrapErrorCompletion(const Queue& queue, WrapWork<ErrorCompletion> work);
    // Rejects with the error, or fulfils with the object.
    static Ptr wrapObjectOrErrorCompletion(WrapWork<ObjectOrErrorCompletion> work);
    static Ptr wrapObjectOrErrorCompletion(const Queue& queue,
                                           WrapWork<ObjectOrErrorCompletion> work);
    static Ptr wrapErrorOrObjectCompletion(WrapWork<ErrorOrObjectCompletion> work);
    static Ptr wrapErrorOrObjectCompletion(const Queue& queue,
                                           WrapWork<ErrorOrObjectCompletion> work);
    // Rejects with the error, or fulfils with the list [first, second] (nil as null).
    static Ptr wrap2ObjectsOrErrorCompletion(WrapWork<TwoObjectsOrErrorCompletion> work);
    static Ptr wrap2ObjectsOrErrorCompletion(const Queue& queue,
                                             WrapWork<TwoObjectsOrErrorCompletion> work);
    // Fulfil with the number as a plain value (bool, int64 or double), or reject with the
    // error when one is given.
    static Ptr wrapBoolCompletion(WrapWork<BoolCompletion> work);
    static Ptr wrapBoolCompletion(const Queue& queue, WrapWork<BoolCompletion> work);
    static Ptr wrapBoolOrErrorCompletion(WrapWork<BoolOrErrorCompletion> work);
    static Ptr wrapBoolOrErrorCompletion(const Queue& queue, WrapWork<BoolOrErrorCompletion> work);
    static Ptr wrapIntegerCompletion(WrapWork<IntegerCompletion> work);
    static Ptr wrapIntegerCompletion(const Queue& queue, WrapWork<IntegerCompletion> work);
    static Ptr wrapIntegerOrErrorCompletion(WrapWork<IntegerOrErrorCompletion> work);
    static Ptr wrapIntegerOrErrorCompletion(const Queue& queue,
                                            WrapWork<IntegerOrErrorCompletion> work);
    static Ptr wrapDoubleCompletion(WrapWork<DoubleCompletion> work);
    static Ptr wrapDoubleCompletion(const Queue& queue, WrapWork<DoubleCompletion> work);
    static Ptr wrapDoubleOrErrorCompletion(WrapWork<DoubleOrErrorCompletion> work);
    static Ptr wrapDoubleOrErrorCompletion(const Queue& queue,
                                           WrapWork<DoubleOrErrorCompletion> work);

    ~VPLPromise();
    VPLPromise(const VPLPromise&) = delete;
    VPLPromise& operator=(const VPLPromise&) = delete;

    // Public only for std::make_shared; use the factories.
    struct Passkey {
        explicit Passkey() = default;
    };
    explicit VPLPromise(Passkey);              // pending, in the group
    VPLPromise(Passkey, VPLValue resolution);  // settled, outside the group

  private:
    using Observer = std::function<void(State state, const VPLValue& resolution)>;

    // Settles `target` by the resolution rule from `resolution`, adopting a promise by
    // observing it on `queue`. The building block of chaining and the operators.
    static void resolve(const Ptr& target, const Queue& queue, const VPLValue& resolution);

    // Moves a pending promise to `state` with `resolution`; does nothing once settled.
    void settle(State state, VPLValue resolution);

    // Arranges for `settled` to be signalled when the promise settles, on the settling thread
    // (no queue, no worker needed). Returns false, arranging nothing, when it has settled
    // already.
    bool signalWhenSettled(const platform::DispatchSemaphore& settled);
    friend VPLValue VPLPromiseAwait(const std::shared_ptr<VPLPromise>& promise, sdk::Error* error);

    // True when `adopted` waits, through the source links, for `target`: adopting it would make
    // a cycle that never settles. REQUIRES: the adoption lock held.
    static bool waitsFor(const Ptr& adopted, const Ptr& target);

    // Destroys what a dying promise held. Promises released meanwhile on this thread hand their
    // own holdings to the outermost call, which destroys them one by one, so the depth of the
    // destructor calls stays constant however long the chain.
    static void releaseIteratively(std::vector<Observer> observers,
                                   std::vector<std::shared_ptr<void>> objects, VPLValue value);

    mutable std::mutex mutex_;
    State state_ = State::kPending;                      // guarded by mutex_
    VPLValue value_;                                     // guarded by mutex_
    sdk::Error error_;                                   // guarded by mutex_
    std::vector<Observer> observers_;                    // guarded by mutex_
    std::vector<std::shared_ptr<void>> pendingObjects_;  // guarded by mutex_
    // While pending, the promise whose settlement settles this one: the receiver of the chain
    // that made it, or the promise it adopted. Empty when none is known, and once settled.
    std::weak_ptr<VPLPromise> source_;  // guarded by mutex_; adoption also holds its lock
};

// Waits until the class-wide group is empty (no promise pending, no callback waiting or
// running), for at most `timeout` seconds. Returns true when it became empty in time. Called on
// the main thread (platform::isMainThread) it drains the dispatch main queue while it waits, in
// slices of 0.01 s, so callbacks on the default queue can run; on any other thread it only waits.
// REQUIRES: not called from a promise callback (the callback itself keeps the group busy).
bool VPLPromiseWaitUntilIdle(double timeout);

// Blocks the calling thread, without a time limit, until `promise` settles. Returns its value,
// or nil when it was rejected; then stores the error through `error` when that is given (and
// stores ok when the promise fulfilled). A settled promise returns at once; a pending one wakes
// the caller from the settling thread itself, so no queue or worker thread is needed for it.
// On a worker thread the wait frees the worker's slot (see platform/dispatch/WorkerPool.h).
// REQUIRES: promise is not null (a fatal error: the process aborts). The promise's settlement
// must not need the waiting thread (for example a default-queue callback awaited from the
// thread that drains the main queue would wait forever).
VPLValue VPLPromiseAwait(const VPLPromise::Ptr& promise, sdk::Error* error = nullptr);

// Returns, for each of `promises` in order, its value (the null value for nil) when it
// fulfilled or its error when it rejected: the list that `any` fulfils with.
// REQUIRES: no promise is pending (a fatal error: the process aborts).
VPLValue::List VPLPromiseCombineValuesAndErrors(const std::vector<VPLPromise::Ptr>& promises);
