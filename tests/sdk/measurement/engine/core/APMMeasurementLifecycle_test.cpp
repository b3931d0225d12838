// The engine's creation, enable rules and one-time start.
#include <filesystem>

#include "tests/sdk/measurement/engine/core/EngineCoreTestSupport.h"

namespace {

using sdktest::EngineTest;

class LifecycleTest : public EngineTest {};

TEST_F(LifecycleTest, FirstEnableCreatesTheDatabaseWithItsTablesAndLogsReady) {
    std::shared_ptr<APMMeasurement> engine = startEngine("1:111:macos:aa");
    ASSERT_NE(engine, nullptr);
    EXPECT_TRUE(engine->isEnabled());
    EXPECT_TRUE(engine->didInitializeComponents());
    EXPECT_TRUE(monitor_.saw(23016));
    ASSERT_TRUE(std::filesystem::exists(databasePath()));
    const std::string tables = sqlite(".tables");
    for (const char* table : {"raw_events", "raw_events_metadata", "events", "user_attributes",
                              "queue", "app_metadata", "subscriptions"}) {
        EXPECT_NE(tables.find(table), std::string::npos) << table << " in " << tables;
    }
}

}  // namespace
