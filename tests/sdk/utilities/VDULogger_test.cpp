#include "sdk/utilities/VDULogger.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "platform/dispatch/DispatchQueue.h"
#include "sdk/utilities/Fatal.h"
#include "sdk/utilities/VDUAppEnvironmentUtil.h"
#include "sdk/utilities/VDULoggerWrapper.h"

namespace {

struct Line {
    std::string subsystem;
    std::string category;
    VDULogType type;
    std::string text;
};

// Records every line and every log object made.
class CapturingSink : public VDULogSink {
  public:
    std::unique_ptr<VDULogObject> createLogObject(std::string_view subsystem,
                                                  std::string_view category) override {
        std::lock_guard<std::mutex> lock(mutex_);
        ++objectsCreated_;
        return std::make_unique<Object>(this, std::string(subsystem), std::string(category));
    }

    std::vector<Line> lines() {
        TEST_VDULoggerFlush();
        std::lock_guard<std::mutex> lock(mutex_);
        return lines_;
    }
    std::vector<std::string> texts() {
        std::vector<std::string> result;
        for (const Line& line : lines()) {
            result.push_back(line.text);
        }
        return result;
    }
    int objectsCreated() {
        TEST_VDULoggerFlush();
        std::lock_guard<std::mutex> lock(mutex_);
        return objectsCreated_;
    }

  private:
    class Object : public VDULogObject {
      public:
        Object(CapturingSink* sink, std::string subsystem, std::string category)
            : sink_(sink), subsystem_(std::move(subsystem)), category_(std::move(category)) {}
        bool isEnabled(VDULogType) const override { return true; }
        void write(VDULogType type, const std::string& line) override {
            std::lock_guard<std::mutex> lock(sink_->mutex_);
            sink_->lines_.push_back({subsystem_, category_, type, line});
        }

      private:
        CapturingSink* sink_;
        std::string subsystem_, category_;
    };

    std::mutex mutex_;
    std::vector<Line> lines_;  // guarded by mutex_
    int objectsCreated_ = 0;   // guarded by mutex_
};

class VDULoggerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        TEST_VDULoggerReset();
        TEST_VDULoggerSetSink(sink_);
    }
    void TearDown() override {
        VDUAppEnvironmentUtil::TEST_setIsFromAppStore(std::nullopt);
        TEST_VDULoggerSetSink(nullptr);
        TEST_VDULoggerReset();
    }

    std::shared_ptr<CapturingSink> sink_ = std::make_shared<CapturingSink>();
};

TEST_F(VDULoggerTest, InvalidLevelKeepsTheLevelAndLogsTheExactLine) {
    VDULoggerSetVersionString("11.15.0");
    VDULoggerSetLevel(3);
    for (std::int64_t level : {2, 8, -1}) {
        VDULoggerSetLevel(level);
        EXPECT_EQ(VDULoggerGetLevel(), 3);
    }
    const std::vector<Line> lines = sink_->lines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[1].text, "11.15.0 - [VDULogger][I-COR000023] Invalid logger level, 8");
    EXPECT_EQ(lines[0].text, "11.15.0 - [VDULogger][I-COR000023] Invalid logger level, 2");
    EXPECT_EQ(lines[1].subsystem, "com.vovidu.utilities.logger");
    EXPECT_EQ(lines[1].category, "[VDULogger]");
    EXPECT_EQ(lines[1].type, VDULogType::kError);
}

TEST_F(VDULoggerTest, LevelFiltersUnlessForcedOrInForcedDebug) {
    EXPECT_EQ(VDULoggerGetLevel(), 5);
    VDULoggerLogWarning("s", "[C]", false, "I-VDU000001", "warning");
    VDULoggerLogInfo("s", "[C]", false, "I-VDU000002", "hidden info");
    VDULoggerLogDebug("s", "[C]", true, "I-VDU000003", "forced debug");
    EXPECT_FALSE(VDULoggerIsLoggable(6));
    EXPECT_TRUE(VDULoggerIsLoggable(5));
    VDULoggerForceDebug();
    EXPECT_EQ(VDULoggerGetLevel(), 7);
    EXPECT_TRUE(VDULoggerIsLoggable(100));
    VDULoggerSetLevel(3);  // forced debug still lets everything through
    VDULoggerLogInfo("s", "[C]", false, "I-VDU000004", "shown info");
    EXPECT_EQ(sink_->texts(), (std::vector<std::string>{" - [C][I-VDU000001] warning",
                                                        " - [C][I-VDU000003] forced debug",
                                                        " - [C][I-VDU000004] shown info"}));
}

TEST_F(VDULoggerTest, AppStoreBuildsCannotRaiseTheLevel) {
    VDUAppEnvironmentUtil::TEST_setIsFromAppStore(true);
    VDULoggerSetLevel(7);
    EXPECT_EQ(VDULoggerGetLevel(), 5);
    VDULoggerSetLevel(4);
    EXPECT_EQ(VDULoggerGetLevel(), 4);
    VDULoggerSetLevel(5);
    EXPECT_EQ(VDULoggerGetLevel(), 4);
    VDULoggerForceDebug();
    EXPECT_EQ(VDULoggerGetLevel(), 4);
    EXPECT_FALSE(VDULoggerIsLoggable(7));
}

TEST_F(VDULoggerTest, FormatsArgumentsButTakesABareFormatVerbatim) {
    VDULoggerSetVersionString("1.0");
    VDULoggerLogNotice("s", "[C]", false, "I-VDU000005", "100% sure %@ %ld");
    VDULoggerLogNotice("s", "[C]", false, "I-VDU000006", "%@ has %ld items", "cart", 3);
    const sdk::FormatArgs args{std::string("x")};
    VDULoggerLogMessage(5, "s", "[C]", false, "I-VDU000007", "arg %@", &args);
    VDULoggerLogMessage(5, "s", "[C]", false, "I-VDU000008", "bare %@", nullptr);
    EXPECT_EQ(sink_->texts(), (std::vector<std::string>{"1.0 - [C][I-VDU000005] 100% sure %@ %ld",
                                                        "1.0 - [C][I-VDU000006] cart has 3 items",
                                                        "1.0 - [C][I-VDU000007] arg x",
                                                        "1.0 - [C][I-VDU000008] bare %@"}));
}

TEST_F(VDULoggerTest, OneLogObjectPerSubsystemAndCategory) {
    VDULoggerLogError("a", "[X]", false, "I-VDU000001", "1");
    VDULoggerLogError("a", "[X]", false, "I-VDU000001", "2");
    VDULoggerLogError("a", "[Y]", false, "I-VDU000001", "3");
    VDULoggerLogError("b", "[X]", false, "I-VDU000001", "4");
    EXPECT_EQ(sink_->objectsCreated(), 3);
}

TEST_F(VDULoggerTest, LevelsMapToLogTypes) {
    const std::pair<std::int64_t, VDULogType> cases[] = {
        {0, VDULogType::kError},   {2, VDULogType::kError},   {3, VDULogType::kError},
        {4, VDULogType::kDefault}, {5, VDULogType::kDefault}, {6, VDULogType::kInfo},
        {7, VDULogType::kDebug},   {8, VDULogType::kError},   {-4, VDULogType::kError},
    };
    for (auto [level, type] : cases) {
        EXPECT_EQ(VDULoggerLogTypeForLevel(level), type) << level;
    }
    VDULoggerSetLevel(7);
    VDULoggerLogDebug("s", "[C]", false, "I-VDU000001", "d");
    VDULoggerLogInfo("s", "[C]", false, "I-VDU000001", "i");
    const std::vector<Line> lines = sink_->lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].type, VDULogType::kDebug);
    EXPECT_EQ(lines[1].type, VDULogType::kInfo);
}

TEST_F(VDULoggerTest, WrapperLogsUnforcedUnderTheUtilitiesSubsystem) {
    const sdk::FormatArgs args{42};
    VDULoggerWrapper::logWithLevel(6, "[VDUNetwork]", "I-NET000001", "hidden %ld", &args);
    VDULoggerWrapper::logWithLevel(4, "[VDUNetwork]", "I-NET000002", "shown %ld", &args);
    VDULoggerWrapper::logWithLevel(3, "custom.subsystem", "[Svc]", "I-ACS000003", "raw %ld",
                                   nullptr);
    const std::vector<Line> lines = sink_->lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].subsystem, "com.vovidu.utilities.logger");
    EXPECT_EQ(lines[0].category, "[VDUNetwork]");
    EXPECT_EQ(lines[0].text, " - [VDUNetwork][I-NET000002] shown 42");
    EXPECT_EQ(lines[1].subsystem, "custom.subsystem");
    EXPECT_EQ(lines[1].text, " - [Svc][I-ACS000003] raw %ld");
}

TEST_F(VDULoggerTest, ThreadsLogWhileTheLevelAndVersionChange) {
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t] {
            for (int i = 0; i < 100; ++i) {
                VDULoggerLogWarning("s", "[T]", false, "I-VDU000001", "t%d i%d", t, i);
            }
        });
    }
    threads.emplace_back([] {
        for (int i = 0; i < 100; ++i) {
            VDULoggerSetLevel(4 + i % 2);
            VDULoggerSetVersionString("v" + std::to_string(i));
        }
    });
    for (auto& thread : threads) {
        thread.join();
    }
    // Warnings pass at 4 and 5, so every line arrives, each thread's in its own order.
    const std::vector<Line> lines = sink_->lines();
    ASSERT_EQ(lines.size(), 400u);
    std::vector<int> next(4, 0);
    for (const Line& line : lines) {
        const auto at = line.text.find("] t");
        ASSERT_NE(at, std::string::npos) << line.text;
        const int t = line.text[at + 3] - '0';
        ASSERT_TRUE(t >= 0 && t < 4) << line.text;
        EXPECT_EQ(line.text.substr(at + 2),
                  "t" + std::to_string(t) + " i" + std::to_string(next[t]++));
    }
}

// Three errors logged just before the process ends, on the default sink (stderr).
void logThreeErrors() {
    for (const char* text : {"first failure", "second failure", "third failure"}) {
        VDULoggerLogError("com.vovidu.test", "[Exit]", false, "I-TST000001", text);
    }
}

TEST(VDULoggerExitTest, LinesQueuedAtExitOrAnSdkAbortAreWritten) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    constexpr const char* kAllThree = "first failure(.|\n)*second failure(.|\n)*third failure";
    EXPECT_EXIT(
        {
            logThreeErrors();
            std::exit(0);
        },
        ::testing::ExitedWithCode(0), kAllThree);
    EXPECT_DEATH(
        {
            logThreeErrors();
            sdk::abortWithMessage("broken invariant");
        },
        std::string(kAllThree) + "(.|\n)*broken invariant");
}

TEST(VDULoggerExitTest, LinesQueuedWhenABlockThrowsAreWritten) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(
        {
            for (int i = 0; i < 1000; ++i) {
                const std::string text = "queued line " + std::to_string(i) + ".";
                VDULoggerLogError("com.vovidu.test", "[Exit]", false, "I-TST000002", text);
            }
            platform::DispatchQueue::createSerial("test.throws")->async([] {
                throw std::runtime_error("escaped the block");
            });
            std::this_thread::sleep_for(std::chrono::seconds(30));
        },
        "queued line 0\\.(.|\n)*queued line 999\\.(.|\n)*escaped the block");
}

}  // namespace
