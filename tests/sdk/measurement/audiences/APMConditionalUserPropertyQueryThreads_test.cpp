// A conditional user property query whose worker block runs only after the caller stopped
// waiting: the caller gets nothing and the late block must write into live memory (run under
// the address and thread sanitizers).
#include <chrono>
#include <future>
#include <thread>

#include "tests/sdk/measurement/audiences/APMConditionalUserPropertyControllerTestPeer.h"
#include "tests/sdk/measurement/audiences/CUPTestSupport.h"

namespace {

using sdktest::ConditionalPropertyTest;

TEST_F(ConditionalPropertyTest, QueryHeldBackPastItsWaitReturnsNothingAndTheLateBlockIsHarmless) {
    set(property("gold"), "plan");
    APMConditionalUserPropertyControllerTestPeer::setQueryTimeout(std::chrono::milliseconds(100));

    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    engine_->scheduler()->scheduleOnWorkerQueue("test", [released] { released.wait(); });
    std::optional<std::vector<APMConditionalUserProperty>> found;
    // From a thread that ends before the block runs, so nothing of its stack is left.
    std::thread([&] {
        found = controller().conditionalUserPropertiesWithNamePrefix("pl", std::nullopt);
    }).join();
    EXPECT_FALSE(found);
    EXPECT_FALSE(monitor_.saw(11006));

    release.set_value();
    drain(*engine_);
    // Answered in time, the same query finds the property.
    APMConditionalUserPropertyControllerTestPeer::setQueryTimeout(std::nullopt);
    found = controller().conditionalUserPropertiesWithNamePrefix("pl", std::nullopt);
    ASSERT_TRUE(found);
    ASSERT_EQ(found->size(), 1u);
    EXPECT_EQ(found->front().name(), "plan");
}

TEST_F(ConditionalPropertyTest, QueriesFromManyThreadsWhileEventsAreWritten) {
    set(property("gold"), "plan");
    std::vector<std::thread> threads;
    std::atomic<int> answers{0};
    for (int i = 0; i < 4; ++i) {
        threads.emplace_back([&] {
            for (int j = 0; j < 10; ++j) {
                const auto found =
                    controller().conditionalUserPropertiesWithNamePrefix(std::nullopt, "rcm");
                answers += found && found->size() == 1;
            }
        });
    }
    for (int i = 0; i < 10; ++i) {
        logEvent("scan_started");
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(answers.load(), 40);
}

}  // namespace
