// The combinators all, any and race.
//
// The observers of all and any keep each input's outcome in a shared tally, and hold the input
// promises themselves only weakly: an input holds its observers, so an observer that held the
// inputs would keep an input that never settles (and the group count it carries) alive for
// ever.

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

#include "sdk/promises/VPLAssert.h"
#include "sdk/promises/VPLPromise.h"
#include "sdk/utilities/Fatal.h"

namespace {

using Ptr = VPLPromise::Ptr;

VPLValue nilAsNull(const VPLValue& value) {
    return value.isNil() ? VPLValue(sdk::Value()) : value;
}

// The inputs as promises: a plain value becomes a promise already settled with it.
std::vector<Ptr> asPromises(const VPLValue::List& inputs) {
    std::vector<Ptr> promises;
    promises.reserve(inputs.size());
    for (const VPLValue& input : inputs) {
        Ptr promise = input.promise();
        promises.push_back(promise != nullptr ? promise : VPLPromise::resolvedWith(input));
    }
    return promises;
}

// The outcomes of a combinator's inputs as they come in, on any thread.
class Tally {
  public:
    explicit Tally(const std::vector<Ptr>& inputs)
        : inputs_(inputs.begin(), inputs.end()), outcomes_(inputs.size()), pending_(inputs.size()) {
        for (const Ptr& input : inputs) {
            if (!input->isPending()) {
                settledInputs_.push_back(input);  // holds no observers, so nothing cycles
            }
        }
    }

    // Records input `index`'s outcome (a value, or an error) and returns true when it was the
    // last input still pending.
    bool record(std::size_t index, VPLValue outcome) {
        std::lock_guard lock(mutex_);
        store(index, std::move(outcome));
        return --pending_ == 0;
    }

    // Records input `index`'s outcome and returns true to the first call that finds no input
    // pending any longer (false to every later one: the result is settled by then). Inputs
    // whose callbacks have not run yet are asked for their state, so the first callback to run
    // once every input has settled sees it. An input that no longer exists counts as pending:
    // when it had settled, its own callback is still to come and records it.
    // The inputs before `known_` all have an outcome, so each call only looks on from there:
    // all the calls together look at each input a bounded number of times, not once per call.
    // Not to be mixed with `record` on one tally.
    bool recordAndCheckSettled(std::size_t index, VPLValue outcome) {
        std::lock_guard lock(mutex_);
        store(index, std::move(outcome));
        if (decided_) {
            return false;
        }
        for (; known_ < outcomes_.size(); ++known_) {
            if (outcomes_[known_].has_value()) {
                continue;
            }
            const Ptr input = inputs_[known_].lock();
            if (input == nullptr || input->isPending()) {
                return false;
            }
            store(known_, input->isFulfilled() ? input->value() : VPLValue(input->error()));
        }
        decided_ = true;
        return true;
    }

    // The outcomes in input order, nil as the null value.
    // REQUIRES: every input has been recorded.
    VPLValue::List combined() const {
        std::lock_guard lock(mutex_);
        VPLValue::List list;
        list.reserve(outcomes_.size());
        for (const std::optional<VPLValue>& outcome : outcomes_) {
            list.push_back(nilAsNull(*outcome));
        }
        return list;
    }

    // True when some recorded outcome is not an error.
    bool anyFulfilled() const {
        std::lock_guard lock(mutex_);
        return fulfilled_ > 0;
    }

  private:
    // Sets input `index`'s outcome, counting the fulfilled ones. REQUIRES: mutex_ held.
    void store(std::size_t index, VPLValue outcome) {
        std::optional<VPLValue>& slot = outcomes_[index];
        if (slot.has_value()) {
            return;  // an input's outcome never changes; it was read from its state already
        }
        if (!outcome.isError()) {
            ++fulfilled_;
        }
        slot = std::move(outcome);
    }

    const std::vector<std::weak_ptr<VPLPromise>> inputs_;
    // The inputs settled already when observed (plain values among them) stay readable.
    std::vector<Ptr> settledInputs_;
    mutable std::mutex mutex_;
    std::vector<std::optional<VPLValue>> outcomes_;  // guarded by mutex_
    std::size_t pending_;                            // guarded by mutex_
    std::size_t known_ = 0;      // guarded by mutex_: outcomes_[0, known_) are all set
    std::size_t fulfilled_ = 0;  // guarded by mutex_: outcomes set that are not errors
    bool decided_ = false;       // guarded by mutex_: recordAndCheckSettled returned true
};

}  // namespace

VPLPromise::Ptr VPLPromise::all(VPLValue::List promises) {
    return all(defaultDispatchQueue(), std::move(promises));
}

VPLPromise::Ptr VPLPromise::all(const Queue& queue, VPLValue::List promises) {
    if (!VPLRequireParameter(queue != nullptr, "queue")) {
        return nullptr;
    }
    if (promises.empty()) {
        return resolvedWith(VPLValue::List{});
    }
    return async(queue, [queue, inputs = std::move(promises)](Fulfill fulfill, Reject reject) {
        for (const VPLValue& input : inputs) {
            if (input.isError()) {
                reject(input.error());
                return;
            }
        }
        std::vector<Ptr> observed = asPromises(inputs);
        auto tally = std::make_shared<Tally>(observed);
        for (std::size_t i = 0; i < observed.size(); ++i) {
            observed[i]->observeOnQueue(
                queue,
                [tally, i, fulfill](const VPLValue& value) {
                    if (tally->record(i, value)) {
                        fulfill(tally->combined());
                    }
                },
                reject);
        }
    });
}

VPLPromise::Ptr VPLPromise::any(VPLValue::List promises) {
    return any(defaultDispatchQueue(), std::move(promises));
}

VPLPromise::Ptr VPLPromise::any(const Queue& queue, VPLValue::List promises) {
    if (!VPLRequireParameter(queue != nullptr, "queue")) {
        return nullptr;
    }
    if (promises.empty()) {
        return resolvedWith(VPLValue::List{});
    }
    return async(queue, [queue, inputs = std::move(promises)](Fulfill fulfill, Reject reject) {
        std::vector<Ptr> observed = asPromises(inputs);
        auto tally = std::make_shared<Tally>(observed);
        for (std::size_t i = 0; i < observed.size(); ++i) {
            observed[i]->observeOnQueue(
                queue,
                [tally, i, fulfill](const VPLValue& value) {
                    if (tally->recordAndCheckSettled(i, value)) {
                        fulfill(tally->combined());
                    }
                },
                [tally, i, fulfill, reject](const sdk::Error& error) {
                    if (!tally->recordAndCheckSettled(i, VPLValue(error))) {
                        return;
                    }
                    if (tally->anyFulfilled()) {
                        fulfill(tally->combined());
                    } else {
                        reject(error);
                    }
                });
        }
    });
}

VPLPromise::Ptr VPLPromise::race(VPLValue::List promises) {
    return race(defaultDispatchQueue(), std::move(promises));
}

VPLPromise::Ptr VPLPromise::race(const Queue& queue, VPLValue::List promises) {
    if (!VPLRequireParameter(queue != nullptr, "queue") ||
        !VPLRequire(!promises.empty(), "No promises to observe")) {
        return nullptr;
    }
    return async(queue, [queue, inputs = std::move(promises)](Fulfill fulfill, Reject reject) {
        for (const VPLValue& input : inputs) {
            if (!input.isPromise()) {
                fulfill(input);
                return;
            }
        }
        for (const VPLValue& input : inputs) {
            input.promise()->observeOnQueue(queue, fulfill, reject);
        }
    });
}

VPLValue::List VPLPromiseCombineValuesAndErrors(const std::vector<VPLPromise::Ptr>& promises) {
    VPLValue::List combined;
    combined.reserve(promises.size());
    for (const VPLPromise::Ptr& promise : promises) {
        if (promise->isPending()) {
            sdk::abortWithMessage(
                "VPLPromiseCombineValuesAndErrors: assertion failed: !promise.isPending");
        }
        combined.push_back(promise->isFulfilled() ? nilAsNull(promise->value())
                                                  : VPLValue(promise->error()));
    }
    return combined;
}
