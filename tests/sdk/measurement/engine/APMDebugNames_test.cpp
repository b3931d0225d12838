// Readable names in log messages: shown with their public names only in debug mode and only
// while the public analytics interface is present.
#include <gtest/gtest.h>

#include "sdk/measurement/engine/APMDebugNames.h"
#include "sdk/utilities/VDUClassRegistry.h"
#include "tests/sdk/measurement/MonitorRecorder.h"

namespace {

class AnalyticsInterface : public VDUClass {
  public:
    std::string className() const override { return "REROdazadeve"; }
};

class APMDebugNamesTest : public ::testing::Test {
  protected:
    void SetUp() override {
        VDUClassRegistry::registerClass(std::make_shared<AnalyticsInterface>());
    }
    void TearDown() override {
        APMMonitor::shared().setDebugModeEnabled(false);
        VDUClassRegistry::TEST_unregisterClass("REROdazadeve");
    }
};

TEST_F(APMDebugNamesTest, NamesInDebugModeOnly) {
    const APMParameters parameters{
        {"_err", APMValue(std::int64_t{5})}, {"Zeta", APMValue("z")}, {"alpha", APMValue(1.5)}};
    const auto shown = [&] {
        return std::vector<std::string>{APMDebugEventName("_vs"),
                                        APMDebugEventName("_cmp"),
                                        APMDebugEventName("_unknown"),
                                        APMDebugEventName("level_up"),
                                        APMDebugUserPropertyName("_exp_12"),
                                        APMDebugParameterName("_err")};
    };
    EXPECT_EQ(shown(),
              (std::vector<std::string>{"_vs", "_cmp", "_unknown", "level_up", "_exp_12", "_err"}));
    APMMonitor::shared().setDebugModeEnabled(true);
    // "_cmp" has two public names; the "razudizo_" one is skipped.
    EXPECT_EQ(shown(),
              (std::vector<std::string>{"screen_view (_vs)", "ma_campaign (_cmp)", "_unknown",
                                        "level_up", "experiment_id (_exp_12)", "ma_error (_err)"}));
    // Lines sort case-insensitively; an error code shows its name.
    EXPECT_EQ(APMDebugParametersDescription(parameters),
              "{\n    alpha = 1.5;\n    ma_error (_err) = ParameterLimitReached (5);\n"
              "    Zeta = z;\n}");

    // Without the public interface names stay as they are even in debug mode.
    VDUClassRegistry::TEST_unregisterClass("REROdazadeve");
    EXPECT_EQ(APMDebugEventName("_vs"), "_vs");
}

TEST_F(APMDebugNamesTest, ArraysAreListedItemByItem) {
    APMMonitor::shared().setDebugModeEnabled(true);
    const sdk::Value::Array items{sdk::Value::Dictionary{{"item_id", "A"}},
                                  sdk::Value::Dictionary{{"item_id", "B"}}};
    EXPECT_EQ(APMDebugArrayDescription(items),
              "[\n    {\n        item_id = A;\n},\n    {\n        item_id = B;\n}\n    ]");
}

}  // namespace
