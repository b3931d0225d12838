#include "sdk/measurement/script/APMPArrayValue.h"

#include <gtest/gtest.h>

#include "ScriptTestSupport.h"
#include "sdk/measurement/script/APMPRuntime.h"

namespace {

using namespace script_test;

class APMPArrayValueTest : public ::testing::Test {
  protected:
    std::shared_ptr<APMPArrayValue> Array(APMPValueList elements) {
        sdk::Error error;
        auto array = APMPObjectManager::arrayValueWithArray(std::move(elements), *scope_, error);
        EXPECT_TRUE(error.ok()) << error.ToString();
        return array;
    }
    std::size_t BytesInUse() const { return runtime_.objectManager()->budget()->bytesInUse(); }

    APMPRuntime runtime_;
    APMPScopeRef scope_ = runtime_.getRunScope();
};

TEST_F(APMPArrayValueTest, JoinSkipsHolesUndefinedAndNull) {
    EXPECT_EQ(StringOf(*Array({APMPUndefined(), Num(1), APMPNull()})), ",1,");
    EXPECT_EQ(StringOf(*Array({})), "");
    EXPECT_EQ(StringOf(*Array({Array({Num(1), Num(2)}), Str("x")})), "1,2,x");
    sdk::Error error;
    EXPECT_EQ(Array({Str("3")})->doubleValueOrError(error), 3);
    // An element without a string ends the join.
    Array({Num(1), Call(u"f", {})})->stringValueOrError(error);
    EXPECT_TRUE(IsScriptError(error, APMPErrorCode::kNoStringValue));
}

TEST_F(APMPArrayValueTest, ElementsPropertiesAndHoles) {
    auto array = Array({Num(10), Num(11)});
    EXPECT_TRUE(IsScriptError(array->setValueForProperty(Num(2.5), *Str("length")),
                              APMPErrorCode::kInvalidArrayLength));
    EXPECT_EQ(array->count(), 2u);

    ASSERT_TRUE(array->setValueForProperty(Num(15), *Num(5)).ok());
    ASSERT_EQ(array->count(), 6u);
    sdk::Error error;
    for (double hole : {2, 3, 4}) {
        EXPECT_EQ(array->valueForProperty(*Num(hole), error), APMPUndefined());
        EXPECT_FALSE(array->hasProperty(*Num(hole), error));
    }
    EXPECT_TRUE(array->hasProperty(*Str("5"), error));
    EXPECT_EQ(StringOf(*array->valueForProperty(*Str("length"), error)), "6");
    EXPECT_EQ(array->valueForProperty(*Num(99), error), APMPUndefined());

    ASSERT_TRUE(array->setValueForProperty(Str("v"), *Str("name")).ok());
    ASSERT_TRUE(array->setValueForProperty(Str("w"), *Num(1.5)).ok());
    EXPECT_EQ(StringOf(*array->valueForProperty(*Str("1.5"), error)), "w");
    ASSERT_TRUE(array->removeValueForProperty(*Num(0)).ok());
    EXPECT_FALSE(array->hasProperty(*Num(0), error));

    std::string names;
    for (const auto& name : array->allPropertyNames()) {
        names += StringOf(*name) + " ";
    }
    EXPECT_EQ(names, "1.5 name 1 5 ");
    EXPECT_EQ(array->allElements()[3], APMPUndefined());

    ASSERT_TRUE(array->setValueForProperty(Num(2), *Str("length")).ok());
    EXPECT_EQ(StringOf(*array), ",11");
    EXPECT_TRUE(error.ok());
}

TEST_F(APMPArrayValueTest, GrowthPastTheMemoryCapFailsBeforeAllocating) {
    auto array = Array({Num(1)});
    const std::size_t before = BytesInUse();
    EXPECT_TRUE(IsScriptError(array->setValueForProperty(Num(4294967295), *Str("length")),
                              APMPErrorCode::kLimitExceeded));
    EXPECT_TRUE(IsScriptError(array->setValueForProperty(Num(1), *Num(4294967294)),
                              APMPErrorCode::kLimitExceeded));
    EXPECT_TRUE(IsScriptError(array->setLength(1e300), APMPErrorCode::kLimitExceeded));
    EXPECT_EQ(array->count(), 1u);
    EXPECT_EQ(BytesInUse(), before);

    // Shrinking returns what growing took.
    ASSERT_TRUE(array->setLength(1000).ok());
    EXPECT_EQ(BytesInUse(), before + 999 * sizeof(APMPValueRef));
    ASSERT_TRUE(array->setLength(1).ok());
    EXPECT_EQ(BytesInUse(), before);
}

TEST_F(APMPArrayValueTest, DoublingAStringStopsAtTheMemoryCap) {
    sdk::Error error;
    std::shared_ptr<APMPStringValue> text =
        APMPStringValue::makeInScope(u"ab", scope_.get(), error);
    int doublings = 0;
    while (error.ok()) {
        auto doubled =
            APMPStringValue::concatenate(text->value(), text->value(), scope_.get(), error);
        if (doubled) {
            text = std::move(doubled);
            ++doublings;
        }
    }
    EXPECT_TRUE(IsScriptError(error, APMPErrorCode::kLimitExceeded));
    // 2^24 units are 32 MiB; the next doubling would need 64 MiB on top of them.
    EXPECT_EQ(text->value().size(), std::size_t{1} << 24);
    EXPECT_EQ(doublings, 23);
    EXPECT_LE(BytesInUse(), APMPRuntimeBudget::kMaxBytes);
    text.reset();
    EXPECT_LT(BytesInUse(), 1024u);
}

TEST_F(APMPArrayValueTest, SelfContainingArrayJoinEndsWithLimitError) {
    auto array = Array({Num(1)});
    ASSERT_TRUE(array->appendElements({array}).ok());
    sdk::Error error;
    EXPECT_EQ(array->stringValueOrError(error), u"");
    EXPECT_TRUE(IsScriptError(error, APMPErrorCode::kLimitExceeded));
    // The runtime breaks the cycle when it goes.
}

}  // namespace
