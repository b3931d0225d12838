#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/dispatch/DispatchQueue.h"
#include "platform/dispatch/MainQueue.h"
#include "sdk/promises/VPLPromise.h"
#include "tests/sdk/promises/PromiseTestSupport.h"

namespace {

using promises_test::contractViolation;
using promises_test::runQueuedMainBlocks;
using promises_test::settles;
using promises_test::testError;
using Ptr = VPLPromise::Ptr;
using List = VPLValue::List;

// The outcome of a settled promise: its value, or its error.
VPLValue outcomeOf(const Ptr& promise) {
    return promise->isRejected() ? VPLValue(promise->error()) : promise->value();
}

TEST(VPLPromiseCombinators, EmptyLists) {
    EXPECT_EQ(VPLPromise::all({})->value(), VPLValue(List{}));
    EXPECT_EQ(VPLPromise::any({})->value(), VPLValue(List{}));
    EXPECT_EQ(contractViolation([] { VPLPromise::race({}); }), "No promises to observe");
}

TEST(VPLPromiseCombinators, AllKeepsInputOrderWhateverTheSettlementOrder) {
    Ptr first = VPLPromise::pendingPromise();
    Ptr last = VPLPromise::pendingPromise();
    Ptr all = VPLPromise::all({first, 2, last});
    last->fulfill(VPLValue());
    runQueuedMainBlocks();
    EXPECT_TRUE(all->isPending());
    first->fulfill(1);
    ASSERT_TRUE(settles(all));
    EXPECT_EQ(all->value(), VPLValue(List{1, 2, sdk::Value()}));
}

TEST(VPLPromiseCombinators, AllRejections) {
    const sdk::Error plain = testError(1);
    struct Case {
        const char* name;
        List inputs;
        VPLValue expected;
    };
    const std::vector<Case> cases = {
        {"a plain error wins though every promise fulfils",
         {VPLPromise::resolvedWith(1), plain, VPLPromise::resolvedWith(3)},
         plain},
        {"a plain error wins over an earlier rejected promise",
         {VPLPromise::resolvedWith(testError(2)), plain},
         plain},
        {"a rejected input", {VPLPromise::resolvedWith(testError(2)), 5}, testError(2)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Ptr all = VPLPromise::all(c.inputs);
        ASSERT_TRUE(settles(all));
        EXPECT_EQ(outcomeOf(all), c.expected);
    }
}

TEST(VPLPromiseCombinators, AnyWaitsForEveryInput) {
    const sdk::Error e1 = testError(1);
    Ptr late = VPLPromise::pendingPromise();
    Ptr mixed = VPLPromise::any({VPLPromise::resolvedWith(e1), late});
    runQueuedMainBlocks();
    EXPECT_TRUE(mixed->isPending());
    late->fulfill("v");
    ASSERT_TRUE(settles(mixed));
    EXPECT_EQ(mixed->value(), VPLValue(List{e1, "v"}));

    Ptr plain = VPLPromise::any({VPLPromise::resolvedWith(VPLValue()), testError(3)});
    ASSERT_TRUE(settles(plain));
    EXPECT_EQ(plain->value(), VPLValue(List{sdk::Value(), testError(3)}));
}

TEST(VPLPromiseCombinators, AnyOfRejectionsTakesTheFirstCallbackOnceNoneIsPending) {
    // Inputs settled before they are observed: the first callback already sees none pending.
    Ptr settled = VPLPromise::any({VPLPromise::resolvedWith(testError(1)), testError(2)});
    ASSERT_TRUE(settles(settled));
    EXPECT_EQ(outcomeOf(settled), VPLValue(testError(1)));

    // An input still pending when the others' callbacks run: its own callback decides.
    Ptr late = VPLPromise::pendingPromise();
    Ptr waiting = VPLPromise::any({late, VPLPromise::resolvedWith(testError(1)), testError(3)});
    runQueuedMainBlocks();
    EXPECT_TRUE(waiting->isPending());
    late->reject(testError(2));
    ASSERT_TRUE(settles(waiting));
    EXPECT_EQ(outcomeOf(waiting), VPLValue(testError(2)));
}

TEST(VPLPromiseCombinators, RaceTakesTheFirstToSettle) {
    Ptr never = VPLPromise::pendingPromise();
    const std::vector<std::pair<List, VPLValue>> plainCases = {
        {{never, 5}, 5},
        {{never, testError(4)}, testError(4)},
    };
    for (const auto& [inputs, expected] : plainCases) {
        Ptr race = VPLPromise::race(inputs);
        ASSERT_TRUE(settles(race));
        EXPECT_EQ(outcomeOf(race), expected);
    }
    EXPECT_TRUE(never->isPending());

    Ptr slow = VPLPromise::pendingPromise();
    Ptr quick = VPLPromise::pendingPromise();
    Ptr race = VPLPromise::race({slow, quick});
    runQueuedMainBlocks();
    quick->reject(testError(5));
    ASSERT_TRUE(settles(race));
    slow->fulfill("slow");
    runQueuedMainBlocks();
    EXPECT_EQ(outcomeOf(race), VPLValue(testError(5)));
}

TEST(VPLPromiseCombinators, AnInputThatNeverSettlesIsNotKeptAlive) {
    std::weak_ptr<VPLPromise> input;
    std::weak_ptr<VPLPromise> result;
    using Combinator = Ptr (*)(const VPLPromise::Queue&, List);
    for (Combinator combinator : {Combinator(&VPLPromise::all), Combinator(&VPLPromise::any)}) {
        {
            Ptr never = VPLPromise::pendingPromise();
            input = never;
            result = (*combinator)(VPLPromise::defaultDispatchQueue(), List{never, 1});
        }
        runQueuedMainBlocks();  // the combinator observes
        EXPECT_TRUE(input.expired());
        EXPECT_TRUE(result.expired());
    }
    EXPECT_TRUE(VPLPromiseWaitUntilIdle(5));
}

TEST(VPLPromiseCombinators, CombineValuesAndErrors) {
    EXPECT_EQ(VPLPromiseCombineValuesAndErrors({VPLPromise::resolvedWith(VPLValue()),
                                                VPLPromise::resolvedWith(testError(1)),
                                                VPLPromise::resolvedWith(7)}),
              (List{sdk::Value(), testError(1), 7}));
}

TEST(VPLPromiseWrappers, HandlerArgumentsSettleTheResult) {
    const sdk::Error e = testError(1);
    const sdk::Error ok;
    struct Case {
        const char* name;
        std::function<Ptr()> make;
        VPLValue expected;
    };
    using P = VPLPromise;
    const std::vector<Case> cases = {
        {"completion", [] { return P::wrapCompletion([](auto h) { h(); }); }, VPLValue()},
        {"object", [] { return P::wrapObjectCompletion([](auto h) { h("o"); }); }, "o"},
        {"object given an error", [&] { return P::wrapObjectCompletion([&](auto h) { h(e); }); },
         e},
        {"error nil", [&] { return P::wrapErrorCompletion([&](auto h) { h(ok); }); }, VPLValue()},
        {"error", [&] { return P::wrapErrorCompletion([&](auto h) { h(e); }); }, e},
        {"object or error: object",
         [&] { return P::wrapObjectOrErrorCompletion([&](auto h) { h(VPLValue(), ok); }); },
         VPLValue()},
        {"object or error: error",
         [&] { return P::wrapObjectOrErrorCompletion([&](auto h) { h("o", e); }); }, e},
        {"error or object: object",
         [&] { return P::wrapErrorOrObjectCompletion([&](auto h) { h(ok, 3); }); }, 3},
        {"error or object: error",
         [&] { return P::wrapErrorOrObjectCompletion([&](auto h) { h(e, 3); }); }, e},
        {"two objects",
         [&] { return P::wrap2ObjectsOrErrorCompletion([&](auto h) { h(VPLValue(), "v", ok); }); },
         List{sdk::Value(), "v"}},
        {"two objects: error",
         [&] { return P::wrap2ObjectsOrErrorCompletion([&](auto h) { h(1, 2, e); }); }, e},
        {"bool", [] { return P::wrapBoolCompletion([](auto h) { h(true); }); }, true},
        {"bool or error: NO",
         [&] { return P::wrapBoolOrErrorCompletion([&](auto h) { h(false, ok); }); }, false},
        {"bool or error: YES with an error",
         [&] { return P::wrapBoolOrErrorCompletion([&](auto h) { h(true, e); }); }, e},
        {"integer", [] { return P::wrapIntegerCompletion([](auto h) { h(-42); }); }, -42},
        {"integer or error",
         [&] { return P::wrapIntegerOrErrorCompletion([&](auto h) { h(7, ok); }); }, 7},
        {"integer or error: error",
         [&] { return P::wrapIntegerOrErrorCompletion([&](auto h) { h(7, e); }); }, e},
        {"double", [] { return P::wrapDoubleCompletion([](auto h) { h(0.5); }); }, 0.5},
        {"double or error",
         [&] { return P::wrapDoubleOrErrorCompletion([&](auto h) { h(1.5, ok); }); }, 1.5},
        {"double or error: error",
         [&] { return P::wrapDoubleOrErrorCompletion([&](auto h) { h(1.5, e); }); }, e},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Ptr wrapped = c.make();
        EXPECT_TRUE(wrapped->isPending()) << "the work must run later, on the queue";
        ASSERT_TRUE(settles(wrapped));
        EXPECT_EQ(outcomeOf(wrapped), c.expected);
    }
}

TEST(VPLPromiseWrappers, TheFirstHandlerCallCountsFromAnyThread) {
    auto queue = platform::DispatchQueue::createSerial("test.wrappers");
    Ptr wrapped = VPLPromise::wrapObjectOrErrorCompletion(
        queue, [](VPLPromise::ObjectOrErrorCompletion handler) {
            std::thread([handler] {
                handler("first", sdk::Error());
                handler(VPLValue(), testError(1));
                handler("third", sdk::Error());
            }).detach();
        });
    EXPECT_EQ(VPLPromiseAwait(wrapped), VPLValue("first"));
    EXPECT_TRUE(wrapped->isFulfilled());
}

TEST(VPLPromiseWrappers, MissingArgumentsNameTheParameter) {
    EXPECT_EQ(contractViolation([] { VPLPromise::wrapErrorCompletion(nullptr); }),
              "Invalid parameter not satisfying: work");
    EXPECT_EQ(contractViolation(
                  [] { VPLPromise::wrapCompletion(nullptr, [](VPLPromise::Completion) {}); }),
              "Invalid parameter not satisfying: queue");
    EXPECT_EQ(contractViolation([] { VPLPromise::all(nullptr, {1}); }),
              "Invalid parameter not satisfying: queue");
}

}  // namespace
