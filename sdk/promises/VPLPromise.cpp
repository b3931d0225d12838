#include "sdk/promises/VPLPromise.h"

#include <algorithm>
#include <cassert>
#include <chrono>
#include <cstdio>
#include <iterator>
#include <thread>
#include <utility>

#include "platform/dispatch/Clock.h"
#include "platform/dispatch/MainQueue.h"
#include "sdk/promises/VPLAssert.h"
#include "sdk/promises/VPLPromiseError.h"

namespace {

// The default queue, shared by every caller; replaced only through setDefaultDispatchQueue.
struct DefaultQueue {
    std::mutex mutex;
    platform::QueueRef queue = platform::DispatchQueue::main();  // guarded by mutex
};

// Held while an adoption looks for a cycle and links the adopting promise to its source, so two
// adoptions that together would close a cycle cannot both miss it.
std::mutex& adoptionMutex() {
    static std::mutex* const mutex = new std::mutex();
    return *mutex;
}

DefaultQueue& defaultQueue() {
    // Never destroyed: promises and timers may outlive static destruction order.
    static DefaultQueue* const instance = new DefaultQueue();
    return *instance;
}

}  // namespace

VPLPromise::Queue VPLPromise::defaultDispatchQueue() {
    DefaultQueue& shared = defaultQueue();
    std::lock_guard lock(shared.mutex);
    return shared.queue;
}

void VPLPromise::setDefaultDispatchQueue(Queue queue) {
    if (!VPLRequireParameter(queue != nullptr, "queue")) {
        return;
    }
    DefaultQueue& shared = defaultQueue();
    std::lock_guard lock(shared.mutex);
    shared.queue = std::move(queue);
}

const platform::DispatchGroup& VPLPromise::dispatchGroup() {
    // Never destroyed, for the same reason as the default queue.
    static const platform::DispatchGroup* const group = new platform::DispatchGroup();
    return *group;
}

VPLPromise::VPLPromise(Passkey) {
    dispatchGroup().enter();
}

VPLPromise::VPLPromise(Passkey, VPLValue resolution) {
    if (resolution.isError()) {
        state_ = State::kRejected;
        error_ = resolution.error();
    } else {
        state_ = State::kFulfilled;
        value_ = std::move(resolution);
    }
}

VPLPromise::~VPLPromise() {
    // Nobody else can reach the promise now, so no lock: a promise dropped unsettled must not
    // keep the group busy forever.
    if (state_ == State::kPending) {
        dispatchGroup().leave();
    }
    releaseIteratively(std::move(observers_), std::move(pendingObjects_), std::move(value_));
}

void VPLPromise::releaseIteratively(std::vector<Observer> observers,
                                    std::vector<std::shared_ptr<void>> objects, VPLValue value) {
    struct Deferred {
        bool releasing = false;
        std::vector<Observer> observers;
        std::vector<std::shared_ptr<void>> objects;
        std::vector<VPLValue> values;
    };
    thread_local Deferred deferred;
    // Only a value that holds promises can recurse; others are simply dropped here.
    const bool deferValue = value.isPromise() || value.isList();
    if (observers.empty() && objects.empty() && !deferValue) {
        return;
    }
    std::move(observers.begin(), observers.end(), std::back_inserter(deferred.observers));
    std::move(objects.begin(), objects.end(), std::back_inserter(deferred.objects));
    if (deferValue) {
        deferred.values.push_back(std::move(value));
    }
    if (deferred.releasing) {
        return;  // an outer call on this thread destroys them
    }
    deferred.releasing = true;
    while (!deferred.observers.empty() || !deferred.objects.empty() || !deferred.values.empty()) {
        // Each is moved out before it is destroyed: destroying it may append to the lists.
        if (!deferred.observers.empty()) {
            Observer observer = std::move(deferred.observers.back());
            deferred.observers.pop_back();
        } else if (!deferred.objects.empty()) {
            std::shared_ptr<void> object = std::move(deferred.objects.back());
            deferred.objects.pop_back();
        } else {
            VPLValue held = std::move(deferred.values.back());
            deferred.values.pop_back();
        }
    }
    deferred.releasing = false;
}

VPLPromise::Ptr VPLPromise::pendingPromise() {
    return std::make_shared<VPLPromise>(Passkey());
}

VPLPromise::Ptr VPLPromise::resolvedWith(VPLValue resolution) {
    return std::make_shared<VPLPromise>(Passkey(), std::move(resolution));
}

std::function<VPLPromise::Ptr()> VPLPromise::pending() {
    return [] { return pendingPromise(); };
}

std::function<VPLPromise::Ptr(VPLValue)> VPLPromise::resolved() {
    return [](VPLValue resolution) { return resolvedWith(std::move(resolution)); };
}

void VPLPromise::fulfill(VPLValue value) {
    if (value.isError()) {
        reject(value.error());
        return;
    }
    settle(State::kFulfilled, std::move(value));
}

void VPLPromise::reject(sdk::Error error) {
    if (!VPLRequire(!error.ok(), "Invalid error type.")) {
        return;
    }
    settle(State::kRejected, VPLValue(std::move(error)));
}

void VPLPromise::settle(State state, VPLValue resolution) {
    // Taken out under the lock, dropped after it: dropping an observer may destroy promises
    // that it held, and their destructors must not run under this lock.
    std::vector<Observer> observers;
    std::vector<std::shared_ptr<void>> pendingObjects;
    {
        std::lock_guard lock(mutex_);
        if (state_ != State::kPending) {
            return;
        }
        state_ = state;
        if (state == State::kFulfilled) {
            value_ = resolution;
        } else {
            error_ = resolution.error();
        }
        observers.swap(observers_);
        pendingObjects.swap(pendingObjects_);
        source_.reset();
        // Observers only submit tasks to the group, so the group never looks empty between
        // this promise leaving it and its callbacks entering it.
        for (Observer& observer : observers) {
            observer(state, resolution);
        }
        dispatchGroup().leave();
    }
    releaseIteratively(std::move(observers), std::move(pendingObjects), VPLValue());
}

bool VPLPromise::signalWhenSettled(const platform::DispatchSemaphore& settled) {
    std::lock_guard lock(mutex_);
    if (state_ != State::kPending) {
        return false;
    }
    observers_.push_back([settled](State, const VPLValue&) { settled.signal(); });
    return true;
}

void VPLPromise::addPendingObject(std::shared_ptr<void> object) {
    if (!VPLRequireParameter(object != nullptr, "object")) {
        return;
    }
    std::lock_guard lock(mutex_);
    if (state_ == State::kPending) {
        pendingObjects_.push_back(std::move(object));
    }
}

VPLPromise::State VPLPromise::state() const {
    std::lock_guard lock(mutex_);
    return state_;
}

VPLValue VPLPromise::value() const {
    std::lock_guard lock(mutex_);
    return state_ == State::kFulfilled ? value_ : VPLValue();
}

sdk::Error VPLPromise::error() const {
    std::lock_guard lock(mutex_);
    return state_ == State::kRejected ? error_ : sdk::Error();
}

std::string VPLPromise::description() const {
    char prefix[64];
    std::snprintf(prefix, sizeof prefix, "<VPLPromise %p>", static_cast<const void*>(this));
    std::lock_guard lock(mutex_);
    switch (state_) {
        case State::kFulfilled: {
            // As "%@" renders it: a string as its own text, without quotes.
            const sdk::Value* plain = value_.value();
            const std::string* text = plain != nullptr ? plain->string() : nullptr;
            return std::string(prefix) +
                   " Fulfilled: " + (text != nullptr ? *text : value_.description());
        }
        case State::kRejected:
            return std::string(prefix) + " Rejected: " + error_.ToString();
        case State::kPending:
            break;
    }
    return std::string(prefix) + " Pending";
}

void VPLPromise::observeOnQueue(const Queue& queue, OnFulfill onFulfill, OnReject onReject) {
    if (!VPLRequireParameter(queue != nullptr, "queue") ||
        !VPLRequireParameter(static_cast<bool>(onFulfill), "onFulfill") ||
        !VPLRequireParameter(static_cast<bool>(onReject), "onReject")) {
        return;
    }
    // Called at most once, so it may hand its callables on to the task.
    Observer deliver = [queue, onFulfill = std::move(onFulfill), onReject = std::move(onReject)](
                           State state, const VPLValue& resolution) mutable {
        dispatchGroup().async(queue, [state, resolution, onFulfill = std::move(onFulfill),
                                      onReject = std::move(onReject)] {
            if (state == State::kFulfilled) {
                onFulfill(resolution);
            } else {
                onReject(resolution.error());
            }
        });
    };
    std::lock_guard lock(mutex_);
    switch (state_) {
        case State::kPending:
            observers_.push_back(std::move(deliver));
            break;
        case State::kFulfilled:
            assert(observers_.empty());
            deliver(State::kFulfilled, value_);
            break;
        case State::kRejected:
            assert(observers_.empty());
            deliver(State::kRejected, VPLValue(error_));
            break;
    }
}

bool VPLPromise::waitsFor(const Ptr& adopted, const Ptr& target) {
    // The links form chains without cycles (each adoption checks before it links), so the walk
    // ends; it stops at the first promise that has settled or has no known source.
    Ptr current = adopted;
    while (current != nullptr) {
        if (current == target) {
            return true;
        }
        Ptr source;
        {
            std::lock_guard lock(current->mutex_);
            if (current->state_ != State::kPending) {
                return false;
            }
            source = current->source_.lock();
        }
        current = std::move(source);
    }
    return false;
}

void VPLPromise::resolve(const Ptr& target, const Queue& queue, const VPLValue& resolution) {
    if (Ptr adopted = resolution.promise()) {
        bool cycle = false;
        {
            std::lock_guard adoption(adoptionMutex());
            cycle = waitsFor(adopted, target);
            if (!cycle) {
                std::lock_guard lock(target->mutex_);
                target->source_ = adopted;
            }
        }
        if (cycle) {
            target->reject(VPLPromiseError(VPLPromiseErrorCode::kAdoptsItself));
            return;
        }
        adopted->observeOnQueue(
            queue, [target](const VPLValue& value) { target->fulfill(value); },
            [target](const sdk::Error& error) { target->reject(error); });
        return;
    }
    target->fulfill(resolution);
}

VPLPromise::Ptr VPLPromise::chainOnQueue(const Queue& queue, ChainedFulfill chainedFulfill,
                                         ChainedReject chainedReject) {
    if (!VPLRequireParameter(queue != nullptr, "queue")) {
        return nullptr;
    }
    Ptr chained = pendingPromise();
    {
        std::lock_guard lock(chained->mutex_);
        chained->source_ = weak_from_this();
    }
    observeOnQueue(
        queue,
        [chained, queue, transform = std::move(chainedFulfill)](const VPLValue& value) {
            resolve(chained, queue, transform ? transform(value) : value);
        },
        [chained, queue, transform = std::move(chainedReject)](const sdk::Error& error) {
            resolve(chained, queue, transform ? transform(error) : VPLValue(error));
        });
    return chained;
}

bool VPLPromiseWaitUntilIdle(double timeout) {
    using namespace std::chrono_literals;
    const platform::DispatchGroup& group = VPLPromise::dispatchGroup();
    const auto deadline = platform::deadlineAfter(platform::durationFromSeconds(timeout));
    const auto groupDeadline = platform::deadlineAfter(10ms);
    if (group.waitUntil(groupDeadline)) {
        return true;
    }
    const bool drainsMainQueue = platform::isMainThread();
    while (platform::Clock::now() <= deadline) {
        if (drainsMainQueue) {
            platform::runMainQueueFor(10ms);
        } else {
            std::this_thread::sleep_for(10ms);
        }
        if (group.waitUntil(groupDeadline)) {
            return true;
        }
    }
    return false;
}
