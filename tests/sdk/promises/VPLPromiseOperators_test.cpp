#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/dispatch/DispatchQueue.h"
#include "platform/dispatch/DispatchSemaphore.h"
#include "platform/dispatch/MainQueue.h"
#include "platform/dispatch/WorkerPool.h"
#include "sdk/promises/VPLPromise.h"
#include "sdk/promises/VPLPromiseError.h"
#include "tests/sdk/promises/PromiseTestSupport.h"

namespace {

using promises_test::contractViolation;
using promises_test::eventually;
using promises_test::runQueuedMainBlocks;
using promises_test::settles;
using promises_test::testError;
using Clock = std::chrono::steady_clock;
using Ptr = VPLPromise::Ptr;

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

std::int64_t intOf(const VPLValue& value) {
    return value.value()->intValue().value_or(-999);
}

// One operator applied to a source outcome, with the outcome expected of the result.
struct OperatorCase {
    const char* name;
    VPLValue source;  // a value fulfils the source, an error rejects it
    std::function<Ptr(const Ptr&)> apply;
    VPLValue expected;  // a value or an error
    int expectedCalls;  // how often the operator's callable must have run
};

TEST(VPLPromiseOperators, TransformingOperatorsByOutcome) {
    int calls = 0;
    const sdk::Error e1 = testError(1);
    const sdk::Error e2 = testError(2);
    const VPLValue validationError = VPLPromiseError(VPLPromiseErrorCode::kValidationFailure);
    const std::vector<OperatorCase> cases = {
        {"then maps a value", 4,
         [&](const Ptr& p) {
             return p->then([&](const VPLValue& v) {
                 ++calls;
                 return VPLValue(intOf(v) + 1);
             });
         },
         5, 1},
        {"then skips a rejection", e1,
         [&](const Ptr& p) {
             return p->then([&](const VPLValue& v) {
                 ++calls;
                 return v;
             });
         },
         e1, 0},
        {"then returning an error rejects", 4,
         [&](const Ptr& p) {
             return p->then([&](const VPLValue&) {
                 ++calls;
                 return VPLValue(e2);
             });
         },
         e2, 1},
        {"then returning a settled promise adopts it", 4,
         [&](const Ptr& p) {
             return p->then([&](const VPLValue&) {
                 ++calls;
                 return VPLValue(VPLPromise::resolvedWith(e2));
             });
         },
         e2, 1},
        {"catch observes but does not recover", e1,
         [&](const Ptr& p) { return p->catchError([&](const sdk::Error&) { ++calls; }); }, e1, 1},
        {"catch passes a value", 4,
         [&](const Ptr& p) { return p->catchError([&](const sdk::Error&) { ++calls; }); }, 4, 0},
        {"recover replaces an error by a value", e1,
         [&](const Ptr& p) {
             return p->recover([&](const sdk::Error& e) {
                 ++calls;
                 return VPLValue(e.code() * 10);
             });
         },
         10, 1},
        {"recover returning an error stays rejected", e1,
         [&](const Ptr& p) {
             return p->recover([&](const sdk::Error&) {
                 ++calls;
                 return VPLValue(e2);
             });
         },
         e2, 1},
        {"recover passes a value", 4,
         [&](const Ptr& p) {
             return p->recover([&](const sdk::Error&) {
                 ++calls;
                 return VPLValue(0);
             });
         },
         4, 0},
        {"always after a value", 4, [&](const Ptr& p) { return p->always([&] { ++calls; }); }, 4,
         1},
        {"always after an error", e1, [&](const Ptr& p) { return p->always([&] { ++calls; }); }, e1,
         1},
        {"validate passes", 4,
         [&](const Ptr& p) {
             return p->validate([&](const VPLValue& v) {
                 ++calls;
                 return intOf(v) == 4;
             });
         },
         4, 1},
        {"validate fails with code 2", 4,
         [&](const Ptr& p) {
             return p->validate([&](const VPLValue&) {
                 ++calls;
                 return false;
             });
         },
         validationError, 1},
        {"validate skips a rejection", e1,
         [&](const Ptr& p) {
             return p->validate([&](const VPLValue&) {
                 ++calls;
                 return true;
             });
         },
         e1, 0},
    };
    for (const OperatorCase& c : cases) {
        SCOPED_TRACE(c.name);
        calls = 0;
        Ptr source = VPLPromise::pendingPromise();
        Ptr result = c.apply(source);
        source->fulfill(c.source);
        EXPECT_EQ(calls, 0) << "a callable ran inline";
        ASSERT_TRUE(settles(result));
        platform::drainMainQueue();
        EXPECT_EQ(calls, c.expectedCalls);
        if (c.expected.isError()) {
            EXPECT_EQ(VPLValue(result->error()), c.expected);
        } else {
            EXPECT_EQ(result->value(), c.expected);
        }
    }
}

TEST(VPLPromiseOperators, CallablesRunOnTheNamedQueue) {
    auto queue = platform::DispatchQueue::createSerial("test.operators");
    std::atomic<int> onQueue{0};
    auto check = [&] { onQueue += queue->isCurrent() ? 1 : 0; };
    Ptr source = VPLPromise::resolvedWith(1);
    Ptr result = source
                     ->then(queue,
                            [&](const VPLValue& v) {
                                check();
                                return v;
                            })
                     ->validate(queue,
                                [&](const VPLValue&) {
                                    check();
                                    return true;
                                })
                     ->always(queue, [&] { check(); })
                     ->then(queue,
                            [&](const VPLValue&) {
                                check();
                                return VPLValue(testError(1));
                            })
                     ->catchError(queue, [&](const sdk::Error&) { check(); })
                     ->recover(queue, [&](const sdk::Error&) {
                         check();
                         return VPLValue(2);
                     });
    ASSERT_TRUE(VPLPromiseAwait(result) == VPLValue(2));
    EXPECT_EQ(onQueue, 6);
}

TEST(VPLPromiseOperators, ThenReturningAPendingPromiseWaitsForIt) {
    Ptr inner = VPLPromise::pendingPromise();
    Ptr result =
        VPLPromise::resolvedWith(1)->then([inner](const VPLValue&) { return VPLValue(inner); });
    runQueuedMainBlocks();
    EXPECT_TRUE(result->isPending());
    inner->fulfill("late");
    ASSERT_TRUE(settles(result));
    EXPECT_EQ(result->value(), VPLValue("late"));
}

TEST(VPLPromiseOperators, ReduceFoldsInOrderAndStopsAtARejection) {
    Ptr start = VPLPromise::resolvedWith("a");
    EXPECT_EQ(start->reduce({}, [](const VPLValue& p, const VPLValue&) { return p; }), start);

    auto append = [](const VPLValue& partial, const VPLValue& item) {
        return VPLValue(*partial.value()->string() + *item.value()->string());
    };
    Ptr folded = start->reduce({"b", "c", "d"}, append);
    ASSERT_TRUE(settles(folded));
    EXPECT_EQ(folded->value(), VPLValue("abcd"));

    int calls = 0;
    Ptr stopped =
        start->reduce({"b", "c", "d"}, [&](const VPLValue& partial, const VPLValue& item) {
            ++calls;
            return *item.value()->string() == "c" ? VPLValue(testError(3)) : append(partial, item);
        });
    ASSERT_TRUE(settles(stopped));
    platform::drainMainQueue();
    EXPECT_EQ(calls, 2);
    EXPECT_TRUE(stopped->error().is("test.domain", 3));
}

TEST(VPLPromiseOperators, DelayHoldsValuesButNotErrors) {
    const auto start = Clock::now();
    Ptr delayed = VPLPromise::resolvedWith(1)->delay(0.2);
    Ptr rejected = VPLPromise::resolvedWith(testError(1))->delay(60);
    ASSERT_TRUE(settles(rejected));
    EXPECT_LT(secondsSince(start), 30) << "a rejection must not wait for the interval";
    ASSERT_TRUE(settles(delayed));
    EXPECT_GE(secondsSince(start), 0.2);
    EXPECT_EQ(delayed->value(), VPLValue(1));
}

TEST(VPLPromiseOperators, TimeoutRejectsWithCode1UnlessTheSourceWins) {
    Ptr stuck = VPLPromise::pendingPromise();
    Ptr timedOut = stuck->timeout(0.05);
    ASSERT_TRUE(settles(timedOut));
    EXPECT_TRUE(timedOut->error().is("com.vovidu.VPLPromises.Error", 1));
    EXPECT_TRUE(stuck->isPending()) << "the source is never changed";
    stuck->fulfill(1);  // a late settle of the source does no harm
    platform::runMainQueueFor(std::chrono::milliseconds(20));
    EXPECT_TRUE(timedOut->isRejected());

    Ptr quick = VPLPromise::pendingPromise();
    Ptr won = quick->timeout(0.1);
    quick->fulfill("first");
    ASSERT_TRUE(settles(won));
    platform::runMainQueueFor(std::chrono::milliseconds(200));  // the timer fires unheard
    EXPECT_EQ(won->value(), VPLValue("first"));

    // A result dropped before its timer fires: the timer only holds it weakly.
    std::weak_ptr<VPLPromise> dropped = VPLPromise::pendingPromise()->timeout(0.05);
    EXPECT_TRUE(dropped.expired());
    platform::runMainQueueFor(std::chrono::milliseconds(100));
}

TEST(VPLPromiseOperators, AsyncAndDoSettleByTheResolutionRule) {
    bool ran = false;
    Ptr fromAsync = VPLPromise::async([&](VPLPromise::Fulfill fulfill, VPLPromise::Reject) {
        ran = true;
        fulfill(VPLPromise::resolvedWith("adopted"));
    });
    EXPECT_FALSE(ran) << "async work ran inline";
    ASSERT_TRUE(settles(fromAsync));
    EXPECT_EQ(fromAsync->value(), VPLValue("adopted"));

    Ptr rejecting = VPLPromise::async([](VPLPromise::Fulfill fulfill, VPLPromise::Reject reject) {
        reject(testError(2));
        fulfill(1);
    });
    Ptr doError = VPLPromise::doWork([] { return VPLValue(testError(3)); });
    Ptr doValue = VPLPromise::doWork([] { return VPLValue(sdk::Value()); });
    Ptr doPending = VPLPromise::doWork([] { return VPLValue(VPLPromise::pendingPromise()); });
    ASSERT_TRUE(settles(rejecting) && settles(doError) && settles(doValue));
    EXPECT_TRUE(rejecting->error().is("test.domain", 2));
    EXPECT_TRUE(doError->error().is("test.domain", 3));
    EXPECT_EQ(doValue->value(), VPLValue(sdk::Value()));
    platform::drainMainQueue();
    EXPECT_TRUE(doPending->isPending()) << "adopts a promise that never settles";
}

// A work callable that fails until its `succeedOn`-th run (never when 0) and records when
// each run started.
struct FlakyWork {
    int succeedOn = 0;
    bool viaPromise = false;
    std::vector<Clock::time_point> runs;

    VPLPromise::DoWork callable() {
        return [this] {
            runs.push_back(Clock::now());
            const int run = static_cast<int>(runs.size());
            VPLValue outcome = run == succeedOn ? VPLValue(run) : VPLValue(testError(run));
            return viaPromise ? VPLValue(VPLPromise::resolvedWith(outcome)) : outcome;
        };
    }
};

TEST(VPLPromiseOperators, RetryRunsAttemptsPlusOneTimesWithTheDelayBetween) {
    struct Case {
        const char* name;
        std::int64_t attempts;
        int succeedOn;
        bool viaPromise;
        std::size_t expectedRuns;
        VPLValue expected;
    };
    const std::vector<Case> cases = {
        {"always failing", 2, 0, false, 3, testError(3)},
        {"always failing promises", 2, 0, true, 3, testError(3)},
        {"succeeds on the second run", 3, 2, true, 2, 2},
        {"no retries", 0, 0, false, 1, testError(1)},
        {"negative count", -5, 0, false, 1, testError(1)},
    };
    auto queue = platform::DispatchQueue::createSerial("test.retry");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FlakyWork work{c.succeedOn, c.viaPromise, {}};
        Ptr result = VPLPromise::attempts(queue, c.attempts, 0.05, nullptr, work.callable());
        ASSERT_EQ(VPLPromiseAwait(result).isNil(), c.expected.isError());
        queue->sync([] {});
        ASSERT_EQ(work.runs.size(), c.expectedRuns);
        for (std::size_t i = 1; i < work.runs.size(); ++i) {
            EXPECT_GE(work.runs[i] - work.runs[i - 1], std::chrono::milliseconds(50));
        }
        EXPECT_EQ(c.expected.isError() ? VPLValue(result->error()) : result->value(), c.expected);
    }
}

TEST(VPLPromiseOperators, RetryConditionSeesTheRemainingCountAndCanStop) {
    auto queue = platform::DispatchQueue::createSerial("test.retry.condition");
    std::vector<std::int64_t> seen;  // written on the calling thread, then on `queue`
    FlakyWork work;
    Ptr result = VPLPromise::attempts(
        queue, 3, 0.01,
        [&](std::int64_t remaining, const sdk::Error& error) {
            seen.push_back(remaining);
            return error.code() < 2;  // allow one retry only
        },
        work.callable());
    sdk::Error error;
    EXPECT_TRUE(VPLPromiseAwait(result, &error).isNil());
    queue->sync([] {});
    EXPECT_EQ(seen, (std::vector<std::int64_t>{3, 2}));
    EXPECT_EQ(work.runs.size(), 2u);
    EXPECT_TRUE(error.is("test.domain", 2)) << "rejects with the error the condition saw";
}

TEST(VPLPromiseOperators, RetryDefaultsTryTwiceOneSecondApartAndFirstTryIsSynchronous) {
    FlakyWork succeeding{1, false, {}};
    Ptr immediate = VPLPromise::retry(succeeding.callable());
    EXPECT_TRUE(immediate->isFulfilled()) << "the first try runs before retry returns";

    FlakyWork failing;
    Ptr result = VPLPromise::retry(failing.callable());
    ASSERT_EQ(failing.runs.size(), 1u);
    ASSERT_TRUE(settles(result));
    ASSERT_EQ(failing.runs.size(), 2u);
    EXPECT_GE(failing.runs[1] - failing.runs[0], std::chrono::seconds(1));
    EXPECT_TRUE(result->error().is("test.domain", 2));
}

TEST(VPLPromiseOperators, AwaitReturnsTheValueOrNilAndTheError) {
    auto queue = platform::DispatchQueue::createSerial("test.await");
    sdk::Error error = testError(99);
    Ptr later = VPLPromise::doWork(queue, [] { return VPLValue("v"); });
    EXPECT_EQ(VPLPromiseAwait(later, &error), VPLValue("v"));
    EXPECT_TRUE(error.ok());

    EXPECT_TRUE(VPLPromiseAwait(VPLPromise::resolvedWith(testError(4)), &error).isNil());
    EXPECT_TRUE(error.is("test.domain", 4));
}

// Awaiting from worker threads: a settled promise returns at once, and a pending one wakes its
// awaiters from the settling thread, even when every worker the pool may run is one of them.
TEST(VPLPromiseOperators, AwaitFromEveryWorkerOfThePoolReturns) {
    struct Case {
        const char* name;
        std::size_t awaiters;
        bool settledFirst;
    };
    const Case cases[] = {
        {"settled promise, as many awaiters as the pool has slots",
         platform::WorkerPool::kMaxWorkers, true},
        {"pending promise, every worker the pool may start awaits",
         platform::WorkerPool::kHardLimit, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Ptr promise = VPLPromise::pendingPromise();
        if (c.settledFirst) {
            promise->fulfill("done");
        }
        auto queue = platform::DispatchQueue::createConcurrent("test.await-all");
        platform::DispatchSemaphore returned;
        auto awaiting = std::make_shared<std::atomic<std::size_t>>(0);
        auto wrong = std::make_shared<std::atomic<int>>(0);
        const std::size_t awaiters = c.awaiters;
        const bool settledFirst = c.settledFirst;
        for (std::size_t i = 0; i < c.awaiters; ++i) {
            queue->async([promise, returned, awaiting, wrong, awaiters, settledFirst] {
                awaiting->fetch_add(1);
                if (settledFirst) {
                    // Every awaiter holds its worker (a sleep is no dispatch wait) until all of
                    // them run: no worker is left for a callback.
                    for (int i = 0; i < 2000 && awaiting->load() < awaiters; ++i) {
                        std::this_thread::sleep_for(std::chrono::milliseconds(5));
                    }
                }
                sdk::Error error = testError(1);
                if (VPLPromiseAwait(promise, &error) != VPLValue("done") || !error.ok()) {
                    wrong->fetch_add(1);
                }
                returned.signal();
            });
        }
        if (!c.settledFirst) {
            for (int i = 0; i < 2000 && awaiting->load() < c.awaiters; ++i) {
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
            EXPECT_EQ(awaiting->load(), c.awaiters);
            promise->fulfill("done");
        }
        std::size_t finished = 0;
        while (finished < c.awaiters && returned.wait(promises_test::kPatience)) {
            ++finished;
        }
        EXPECT_EQ(finished, c.awaiters);
        EXPECT_EQ(wrong->load(), 0);
    }
}

TEST(VPLPromiseOperators, MissingArgumentsNameTheParameter) {
    Ptr p = VPLPromise::resolvedWith(1);
    const VPLPromise::Queue none;
    struct Case {
        const char* expected;
        std::function<void()> call;
    };
    const std::vector<Case> cases = {
        {"queue", [&] { p->then(none, [](const VPLValue& v) { return v; }); }},
        {"work", [&] { p->then(nullptr); }},
        {"reject", [&] { p->catchError(nullptr); }},
        {"recovery", [&] { p->recover(nullptr); }},
        {"work", [&] { p->always(nullptr); }},
        {"predicate", [&] { p->validate(nullptr); }},
        {"reducer", [&] { p->reduce({1}, nullptr); }},
        {"queue", [&] { p->delay(none, 1); }},
        {"queue", [&] { p->timeout(none, 1); }},
        {"work", [] { VPLPromise::async(nullptr); }},
        {"work", [] { VPLPromise::doWork(nullptr); }},
        {"queue", [&] { VPLPromise::attempts(none, 1, 0, nullptr, [] { return VPLValue(); }); }},
        {"work", [] { VPLPromise::retry(nullptr); }},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(contractViolation(c.call),
                  std::string("Invalid parameter not satisfying: ") + c.expected);
    }
}

}  // namespace
