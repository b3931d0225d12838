#include "sdk/core/heartbeat/HeartbeatStorage.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "HeartbeatTestSupport.h"
#include "platform/dispatch/DispatchSemaphore.h"
#include "sdk/core/heartbeat/FileStorage.h"
#include "sdk/core/heartbeat/HeartbeatController.h"
#include "sdk/core/heartbeat/StorageFactory.h"
#include "tests/sdk/utilities/UtilitiesTestSupport.h"
#include "tests/support/Command.h"
#include "tests/support/Fixtures.h"
#include "tests/support/TempDir.h"

namespace heartbeat {
namespace {

using heartbeattest::utc;

std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

using cb::testsupport::writeText;

const BundleTransform kKeep = [](std::optional<HeartbeatsBundle> b) { return b; };

class HeartbeatStorageTest : public ::testing::Test {
  protected:
    std::filesystem::path fileOf(const std::string& id) const {
        return data_.path() / "vovidu-heartbeat-storage" / StorageFactory::fileName(id);
    }

    cb::testsupport::TempDir data_{"cb-heartbeat"};
    sdktest::ScopedEnv dataHome_{"XDG_DATA_HOME", data_.path().string()};
};

TEST_F(HeartbeatStorageTest, FirstLogWritesTheStoredFileFormat) {
    const std::string id = "1:1:ios:ab";
    const auto store = HeartbeatStorage::sharedStore(id);
    EXPECT_EQ(store->TEST_queueLabel(), "com.heartbeat.storage.1:1:ios:ab");
    HeartbeatController controller(store, [] { return utc(2024, 3, 5, 23.5 * 3600); });
    controller.log("a/1");
    store->updateSync(kKeep);  // waits for the queued log

    const auto path = data_.path() / "vovidu-heartbeat-storage/heartbeats-1_1_ios_ab";
    ASSERT_TRUE(std::filesystem::is_regular_file(path));
    std::string nulls;
    for (int i = 0; i < 29; ++i) {
        nulls += ",null";
    }
    EXPECT_EQ(cb::testsupport::commandOutput("python3 -m json.tool --sort-keys --compact '" +
                                             path.string() + "'"),
              R"({"buffer":{"circularQueue":[{"agent":"a/1","date":731289600,"timePeriods":[1],)"
              R"("version":0})" +
                  nulls +
                  R"(],"tailIndex":1},"capacity":30,"lastAddedHeartbeatDates":[1,731289600]})"
                  "\n");
}

TEST_F(HeartbeatStorageTest, SharedStoreIsOneInstanceWhileHeld) {
    auto first = HeartbeatStorage::sharedStore("x:y");
    EXPECT_EQ(HeartbeatStorage::sharedStore("x:y"), first);
    EXPECT_NE(HeartbeatStorage::sharedStore("x:z"), first);
    (void)first->swapSync([](auto) { return std::optional(HeartbeatsBundle(4)); });
    const std::weak_ptr<HeartbeatStorage> released = first;
    first.reset();
    EXPECT_TRUE(released.expired());

    const auto second = HeartbeatStorage::sharedStore("x:y");
    const auto swapped = second->swapSync(kKeep);
    ASSERT_TRUE(swapped.error.ok());
    EXPECT_EQ(swapped.old, HeartbeatsBundle(4));
    EXPECT_TRUE(std::filesystem::exists(data_.path() / "vovidu-heartbeat-storage/heartbeats-x_y"));
}

// A store that dies while sharedStore makes a newer one of its id must leave the newer one in
// the map: removing it would let a third store, with its own queue, write the same file.
TEST_F(HeartbeatStorageTest, DyingStoreSparesANewerStoreOfItsId) {
    std::shared_ptr<HeartbeatStorage> newer;
    HeartbeatStorage::TEST_setBeforeRemovalHook([&](const std::string& id) {
        if (!newer && id == "dying") {
            newer = HeartbeatStorage::sharedStore(id);
        }
    });
    auto old = HeartbeatStorage::sharedStore("dying");
    old.reset();
    HeartbeatStorage::TEST_setBeforeRemovalHook(nullptr);
    ASSERT_TRUE(newer);
    EXPECT_EQ(HeartbeatStorage::sharedStore("dying"), newer);
}

TEST_F(HeartbeatStorageTest, SwapWithNothingStoredAndTransformToNothing) {
    const auto store = HeartbeatStorage::sharedStore("swap");
    auto first = store->swapSync([](auto old) {
        EXPECT_FALSE(old);
        return std::optional(HeartbeatsBundle(2));
    });
    EXPECT_TRUE(first.error.ok());
    EXPECT_FALSE(first.old);
    EXPECT_EQ(store->swapSync([](auto) { return std::nullopt; }).old, HeartbeatsBundle(2));
    EXPECT_EQ(std::filesystem::file_size(fileOf("swap")), 0u);
    EXPECT_FALSE(store->swapSync(kKeep).old);
}

TEST_F(HeartbeatStorageTest, DamagedFilesReadAsNothingAndAreReplacedByTheNextLog) {
    const std::string damaged[] = {
        "{}",
        R"({"capacity":30,"lastAddedHeartbeatDates":[1,0],"buffer":{"circul)",
        R"({"capacity":1,"lastAddedHeartbeatDates":[2,0],"buffer":{"circularQueue":[null],"tailIndex":0}})",
        R"({"capacity":1,"lastAddedHeartbeatDates":[1,0,1],"buffer":{"circularQueue":[null],"tailIndex":0}})",
    };
    for (const auto& content : damaged) {
        writeText(fileOf("damaged"), content);
        const auto store = HeartbeatStorage::sharedStore("damaged");
        HeartbeatController controller(store, [] { return utc(2024, 3, 5); });
        controller.log("a/1");
        const auto payload = controller.flush();
        EXPECT_EQ(payload, HeartbeatsPayload({{"a/1", {utc(2024, 3, 5)}}}, 2)) << content;
        EXPECT_TRUE(HeartbeatsBundle::decode(readFile(fileOf("damaged")))) << content;
    }
}

TEST_F(HeartbeatStorageTest, TailAtTheEndOfTheRingBecomesADiagnosticHeartbeat) {
    std::string queue = "null";
    for (int i = 1; i < 30; ++i) {
        queue += ",null";
    }
    writeText(fileOf("tail"),
              R"({"capacity":30,"lastAddedHeartbeatDates":[1,0],"buffer":{"circularQueue":[)" +
                  queue + R"(],"tailIndex":30}})");
    const auto store = HeartbeatStorage::sharedStore("tail");
    HeartbeatController controller(store, [] { return utc(2024, 3, 5); });
    controller.log("a/1");
    store->updateSync(kKeep);

    const auto bundle = HeartbeatsBundle::decode(readFile(fileOf("tail")));
    ASSERT_TRUE(bundle);
    EXPECT_EQ(bundle->buffer().tailIndex(), 1);
    ASSERT_TRUE(bundle->buffer().circularQueue()[0]);
    EXPECT_EQ(bundle->buffer().circularQueue()[0]->agent,
              "a/1 error/Out-of-bounds-push-at-index-30-to-ring-buffer-withend-index-of-30.");
    EXPECT_EQ(std::distance(bundle->buffer().begin(), bundle->buffer().end()), 1);
}

TEST_F(HeartbeatStorageTest, SwapReportsAFailedWriteAndKeepsTheOldFile) {
    auto state = std::make_shared<heartbeattest::MemoryStorage::State>();
    const auto store =
        HeartbeatStorage::make("memory", std::make_unique<heartbeattest::MemoryStorage>(state));
    (void)store->swapSync([](auto) { return std::optional(HeartbeatsBundle(1)); });
    state->failWrites = true;
    const auto failed = store->swapSync([](auto) { return std::optional(HeartbeatsBundle(2)); });
    EXPECT_TRUE(failed.error.is(kStorageErrorDomain, 1));
    EXPECT_FALSE(failed.old);

    platform::DispatchSemaphore done(0);
    store->swapAsync([](auto) { return std::nullopt; },
                     [&](SwapResult result) {
                         EXPECT_TRUE(result.error.is(kStorageErrorDomain, 1));
                         done.signal();
                     });
    done.wait();
    state->failWrites = false;
    EXPECT_EQ(store->swapSync(kKeep).old, HeartbeatsBundle(1));
}

// Threads log, flush and drop their stores for three ids at once, all on one day: each id
// must end with exactly one heartbeat, flushed or still stored, whatever the interleaving.
TEST_F(HeartbeatStorageTest, ConcurrentLogsAndFlushesKeepOneHeartbeatPerIdAndDay) {
    const std::vector<std::string> ids{"t:1", "t:2", "t:3"};
    std::atomic<int> flushed[3] = {0, 0, 0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 6; ++t) {
        threads.emplace_back([&, t] {
            for (int round = 0; round < 20; ++round) {
                const auto index = static_cast<std::size_t>((t + round) % 3);
                HeartbeatController controller(HeartbeatStorage::sharedStore(ids[index]),
                                               [] { return utc(2024, 3, 5, 3600); });
                controller.log("agent/" + std::to_string(t));
                if (round % 4 == 0) {
                    for (const auto& entry : controller.flush().userAgentPayloads) {
                        flushed[index] += static_cast<int>(entry.dates.size());
                    }
                }
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    for (std::size_t i = 0; i < ids.size(); ++i) {
        HeartbeatController controller(HeartbeatStorage::sharedStore(ids[i]),
                                       [] { return utc(2024, 3, 5); });
        int total = flushed[i];
        for (const auto& entry : controller.flush().userAgentPayloads) {
            total += static_cast<int>(entry.dates.size());
        }
        EXPECT_EQ(total, 1) << ids[i];
    }
}

}  // namespace
}  // namespace heartbeat
