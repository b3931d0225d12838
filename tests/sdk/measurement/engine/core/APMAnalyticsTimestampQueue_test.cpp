// The facade's timestamp queue on its own: many threads append plain and timestamped steps while
// the operation queue is suspended and after it is resumed; the steps run on the serial queue in
// the order their timestamps were read, each once, each thread's in its own order.
#include "sdk/measurement/engine/core/APMAnalyticsTimestampQueue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <latch>
#include <map>
#include <thread>
#include <vector>

#include "sdk/measurement/audiences/APMConsentSettingsUtil.h"

namespace {

constexpr int kThreads = 8;
constexpr int kStepsPerPhase = 1000;
// Every this many steps a thread appends a plain block instead of a timestamped step.
constexpr int kPlainEvery = 5;

// A clock that never answers the same time twice: each reading is later than every reading
// before it, so a step linked out of the order of its reading shows as a smaller timestamp.
std::atomic<std::int64_t> gTicks{0};
double countingClock() {
    return static_cast<double>(gTicks.fetch_add(1) + 1);
}

// One step as it ran on the serial queue.
struct Ran {
    int thread = 0;
    int number = 0;
    double timestamp = -1;  // -1 for a plain block
    bool hadConsent = false;
};

class TimestampQueueTest : public ::testing::Test {
  protected:
    // Appends kStepsPerPhase steps from each of kThreads threads, numbered from `first`.
    void appendFromThreads(int first) {
        std::latch start(kThreads);
        std::vector<std::thread> callers;
        for (int t = 0; t < kThreads; ++t) {
            callers.emplace_back([&, t] {
                start.arrive_and_wait();
                for (int n = first; n < first + kStepsPerPhase; ++n) {
                    if (n % kPlainEvery == 0) {
                        queue_->queue([this, t, n] { ran_.push_back({t, n}); });
                    } else {
                        queue_->queueWithTimestamp(
                            [this, t, n](double timestamp,
                                         std::shared_ptr<const APMConsentSnapshot> consent) {
                                ran_.push_back({t, n, timestamp, consent != nullptr});
                            });
                    }
                }
            });
        }
        for (std::thread& caller : callers) {
            caller.join();
        }
    }

    // The steps run so far, read on the serial queue.
    std::vector<Ran> ranSoFar() {
        std::vector<Ran> copy;
        serial_->sync([&] { copy = ran_; });
        return copy;
    }

    const std::shared_ptr<platform::OperationQueue> operations_ =
        platform::OperationQueue::create("test.operations", true);
    const platform::QueueRef serial_ = platform::DispatchQueue::createSerial("test.serial");
    const std::shared_ptr<APMAnalyticsTimestampQueue> queue_ =
        APMAnalyticsTimestampQueue::create(operations_, serial_, countingClock);
    std::vector<Ran> ran_;  // on serial_
};

TEST_F(TimestampQueueTest, StepsFromManyThreadsRunInTimestampOrderEachOnce) {
    // Held while the operation queue is suspended...
    appendFromThreads(0);
    EXPECT_TRUE(ranSoFar().empty());
    // ...then all of it flows, and steps appended meanwhile join behind it.
    operations_->setSuspended(false);
    appendFromThreads(kStepsPerPhase);
    queue_->waitUntilAllAreQueued();
    const std::vector<Ran> ran = ranSoFar();

    ASSERT_EQ(ran.size(), static_cast<std::size_t>(kThreads * 2 * kStepsPerPhase));
    std::map<int, int> next;
    double lastTimestamp = 0;
    for (std::size_t i = 0; i < ran.size(); ++i) {
        const Ran& step = ran[i];
        ASSERT_EQ(step.number, next[step.thread]++) << "thread " << step.thread << " at " << i;
        if (step.timestamp >= 0) {
            ASSERT_GT(step.timestamp, lastTimestamp)
                << "thread " << step.thread << " step " << step.number << " at " << i;
            lastTimestamp = step.timestamp;
            EXPECT_TRUE(step.hadConsent);
        }
    }
}

TEST_F(TimestampQueueTest, WaitingReturnsOnceEverythingAppendedBeforeIsOnTheSerialQueue) {
    operations_->setSuspended(false);
    // The serial queue is held, so nothing on it runs while the waits below return.
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    serial_->async([released] { released.wait(); });
    std::atomic<int> posted{0};
    for (int round = 0; round < 200; ++round) {
        queue_->queue([&posted] { posted.fetch_add(1); });
        queue_->queueWithTimestamp(
            [&posted](double, std::shared_ptr<const APMConsentSnapshot>) { posted.fetch_add(1); });
        queue_->waitUntilAllAreQueued();
    }
    EXPECT_EQ(posted.load(), 0);
    release.set_value();
    serial_->sync([] {});
    EXPECT_EQ(posted.load(), 400);
}

}  // namespace
