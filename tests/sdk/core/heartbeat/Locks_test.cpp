#include <gtest/gtest.h>

#include <map>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "sdk/core/heartbeat/AtomicBox.h"
#include "sdk/core/heartbeat/RZDAllocatedUnfairLock.h"

namespace {

TEST(RZDAllocatedUnfairLockTest, ThrowingBodyReleasesTheLockAndKeepsItsChanges) {
    RZDAllocatedUnfairLock<std::vector<int>> lock(std::vector<int>{1});
    EXPECT_THROW(lock.withLock([](std::vector<int>& state) {
        state.push_back(2);
        throw std::runtime_error("body failed");
    }),
                 std::runtime_error);
    // Taking it again would hang if the throw had left it held.
    EXPECT_EQ(lock.withLock([](std::vector<int>& state) { return state.size(); }), 2u);
    EXPECT_EQ(lock.value(), (std::vector<int>{1, 2}));

    RZDAllocatedUnfairLock<> bare;
    EXPECT_THROW(bare.withLock([]() -> int { throw std::runtime_error("x"); }), std::runtime_error);
    EXPECT_EQ(bare.withLock([] { return 7; }), 7);
}

TEST(RZDAllocatedUnfairLockTest, SerialisesWritersOnManyThreads) {
    RZDAllocatedUnfairLock<std::map<int, int>> counts;
    AtomicBox<long> total(0);
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 1000; ++i) {
                counts.withLock([&](auto& map) { ++map[t % 3]; });
                total.withLock([](long& value) { ++value; });
                counts.lock();
                counts.unlock();
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    const auto map = counts.value();
    EXPECT_EQ(map.at(0) + map.at(1) + map.at(2), 8000);
    EXPECT_EQ(total.value(), 8000);
    total.setValue(-1);
    EXPECT_EQ(total.value(), -1);
}

}  // namespace
