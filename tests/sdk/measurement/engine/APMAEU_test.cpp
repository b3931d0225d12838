#include "sdk/measurement/engine/APMAEU.h"

#include <gtest/gtest.h>

#include "sdk/utilities/VDUAppEnvironmentUtil.h"
#include "tests/sdk/measurement/engine/EngineTestSupport.h"
#include "tests/support/TempDir.h"

namespace {

TEST(APMAEU, OnlyABundleWithStoreInformationCountsAsFromTheStore) {
    cb::testsupport::TempDir folder("cb-aeu");
    EXPECT_FALSE(APMAEU::isFAS()) << "no bundle, an unencrypted executable";
    sdktest::FixtureMainBundle bundle(folder.path());
    EXPECT_FALSE(APMAEU::appStoreRURL()) << "the receipt check is off in the fixture";
    EXPECT_FALSE(APMAEU::isASRS());
    EXPECT_FALSE(APMAEU::isNOD());
    EXPECT_FALSE(APMAEU::isAEX());
    EXPECT_FALSE(APMAEU::isFAS()) << "an unencrypted executable without SC_Info";
    std::filesystem::create_directory(bundle.path() / "SC_Info");
    EXPECT_TRUE(APMAEU::isFAS());
    EXPECT_EQ(APMAEU::deviceModel(), VDUAppEnvironmentUtil::deviceModel());
    EXPECT_EQ(APMAEU::systemVersion(), VDUAppEnvironmentUtil::systemVersion());
}

}  // namespace
