// Events logged from many threads at once reach the engine in the order of their timestamps,
// each exactly once, and each thread's calls (events and user properties alike) keep the order
// it made them in.
#include <gtest/gtest.h>

#include <algorithm>
#include <latch>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tests/sdk/analytics/ConfiguredAnalyticsTest.h"

namespace {

constexpr int kThreads = 8;
constexpr int kEventsPerThread = 150;
// Every this many events a thread also sets its user property to the event's number.
constexpr int kPropertyEvery = 10;

// One event as the engine took it in.
struct Arrival {
    std::int64_t thread = -1;
    std::int64_t number = -1;
    double timestamp = 0;
};

std::int64_t integer(const APMRawParameters& parameters, const char* name) {
    const auto found = parameters.find(name);
    if (found == parameters.end()) {
        return -1;
    }
    if (const sdk::Value* raw = std::get_if<sdk::Value>(&found->second)) {
        return raw->numberAsInt().value_or(-1);
    }
    return std::get<APMValue>(found->second).int64Value();
}

using EventOrderTest = sdktest::ConfiguredAnalyticsTest;

TEST_F(EventOrderTest, EventsFromManyThreadsReachTheEngineInTimestampOrderEachOnce) {
    ZEDOre::configure();
    settle();
    // The interceptor is the engine's first look at an event, on its worker queue.
    std::mutex mutex;
    std::vector<Arrival> arrivals;  // guarded by mutex
    REROdazadeve::setLogEventInterceptor([&](const std::string&, const std::string& name,
                                             const APMRawParameters& parameters, double timestamp) {
        if (name != "ordered") {
            return;
        }
        std::lock_guard lock(mutex);
        arrivals.push_back(
            {integer(parameters, "thread"), integer(parameters, "number"), timestamp});
    });

    std::vector<std::thread> callers;
    std::latch start(kThreads);
    for (int t = 0; t < kThreads; ++t) {
        callers.emplace_back([&, t] {
            start.arrive_and_wait();
            for (int i = 0; i < kEventsPerThread; ++i) {
                REROdazadeve::logEventWithName(
                    "ordered", sdk::Value::Dictionary{{"thread", sdk::Value(std::int64_t{t})},
                                                      {"number", sdk::Value(std::int64_t{i})}});
                if (i % kPropertyEvery == 0) {
                    REROdazadeve::setUserPropertyString(std::to_string(i),
                                                        "last_of_" + std::to_string(t));
                }
            }
        });
    }
    for (std::thread& caller : callers) {
        caller.join();
    }
    settle();

    std::lock_guard lock(mutex);
    ASSERT_EQ(arrivals.size(), static_cast<std::size_t>(kThreads * kEventsPerThread));
    std::map<std::int64_t, std::int64_t> nextNumber;
    for (std::size_t i = 0; i < arrivals.size(); ++i) {
        const Arrival& arrival = arrivals[i];
        if (i > 0) {
            ASSERT_LE(arrivals[i - 1].timestamp, arrival.timestamp)
                << "arrival " << i << " (thread " << arrival.thread << ", event " << arrival.number
                << ") is older than the one before it";
        }
        // Each thread's events arrive once each, in the order it logged them.
        ASSERT_EQ(arrival.number, nextNumber[arrival.thread]++) << "thread " << arrival.thread;
    }
    ASSERT_EQ(nextNumber.size(), static_cast<std::size_t>(kThreads));

    // The user properties went the same way, so each holds its thread's last value.
    const sdk::Value::Dictionary properties = userProperties();
    const std::string last =
        std::to_string((kEventsPerThread - 1) / kPropertyEvery * kPropertyEvery);
    for (int t = 0; t < kThreads; ++t) {
        const auto found = properties.find("last_of_" + std::to_string(t));
        ASSERT_NE(found, properties.end()) << t;
        EXPECT_EQ(found->second, sdk::Value(last)) << t;
    }
}

}  // namespace
