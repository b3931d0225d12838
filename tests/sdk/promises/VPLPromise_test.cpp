#include "sdk/promises/VPLPromise.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <string>
#include <system_error>
#include <type_traits>
#include <vector>

#include "platform/dispatch/DispatchQueue.h"
#include "platform/dispatch/DispatchSemaphore.h"
#include "platform/dispatch/MainQueue.h"
#include "platform/dispatch/ThreadStart.h"
#include "sdk/promises/VPLPromiseError.h"
#include "sdk/promises/VPLValue.h"
#include "sdk/utilities/AssertionHandler.h"
#include "tests/sdk/promises/PromiseTestSupport.h"

namespace {

using promises_test::contractViolation;
using promises_test::eventually;
using promises_test::settles;
using promises_test::testError;

struct SettleCase {
    const char* name;
    std::function<VPLPromise::Ptr()> make;
    VPLPromise::State state;
    VPLValue value;
    sdk::Error error;
};

TEST(VPLPromiseCore, SettlesOnceByTheResolutionRule) {
    const sdk::Error e1 = testError(1);
    const std::vector<SettleCase> cases = {
        {"fulfill nil",
         [] {
             auto p = VPLPromise::pendingPromise();
             p->fulfill(VPLValue());
             return p;
         },
         VPLPromise::State::kFulfilled, VPLValue(), sdk::Error()},
        {"fulfill with an error rejects",
         [&] {
             auto p = VPLPromise::pendingPromise();
             p->fulfill(e1);
             return p;
         },
         VPLPromise::State::kRejected, VPLValue(), e1},
        {"second settle ignored",
         [&] {
             auto p = VPLPromise::pendingPromise();
             p->fulfill(7);
             p->reject(e1);
             p->fulfill(8);
             return p;
         },
         VPLPromise::State::kFulfilled, VPLValue(7), sdk::Error()},
        {"reject then fulfill",
         [&] {
             auto p = VPLPromise::pendingPromise();
             p->reject(e1);
             p->fulfill(8);
             p->reject(testError(2));
             return p;
         },
         VPLPromise::State::kRejected, VPLValue(), e1},
        {"resolvedWith value", [] { return VPLPromise::resolvedWith("x"); },
         VPLPromise::State::kFulfilled, VPLValue("x"), sdk::Error()},
        {"resolvedWith error", [&] { return VPLPromise::resolvedWith(e1); },
         VPLPromise::State::kRejected, VPLValue(), e1},
        {"resolved callable", [] { return VPLPromise::resolved()(sdk::Value()); },
         VPLPromise::State::kFulfilled, VPLValue(sdk::Value()), sdk::Error()},
        {"pending callable", [] { return VPLPromise::pending()(); }, VPLPromise::State::kPending,
         VPLValue(), sdk::Error()},
    };
    for (const SettleCase& c : cases) {
        SCOPED_TRACE(c.name);
        VPLPromise::Ptr p = c.make();
        EXPECT_EQ(p->state(), c.state);
        EXPECT_EQ(p->value(), c.value);
        EXPECT_EQ(VPLValue(p->error()), VPLValue(c.error));
        EXPECT_FALSE(p->value().isError());
    }
}

TEST(VPLPromiseCore, CallbacksNeverRunInlineAndRunExactlyOnce) {
    int fulfilled = 0;
    int rejected = 0;
    auto countFulfil = [&](const VPLValue&) { ++fulfilled; };
    auto countReject = [&](const sdk::Error&) { ++rejected; };

    auto settled = VPLPromise::resolvedWith(1);
    settled->observeOnQueue(platform::DispatchQueue::main(), countFulfil, countReject);
    auto pending = VPLPromise::pendingPromise();
    pending->observeOnQueue(platform::DispatchQueue::main(), countFulfil, countReject);
    pending->reject(testError(3));
    pending->reject(testError(4));
    pending->fulfill(5);
    EXPECT_EQ(fulfilled + rejected, 0) << "a callback ran inline";

    ASSERT_TRUE(eventually([&] { return fulfilled + rejected == 2; }));
    platform::drainMainQueue();
    EXPECT_EQ(fulfilled, 1);
    EXPECT_EQ(rejected, 1);
}

TEST(VPLPromiseCore, ObserversOnASerialQueueRunInRegistrationOrder) {
    auto queue = platform::DispatchQueue::createSerial("test.order");
    for (bool settleFirst : {false, true}) {
        SCOPED_TRACE(settleFirst ? "settled before observing" : "settled after observing");
        auto p = VPLPromise::pendingPromise();
        if (settleFirst) {
            p->fulfill(1);
        }
        std::vector<int> order;  // written on `queue` only
        std::atomic<int> ran{0};
        for (int i = 0; i < 3; ++i) {
            p->observeOnQueue(
                queue,
                [&, i](const VPLValue&) {
                    order.push_back(i);
                    ++ran;
                },
                [](const sdk::Error&) {});
        }
        p->fulfill(2);
        ASSERT_TRUE(eventually([&] { return ran == 3; }));
        queue->sync([] {});
        EXPECT_EQ(order, (std::vector<int>{0, 1, 2}));
    }
}

TEST(VPLPromiseCore, ChainSettlesThroughTransforms) {
    const sdk::Error e1 = testError(1);
    auto main = platform::DispatchQueue::main();
    auto source = VPLPromise::pendingPromise();
    auto inner = VPLPromise::pendingPromise();

    auto passThrough = source->chainOnQueue(main, nullptr, nullptr);
    auto adopting = source->chainOnQueue(
        main, [inner](const VPLValue&) { return VPLValue(inner); }, nullptr);
    auto failing = source->chainOnQueue(
        main, [&](const VPLValue&) { return VPLValue(e1); }, nullptr);
    auto doubled = source->chainOnQueue(
        main, [](const VPLValue& v) { return VPLValue(*v.value()->intValue() * 2); }, nullptr);
    source->fulfill(21);

    ASSERT_TRUE(settles(doubled));
    ASSERT_TRUE(settles(passThrough));
    ASSERT_TRUE(settles(failing));
    EXPECT_EQ(doubled->value(), VPLValue(42));
    EXPECT_EQ(passThrough->value(), VPLValue(21));
    EXPECT_TRUE(failing->error().is("test.domain", 1));

    platform::drainMainQueue();
    EXPECT_TRUE(adopting->isPending()) << "adoption must wait for the returned promise";
    inner->reject(testError(9));
    ASSERT_TRUE(settles(adopting));
    EXPECT_TRUE(adopting->error().is("test.domain", 9));
}

TEST(VPLPromiseCore, ChainOfARejectionPassesOrRecovers) {
    auto main = platform::DispatchQueue::main();
    auto source = VPLPromise::resolvedWith(testError(5));
    bool fulfilTransformRan = false;
    auto passed = source->chainOnQueue(
        main,
        [&](const VPLValue& v) {
            fulfilTransformRan = true;
            return v;
        },
        nullptr);
    auto recovered = source->chainOnQueue(
        main, nullptr, [](const sdk::Error& e) { return VPLValue(e.code() + 100); });
    ASSERT_TRUE(settles(passed));
    ASSERT_TRUE(settles(recovered));
    EXPECT_FALSE(fulfilTransformRan);
    EXPECT_TRUE(passed->error().is("test.domain", 5));
    EXPECT_EQ(recovered->value(), VPLValue(105));
}

TEST(VPLPromiseCore, DescriptionFollowsTheState) {
    auto p = VPLPromise::pendingPromise();
    const std::string text = p->description();
    const std::string prefix = text.substr(0, text.find('>') + 1);
    EXPECT_EQ(text.rfind("<VPLPromise 0x", 0), 0u) << text;
    EXPECT_EQ(text, prefix + " Pending");
    EXPECT_GT(prefix.size(), std::string("<VPLPromise 0x>").size()) << text;

    p->fulfill("done");
    EXPECT_EQ(p->description(), prefix + " Fulfilled: done");
    auto fulfilledText = [](VPLValue value) {
        const std::string description = VPLPromise::resolvedWith(std::move(value))->description();
        return description.substr(description.find('>'));
    };
    EXPECT_EQ(fulfilledText(VPLValue()), "> Fulfilled: (null)");
    EXPECT_EQ(fulfilledText(42), "> Fulfilled: 42");
    EXPECT_EQ(fulfilledText(VPLValue::List{"a", 1}), "> Fulfilled: (\"a\", 1)");

    auto r = VPLPromise::resolvedWith(testError(2));
    EXPECT_NE(r->description().find("> Rejected: test.domain error 2: failure 2"),
              std::string::npos)
        << r->description();
}

TEST(VPLPromiseCore, PendingObjectsLiveUntilSettlement) {
    auto p = VPLPromise::pendingPromise();
    auto object = std::make_shared<int>(1);
    std::weak_ptr<int> watch = object;
    p->addPendingObject(std::move(object));
    EXPECT_FALSE(watch.expired());
    p->fulfill(VPLValue());
    EXPECT_TRUE(watch.expired());

    auto late = std::make_shared<int>(2);
    p->addPendingObject(late);
    EXPECT_EQ(late.use_count(), 1) << "a settled promise must not keep objects";
}

TEST(VPLPromiseCore, ContractViolationsReportTheParameterAndChangeNothing) {
    auto p = VPLPromise::pendingPromise();
    auto main = platform::DispatchQueue::main();
    auto onFulfill = [](const VPLValue&) {};
    auto onReject = [](const sdk::Error&) {};
    struct Case {
        const char* expected;
        std::function<void()> call;
    };
    const std::vector<Case> cases = {
        {"Invalid parameter not satisfying: queue",
         [&] { p->observeOnQueue(nullptr, onFulfill, onReject); }},
        {"Invalid parameter not satisfying: onFulfill",
         [&] { p->observeOnQueue(main, nullptr, onReject); }},
        {"Invalid parameter not satisfying: onReject",
         [&] { p->observeOnQueue(main, onFulfill, nullptr); }},
        {"Invalid parameter not satisfying: queue",
         [&] { (void)p->chainOnQueue(nullptr, nullptr, nullptr); }},
        {"Invalid parameter not satisfying: queue",
         [] { VPLPromise::setDefaultDispatchQueue(nullptr); }},
        {"Invalid parameter not satisfying: object", [&] { p->addPendingObject(nullptr); }},
        {"Invalid error type.", [&] { p->reject(sdk::Error()); }},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(contractViolation(c.call), c.expected);
    }
    EXPECT_TRUE(p->isPending());
    EXPECT_EQ(VPLPromise::defaultDispatchQueue(), main);

    // A handler that returns: the calls report once each and do nothing.
    std::vector<std::string> reports;
    sdk::AssertionHandler previous = sdk::setCurrentThreadAssertionHandler(
        [&](std::string_view, const std::string& message) { reports.push_back(message); });
    p->reject(sdk::Error());
    EXPECT_EQ(p->chainOnQueue(nullptr, nullptr, nullptr), nullptr);
    sdk::setCurrentThreadAssertionHandler(previous);
    EXPECT_EQ(reports, (std::vector<std::string>{"Invalid error type.",
                                                 "Invalid parameter not satisfying: queue"}));
    EXPECT_TRUE(p->isPending());
}

TEST(VPLPromiseCore, WaitUntilIdleSeesDroppedPromisesAndMainQueueCallbacks) {
    VPLPromise::pendingPromise();  // dropped unsettled: must leave the group
    auto kept = VPLPromise::pendingPromise();
    EXPECT_FALSE(VPLPromiseWaitUntilIdle(0.05));

    bool ran = false;
    kept->observeOnQueue(
        VPLPromise::defaultDispatchQueue(), [&](const VPLValue&) { ran = true; },
        [](const sdk::Error&) {});
    kept->fulfill(1);
    // The callback waits on the main queue; the wait routine drains it on this thread.
    EXPECT_TRUE(VPLPromiseWaitUntilIdle(5));
    EXPECT_TRUE(ran);
}

TEST(VPLPromiseCore, APromiseThatWouldAdoptItselfRejects) {
    auto queue = platform::DispatchQueue::createSerial("test.self-adoption");
    auto source = VPLPromise::pendingPromise();
    VPLPromise::Ptr chained;
    chained = source->then(queue, [&chained](const VPLValue&) { return VPLValue(chained); });
    auto slot = std::make_shared<VPLPromise::Ptr>();
    queue->suspend();  // the work runs once the promise is in the slot
    *slot = VPLPromise::async(queue, [slot](VPLPromise::Fulfill fulfill, VPLPromise::Reject) {
        fulfill(VPLValue(*slot));
    });
    queue->resume();
    source->fulfill(1);
    EXPECT_TRUE(VPLPromiseWaitUntilIdle(10));
    for (const VPLPromise::Ptr& p : {chained, *slot}) {
        ASSERT_TRUE(p->isRejected());
        EXPECT_TRUE(VPLPromiseErrorIs(p->error(), VPLPromiseErrorCode::kAdoptsItself));
    }
    slot->reset();
}

// Cycles through chaining and adoption are found like direct self-adoption: every promise in
// the cycle rejects, and nothing is left holding them once the test lets go.
TEST(VPLPromiseCore, AdoptionCyclesRejectLikeSelfAdoption) {
    using Slot = std::shared_ptr<std::weak_ptr<VPLPromise>>;
    // Returns the promise in `slot` (it is filled in once it exists).
    auto returning = [](Slot slot) {
        return [slot](const VPLValue&) { return VPLValue(slot->lock()); };
    };
    auto passOn = [](const VPLValue& value) { return value; };
    struct Case {
        const char* name;
        platform::QueueRef queue;
        int rounds;
    };
    const Case cases[] = {
        {"serial queue", platform::DispatchQueue::createSerial("test.cycle"), 1},
        {"concurrent queue", platform::DispatchQueue::createConcurrent("test.cycle"), 50},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        for (int round = 0; round < c.rounds; ++round) {
            std::vector<std::weak_ptr<VPLPromise>> all;
            {
                // P adopts Q while Q adopts P.
                auto a = VPLPromise::pendingPromise();
                auto b = VPLPromise::pendingPromise();
                auto slotP = std::make_shared<std::weak_ptr<VPLPromise>>();
                auto slotQ = std::make_shared<std::weak_ptr<VPLPromise>>();
                auto p = a->then(c.queue, returning(slotQ));
                auto q = b->then(c.queue, returning(slotP));
                *slotP = p;
                *slotQ = q;
                // R adopts its own descendant, two steps down.
                auto e = VPLPromise::pendingPromise();
                auto slotD = std::make_shared<std::weak_ptr<VPLPromise>>();
                auto r = e->then(c.queue, returning(slotD));
                auto child = r->then(c.queue, passOn);
                auto descendant = child->then(c.queue, passOn);
                *slotD = descendant;
                a->fulfill(1);
                b->fulfill(2);
                e->fulfill(3);
                for (const VPLPromise::Ptr& promise : {p, q, r, child, descendant}) {
                    ASSERT_TRUE(eventually([&] { return !promise->isPending(); }))
                        << promise->description();
                    ASSERT_TRUE(promise->isRejected()) << promise->description();
                    EXPECT_TRUE(
                        VPLPromiseErrorIs(promise->error(), VPLPromiseErrorCode::kAdoptsItself));
                    all.push_back(promise);
                }
            }
            // A callback task lets go of what it captured just after it has left the group.
            EXPECT_TRUE(eventually([&] {
                return std::all_of(all.begin(), all.end(),
                                   [](const std::weak_ptr<VPLPromise>& p) { return p.expired(); });
            }));
        }
    }
}

TEST(VPLPromiseCore, DeeplyNestedValuesAreFreedWithoutRecursion) {
    constexpr int kDepth = 60000;
    for (const bool inLists : {false, true}) {
        SCOPED_TRACE(inLists ? "promises in lists" : "promises");
        std::weak_ptr<VPLPromise> innermost;
        {
            VPLPromise::Ptr outer = VPLPromise::resolvedWith(1);
            innermost = outer;
            for (int i = 0; i < kDepth; ++i) {
                VPLValue held =
                    inLists ? VPLValue(VPLValue::List{VPLValue(outer)}) : VPLValue(outer);
                if (i % 2 == 0) {
                    outer = VPLPromise::resolvedWith(std::move(held));
                } else {
                    outer = VPLPromise::pendingPromise();
                    outer->fulfill(std::move(held));
                }
            }
            // The last reference goes here.
        }
        EXPECT_TRUE(innermost.expired());
    }
}

TEST(VPLPromiseCore, ALongPendingChainIsDroppedWithoutRecursion) {
    constexpr int kSteps = 200000;
    auto queue = platform::DispatchQueue::createSerial("test.long-chain");
    {
        auto head = VPLPromise::pendingPromise();
        VPLPromise::Ptr step = head;
        for (int i = 0; i < kSteps; ++i) {
            step = step->then(queue, [](const VPLValue& v) { return v; });
        }
        VPLValue::List items(kSteps, VPLValue(1));
        auto reduced =
            head->reduce(queue, std::move(items),
                         [](const VPLValue& partial, const VPLValue&) { return partial; });
        // Both chains go away unsettled when the last holder lets go of their heads.
    }
    EXPECT_TRUE(VPLPromiseWaitUntilIdle(10));
}

TEST(VPLPromiseCore, EveryObserverRunsWhenNoNewThreadCanStart) {
    auto queue = platform::DispatchQueue::createConcurrent("test.no-threads");
    platform::DispatchSemaphore gate, started;
    // The semaphores are copied into the block (copies share one counter): the block may still
    // be returning from its wait when the test ends.
    queue->async([gate, started] {
        started.signal();
        (void)gate.wait(std::chrono::seconds(10));
    });
    ASSERT_TRUE(started.wait(std::chrono::seconds(10)));
    platform::TEST_setThreadStarter([](std::function<void()>) {
        throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
    });
    auto promise = VPLPromise::pendingPromise();
    std::atomic<int> observed{0};
    for (int i = 0; i < 3; ++i) {
        promise->observeOnQueue(
            queue, [&](const VPLValue&) { observed.fetch_add(1); }, [](const sdk::Error&) {});
    }
    EXPECT_NO_THROW(promise->fulfill(1));
    gate.signal();  // the one worker there is runs the callbacks
    EXPECT_TRUE(VPLPromiseWaitUntilIdle(10));
    platform::TEST_setThreadStarter(nullptr);
    EXPECT_EQ(observed.load(), 3);
}

TEST(VPLValueTest, KindsConversionsAndEquality) {
    auto object = std::make_shared<std::string>("item");
    auto promise = VPLPromise::resolvedWith(1);
    EXPECT_TRUE(VPLValue(sdk::Error()).isNil());
    EXPECT_TRUE(VPLValue(VPLPromise::Ptr()).isNil());
    EXPECT_TRUE(VPLValue(std::shared_ptr<int>()).isNil());
    EXPECT_FALSE(VPLValue(sdk::Value()).isNil()) << "the null value is not nil";
    EXPECT_EQ(VPLValue(object).object<std::string>(), object);
    EXPECT_EQ(VPLValue(object).object<int>(), nullptr);
    EXPECT_EQ(VPLValue(promise).promise(), promise);
    EXPECT_EQ(VPLValue(testError(1)), VPLValue(testError(1)));
    EXPECT_NE(VPLValue(testError(1)), VPLValue(testError(2)));
    EXPECT_NE(VPLValue(1), VPLValue(true));
    static_assert(!std::is_constructible_v<VPLValue, int*>, "a raw pointer is no boolean");
    EXPECT_EQ(VPLValue(VPLValue::List{1, VPLValue(), testError(3)}).description(),
              "(1, (null), test.domain error 3: failure 3)");
}

}  // namespace
