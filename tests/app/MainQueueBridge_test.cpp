#include "app/MainQueueBridge.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QEvent>
#include <QTest>
#include <atomic>
#include <thread>

#include "platform/dispatch/DispatchQueue.h"
#include "platform/dispatch/MainQueue.h"
#include "tests/app/AppStateFakes.h"

namespace cb {
namespace {

// Counts the queued calls delivered to the application object.
class QueuedCallCounter : public QObject {
  public:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == QCoreApplication::instance() && event->type() == QEvent::MetaCall) {
            ++calls;
        }
        return false;
    }
    int calls = 0;
};

TEST(MainQueueBridgeTest, ABurstOfBlocksPostsOneWakeupAndRunsOnTheEventLoopThread) {
    cb::testing::ensureCoreApplication();
    QueuedCallCounter counter;
    QCoreApplication::instance()->installEventFilter(&counter);
    {
        MainQueueBridge bridge;
        EXPECT_TRUE(platform::isMainThread());
        QTest::qWait(1);  // the bridge's first drain
        counter.calls = 0;
        constexpr int kBlocks = 500;
        std::atomic<int> ran{0};
        std::atomic<int> offMainThread{0};
        std::thread submitter([&] {
            for (int i = 0; i < kBlocks; ++i) {
                platform::DispatchQueue::main()->async([&] {
                    if (!platform::isMainThread()) {
                        offMainThread.fetch_add(1);
                    }
                    ran.fetch_add(1);
                });
            }
        });
        submitter.join();
        EXPECT_TRUE(cb::testing::waitFor([&] { return ran.load() == kBlocks; }));
        EXPECT_EQ(offMainThread.load(), 0);
        EXPECT_LE(counter.calls, 2);
        // A block queued after the drain wakes the loop again.
        platform::DispatchQueue::main()->async([&] { ran.fetch_add(1); });
        EXPECT_TRUE(cb::testing::waitFor([&] { return ran.load() == kBlocks + 1; }));
    }
    QCoreApplication::instance()->removeEventFilter(&counter);
}

}  // namespace
}  // namespace cb
