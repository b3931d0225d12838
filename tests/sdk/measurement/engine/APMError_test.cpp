#include "sdk/measurement/engine/APMError.h"

#include <gtest/gtest.h>

#include <memory>
#include <optional>

namespace {

TEST(APMError, CarriesDescriptionAndContextOnlyWhenNotEmpty) {
    const sdk::Error full = apm_errorWithCode(3, "Transaction failed", "execute statement,5,A");
    EXPECT_EQ(full.domain(), "com.vovidu.vud.measurement.ErrorDomain");
    EXPECT_EQ(full.code(), 3);
    EXPECT_EQ(full.message(), "Transaction failed");
    EXPECT_EQ(APMMonitorContextOfError(full), "execute statement,5,A");
    EXPECT_EQ(full.userInfo().size(), 2u);

    const sdk::Error bare = apm_errorWithCode(2, "", "");
    EXPECT_FALSE(bare.ok());
    EXPECT_TRUE(bare.userInfo().empty());
}

TEST(APMError, SettersAndChecksFillTheErrorOnlyWhenTheyFail) {
    sdk::Error error;
    APMSetErrorWithCodeAndContext(&error, 3, "d", "c");
    EXPECT_EQ(APMMonitorContextOfError(error), "c");
    APMSetErrorWithCode(&error, 1, "plain");
    EXPECT_EQ(error.ToString(), "com.vovidu.vud.measurement.ErrorDomain error 1: plain");
    EXPECT_EQ(APMMonitorContextOfError(error), "");

    // Holding checks leave the error alone.
    int object = 0;
    error = sdk::Error();
    EXPECT_TRUE(APMCheckNonZeroOrSetError(1, &error, 1, "x"));
    EXPECT_TRUE(APMCheckTrueOrSetError(true, &error, 1, "x"));
    EXPECT_TRUE(APMCheckNotNullOrSetError(&object, &error, 1, "x"));
    EXPECT_TRUE(APMCheckNotNilOrSetError(std::optional<int>(0), &error, 1, "x"));
    EXPECT_TRUE(error.ok());

    struct Case {
        bool result;
        const char* description;
    };
    const Case failing[] = {
        {APMCheckNonZeroOrSetError(0, &error, 11, "zero"), "zero"},
        {APMCheckTrueOrSetError(false, &error, 11, "false"), "false"},
        {APMCheckNotNullOrSetError(nullptr, &error, 11, "null"), "null"},
        {APMCheckNotNilOrSetError(std::unique_ptr<int>(), &error, 11, "nil"), "nil"},
    };
    for (const Case& c : failing) {
        EXPECT_FALSE(c.result) << c.description;
    }
    EXPECT_EQ(error.message(), "nil");
    EXPECT_EQ(error.code(), 11);

    // A null out-parameter is fine everywhere.
    APMSetErrorWithCode(nullptr, 1, "x");
    APMSetErrorWithCodeAndContext(nullptr, 1, "x", "y");
    EXPECT_FALSE(APMCheckNonZeroOrSetError(0, nullptr, 1, "x"));
    EXPECT_FALSE(APMCheckNotNilOrSetError(std::optional<int>(), nullptr, 1, "x"));
}

}  // namespace
