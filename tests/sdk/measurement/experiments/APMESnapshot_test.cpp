// Snapshots and experiments as values: built from messages and lists, read back by protoc,
// copied independently; refusals reach the measurement monitor.
#include <gtest/gtest.h>

#include "tests/sdk/measurement/experiments/ExperimentTestSupport.h"

using exptest::experimentIDsOf;
using exptest::makeSnapshot;

namespace {

TEST(APMESnapshot, RoundTripsThroughItsMessageAndCopiesAreIndependent) {
    const std::string text =
        "sdk_name: \"s\"\n"
        "experiments {\n  experiment_id: 9\n  flags {\n    name: \"b\"\n    bool_value: true\n"
        "  }\n}\n"
        "experiments {\n  experiment_id: 2\n  flags {\n    name: \"b\"\n    int_value: 5\n  }\n"
        "}\n";
    auto proto = APMPBSnapshot::initWithBuffer(
        messages_test::asBytes(messages_test::protoc("--encode=apmpb.Snapshot", text)));
    ASSERT_NE(proto, nullptr);
    auto snapshot = APMESnapshot::initWithProtobuf(*proto);
    ASSERT_TRUE(snapshot);
    EXPECT_EQ(snapshot->SDKName(), "s");
    EXPECT_EQ(experimentIDsOf(*snapshot), (std::vector<std::int64_t>{2, 9}));
    // Both experiments carry "b": the smaller ID wins.
    EXPECT_EQ(APMPBFlagValueObject(snapshot->flagByName("b")), sdk::Value(5));
    EXPECT_EQ(APMPBFlagValueObject(snapshot->experiments()[1].flagWithName("b")), sdk::Value(true));

    const std::string back = messages_test::protoc(
        "--decode=apmpb.Snapshot", messages_test::asString(*snapshot->proto().protoBuffer()));
    EXPECT_NE(back.find("experiment_id: 9"), std::string::npos) << back;
    auto again = APMESnapshot::initWithProtobuf(snapshot->proto());
    ASSERT_TRUE(again);
    EXPECT_EQ(experimentIDsOf(*again), experimentIDsOf(*snapshot));

    APMESnapshot copy = *snapshot;
    ASSERT_TRUE(copy.addFlag(APMPBFlagWithNameValue("n", 1).get(), 4));
    copy.setManuallyActivated(true);
    EXPECT_EQ(experimentIDsOf(*snapshot), (std::vector<std::int64_t>{2, 9}));
    EXPECT_EQ(snapshot->flagByName("n"), nullptr);
    EXPECT_FALSE(snapshot->manuallyActivated());
}

TEST(APMESnapshot, RefusalsLogTheirCodesAndGiveNothing) {
    sdktest::MonitorRecorder monitor;
    EXPECT_FALSE(APMESnapshot::initWithSDKName("", {}));
    EXPECT_FALSE(APMESnapshot::initWithProtobuf(APMPBSnapshot()));
    auto snapshot = makeSnapshot("s", {{1, {{"f", 1}}}});
    auto flag = APMPBFlagWithNameValue("g", 2);
    EXPECT_FALSE(snapshot.addFlag(flag.get(), std::nullopt));
    EXPECT_FALSE(snapshot.addFlag(nullptr, 1));
    EXPECT_FALSE(APMEExperiment::initWithExperimentID(std::nullopt, {}));
    auto experiment = APMEExperiment::initWithExperimentID(3, {});
    EXPECT_FALSE(experiment->addFlag(nullptr));
    EXPECT_FALSE(experiment->addFlag(std::make_unique<APMPBFlag>().get()));
    EXPECT_EQ(snapshot.flagByName(""), nullptr);
    EXPECT_EQ(monitor.codes(), (std::vector<std::int64_t>{840000, 840000, 840003, 840004, 870000,
                                                          870004, 870006, 870007}));
    EXPECT_EQ(experimentIDsOf(snapshot), (std::vector<std::int64_t>{1}));
}

}  // namespace
