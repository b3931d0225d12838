// Replaceable methods: hook slots found by class, selector and kind, replaced and restored, the
// broken preconditions, and replacements racing with calls (run under ThreadSanitizer in CI).

#include "sdk/utilities/VDUSwizzler.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "sdk/utilities/AssertionHandler.h"
#include "sdk/utilities/VDUHookSlot.h"

namespace {

using Scale = int(int);

VDUImplementation scaleBy(int factor) {
    return VDUImplementation(std::function<Scale>([factor](int x) { return x * factor; }));
}

// Collects what reaches the calling thread's assertion handler while it lives.
class AssertionRecorder {
  public:
    AssertionRecorder()
        : previous_(sdk::setCurrentThreadAssertionHandler(
              [this](std::string_view, const std::string& message) {
                  messages.push_back(message);
              })) {}
    ~AssertionRecorder() { sdk::setCurrentThreadAssertionHandler(previous_); }
    std::vector<std::string> messages;

  private:
    sdk::AssertionHandler previous_;
};

TEST(VDUSwizzlerTest, ReplaceCallThroughAndRestoreOneKindOfMethod) {
    const auto instanceSlot =
        VDUHookSlot<Scale>::declare("VDUTestMeter", "scaled:", false, [](int x) { return x * 2; });
    const auto classSlot =
        VDUHookSlot<Scale>::declare("VDUTestMeter", "scaled:", true, [](int x) { return x + 1; });
    EXPECT_TRUE(VDUSwizzler::selectorExistsInClass("scaled:", "VDUTestMeter", false));
    EXPECT_TRUE(VDUSwizzler::selectorExistsInClass("scaled:", "VDUTestMeter", true));
    EXPECT_FALSE(VDUSwizzler::selectorExistsInClass("other:", "VDUTestMeter", false));
    EXPECT_FALSE(VDUSwizzler::selectorExistsInClass("scaled:", "VDUOther", false));
    EXPECT_FALSE(VDUSwizzler::selectorExistsInClass("", "", false));

    const VDUImplementation saved =
        VDUSwizzler::currentImplementationForClass("VDUTestMeter", "scaled:", false);
    ASSERT_TRUE(saved);
    EXPECT_EQ((*saved.function<Scale>())(3), 6);

    const VDUImplementation tenfold = scaleBy(10);
    VDUSwizzler::swizzleClass("VDUTestMeter", "scaled:", false, tenfold);
    EXPECT_EQ((*instanceSlot)(3), 30);
    EXPECT_EQ((*classSlot)(3), 4) << "the class method is another slot";
    EXPECT_EQ(VDUSwizzler::currentImplementationForClass("VDUTestMeter", "scaled:", false),
              tenfold);

    VDUSwizzler::swizzleClass("VDUTestMeter", "scaled:", false, saved);
    EXPECT_EQ((*instanceSlot)(3), 6);
    EXPECT_EQ(VDUSwizzler::currentImplementationForClass("VDUTestMeter", "scaled:", false), saved);
}

TEST(VDUSwizzlerTest, BrokenPreconditionsTripTheHandlerAndChangeNothing) {
    const auto slot =
        VDUHookSlot<Scale>::declare("VDUTestGauge", "read:", false, [](int x) { return x; });
    EXPECT_THROW(VDUSwizzler::swizzleClass("VDUTestGauge", "missing:", false, scaleBy(2)),
                 sdk::InternalInconsistencyException);

    AssertionRecorder recorder;
    VDUSwizzler::swizzleClass("VDUTestGauge", "", false, scaleBy(2));
    VDUSwizzler::swizzleClass("", "read:", false, scaleBy(2));
    VDUSwizzler::swizzleClass("VDUTestGauge", "read:", false, VDUImplementation());
    VDUSwizzler::swizzleClass("VDUTestGauge", "missing:", false, scaleBy(2));
    VDUSwizzler::swizzleClass("VDUTestGauge", "read:", true, scaleBy(2));
    VDUSwizzler::swizzleClass("VDUTestGauge", "read:", false,
                              VDUImplementation(std::function<long(int)>([](int) { return 0L; })));
    EXPECT_FALSE(VDUSwizzler::currentImplementationForClass("VDUTestGauge", "", false));
    EXPECT_FALSE(VDUSwizzler::currentImplementationForClass("", "read:", false));
    EXPECT_FALSE(VDUSwizzler::currentImplementationForClass("VDUTestGauge", "missing:", false));
    EXPECT_EQ(recorder.messages,
              (std::vector<std::string>{
                  "The selector cannot be NULL",
                  "The class cannot be Nil",
                  "Invalid parameter not satisfying: block",
                  "You're attempting to swizzle a method that doesn't exist. (VDUTestGauge, "
                  "missing:)",
                  "You're attempting to swizzle a method that doesn't exist. (VDUTestGauge, "
                  "read:)",
                  "The block does not have the signature of the method. (VDUTestGauge, read:)",
                  "The selector cannot be NULL",
                  "The class cannot be Nil",
                  "The Method for this class/selector combo doesn't exist (VDUTestGauge, "
                  "missing:).",
              }));
    EXPECT_EQ((*slot)(7), 7);
}

TEST(VDUSwizzlerTest, AFreedSlotIsNoLongerFound) {
    auto slot =
        VDUHookSlot<Scale>::declare("VDUTestShortLived", "value:", false, [](int x) { return x; });
    EXPECT_TRUE(VDUSwizzler::selectorExistsInClass("value:", "VDUTestShortLived", false));
    slot.reset();
    EXPECT_FALSE(VDUSwizzler::selectorExistsInClass("value:", "VDUTestShortLived", false));
    EXPECT_THROW(VDUHookSlot<Scale>::declare("VDUTestShortLived", "value:", false, nullptr),
                 std::invalid_argument);
}

TEST(VDUSwizzlerTest, ReplacementsAndCallsMayRaceOnManyThreads) {
    const auto slot =
        VDUHookSlot<Scale>::declare("VDUTestRace", "scaled:", false, [](int x) { return x * 2; });
    const VDUImplementation doubled =
        VDUSwizzler::currentImplementationForClass("VDUTestRace", "scaled:", false);
    const VDUImplementation tripled = scaleBy(3);
    std::atomic<int> wrong = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < 2; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 2000; ++i) {
                VDUSwizzler::swizzleClass("VDUTestRace", "scaled:", false,
                                          (i + t) % 2 == 0 ? tripled : doubled);
            }
        });
        threads.emplace_back([&] {
            for (int i = 0; i < 2000; ++i) {
                const int value = (*slot)(5);
                const VDUImplementation current =
                    VDUSwizzler::currentImplementationForClass("VDUTestRace", "scaled:", false);
                if ((value != 10 && value != 15) || !(current == doubled || current == tripled) ||
                    !VDUSwizzler::selectorExistsInClass("scaled:", "VDUTestRace", false)) {
                    ++wrong;
                }
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(wrong, 0);
    VDUSwizzler::swizzleClass("VDUTestRace", "scaled:", false, tripled);
    EXPECT_EQ((*slot)(5), 15);
}

}  // namespace
