// The facade's entry points called from several threads at once: events, user properties,
// default parameters, the purchase filter and the queries whose callbacks come back on other
// queues. One test, so the whole binary runs in one process under ThreadSanitizer.
#include <atomic>
#include <latch>
#include <thread>

#include "platform/storekit/StoreTransaction.h"
#include "sdk/measurement/engine/APMClock.h"
#include "tests/sdk/measurement/engine/core/EngineCoreTestSupport.h"

namespace {

using sdktest::EngineTest;

class EntryThreadsTest : public EngineTest {};

TEST_F(EntryThreadsTest, EntryPointsCalledFromSeveralThreadsAllTakeEffect) {
    ASSERT_TRUE(startEngine(kAppID));
    constexpr int kThreads = 4;
    constexpr int kCalls = 20;
    std::atomic<int> answers{0};
    // Three callbacks per thread, each on another queue.
    std::latch answered(kThreads * 3);
    std::vector<std::thread> callers;
    for (int t = 0; t < kThreads; ++t) {
        callers.emplace_back([&, t] {
            const std::string suffix = std::to_string(t);
            engine_->setDefaultEventParameters(
                sdk::Value::Dictionary{{"thread_" + suffix, sdk::Value(std::int64_t{t})}});
            engine_->setUserAttribute(APMUserAttribute::initWithOrigin(
                "app", "prop_" + suffix, APMValue(std::int64_t{t}), APMCurrentTimeInterval()));
            for (int i = 0; i < kCalls; ++i) {
                APMMeasurement::EventEntry entry;
                entry.origin = "app";
                entry.isPublicEvent = true;
                entry.name = "event_" + suffix;
                entry.timestamp = APMCurrentTimeInterval();
                entry.enabled = true;
                engine_->logEventWithOrigin(std::move(entry));
            }
            platform::StoreTransaction purchase;
            purchase.transactionState = platform::StoreTransactionState::kPurchased;
            purchase.productIdentifier = "gold";
            purchase.transactionIdentifier = "T" + suffix;
            engine_->filterPurchaseTransactions({purchase},
                                                [&](std::vector<platform::StoreTransaction> kept) {
                                                    answers += static_cast<int>(kept.size());
                                                    answered.count_down();
                                                });
            engine_->maxUserPropertiesForOrigin("rcm", [&](std::int32_t n) {
                answers += n;
                answered.count_down();
            });
            engine_->userPropertiesIncludingInternal(false, [&](sdk::Value::Dictionary) {
                answers += 1;
                answered.count_down();
            });
        });
    }
    for (std::thread& caller : callers) {
        caller.join();
    }
    answered.wait();
    drain(*engine_);
    EXPECT_EQ(answers.load(), kThreads * (1 + 25 + 1));
    EXPECT_EQ(sqlite("SELECT count(*) FROM raw_events WHERE name LIKE 'event!_%' ESCAPE '!';"),
              std::to_string(kThreads * kCalls) + "\n");
    EXPECT_EQ(sqlite("SELECT count(*) FROM user_attributes WHERE name LIKE 'prop!_%' ESCAPE '!';"),
              std::to_string(kThreads) + "\n");
}

}  // namespace
