#include "sdk/measurement/script/APMPArrayValue.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>

#include "ScriptTestSupport.h"
#include "sdk/measurement/script/APMPControlValue.h"
#include "sdk/measurement/script/APMPFunctionValue.h"
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

    // Shrinking returns what growing took (the buffer at what it costs the allocator).
    ASSERT_TRUE(array->setLength(1000).ok());
    EXPECT_GE(BytesInUse(), before + 999 * sizeof(APMPValueRef));
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

// A host function for comparators: answers `body(a, b)`.
class NativeComparator : public APMPFunctionValue {
  public:
    explicit NativeComparator(std::function<APMPValueRef(APMPArguments, sdk::Error&)> body)
        : APMPFunctionValue(u"compare", {}, {}, APMPScope::make()), body_(std::move(body)) {}
    APMPValueRef invokeWithEvaluatedArguments(APMPArguments values, sdk::Error& error) override {
        return body_(values, error);
    }

  private:
    std::function<APMPValueRef(APMPArguments, sdk::Error&)> body_;
};

std::string Joined(const APMPArrayValue& array) {
    std::string out;
    for (const auto& element : array.elements()) {
        out += element == APMPArrayValue::emptyValue() ? "_" : StringOf(*element);
        out += " ";
    }
    return out;
}

TEST_F(APMPArrayValueTest, PrimitivesOfTheArrayMethods) {
    auto array = Array({Num(1), Num(2)});
    ASSERT_TRUE(array->setLength(3).ok());
    sdk::Error error;
    auto joined = array->concat({Array({Str("a")}), Str("b")}, *scope_, error);
    ASSERT_TRUE(joined);
    EXPECT_EQ(Joined(*joined), "1 2 _ a b ");
    EXPECT_EQ(array->concat({APMPControlValue::breakValue()}, *scope_, error), nullptr);
    EXPECT_TRUE(IsScriptError(error, APMPErrorCode::kArgumentKind));

    error = sdk::Error();
    array->reverse();
    EXPECT_EQ(Joined(*array), "_ 2 1 ");
    EXPECT_EQ(array->removeFirstElement(), APMPUndefined());
    EXPECT_EQ(StringOf(*array->removeLastElement()), "1");
    ASSERT_TRUE(array->prependElements({Str("x"), Str("y")}).ok());
    EXPECT_EQ(Joined(*array), "x y 2 ");

    auto letters = Array({Str("a"), Str("b"), Str("c"), Str("d")});
    auto removed = letters->spliceFrom(1, 2, {Str("x")}, *scope_, error);
    ASSERT_TRUE(removed);
    EXPECT_EQ(Joined(*removed), "b c ");
    EXPECT_EQ(Joined(*letters), "a x d ");
    removed = letters->spliceFrom(99, 99, {Str("z")}, *scope_, error);
    EXPECT_EQ(removed->count(), 0u);
    EXPECT_EQ(Joined(*letters), "a x d z ");

    auto mixed = Array({Num(1), Str("1"), Num(std::nan("")), Num(1)});
    EXPECT_EQ(mixed->indexOfValue(*Num(1), 0), 0);
    EXPECT_EQ(mixed->indexOfValue(*Str("1"), 0), 1);
    EXPECT_EQ(mixed->indexOfValue(*Num(1), 1), 3);
    EXPECT_EQ(mixed->indexOfValue(*Num(std::nan("")), 0), -1);
    EXPECT_EQ(mixed->lastIndexOfValue(*Num(1), 100), 3);
    EXPECT_EQ(mixed->lastIndexOfValue(*Num(1), 2), 0);
    EXPECT_EQ(mixed->lastIndexOfValue(*Num(1), -1), -1);
    EXPECT_TRUE(error.ok());
}

TEST_F(APMPArrayValueTest, SortingOrdersByStringOrComparatorWithHolesAndUndefinedLast) {
    auto array = Array({Num(10), APMPUndefined(), Num(9), Num(1)});
    ASSERT_TRUE(array->setValueForProperty(Num(0), *Num(5)).ok());  // a hole at 4
    ASSERT_TRUE(array->sortUsingFunctionValue(nullptr).ok());
    EXPECT_EQ(Joined(*array), "0 1 10 9 undefined _ ");

    auto descending = std::make_shared<NativeComparator>([](APMPArguments v, sdk::Error& e) {
        return Num(v[1]->doubleValueOrError(e) - v[0]->doubleValueOrError(e));
    });
    ASSERT_TRUE(array->sortUsingFunctionValue(descending).ok());
    EXPECT_EQ(Joined(*array), "10 9 1 0 undefined _ ");
}

TEST_F(APMPArrayValueTest, AnyComparatorLeavesAPermutation) {
    APMPValueList numbers;
    for (int i = 0; i < 200; ++i) {
        numbers.push_back(Num(i));
    }
    auto array = Array(numbers);
    unsigned seed = 7;
    auto erratic = std::make_shared<NativeComparator>([&](APMPArguments, sdk::Error&) {
        seed = seed * 1103515245 + 12345;
        return Num(static_cast<double>(seed % 3) - 1);
    });
    auto shrinking = std::make_shared<NativeComparator>([&](APMPArguments, sdk::Error&) {
        EXPECT_TRUE(array->setLength(0).ok());
        return Num(-1);
    });
    int calls = 0;
    auto failing = std::make_shared<NativeComparator>([&](APMPArguments, sdk::Error& e) {
        if (++calls == 50) {
            e = APMPError(APMPErrorCode::kNoNumberValue);
        }
        return Num(1);
    });
    for (const auto& comparator : {erratic, shrinking, failing}) {
        const sdk::Error error = array->sortUsingFunctionValue(comparator);
        EXPECT_EQ(error.ok(), comparator != failing) << error.ToString();
        APMPValueList sorted = array->elements();
        ASSERT_EQ(sorted.size(), numbers.size());
        std::sort(sorted.begin(), sorted.end());
        APMPValueList original = numbers;
        std::sort(original.begin(), original.end());
        EXPECT_EQ(sorted, original);
    }
    EXPECT_EQ(calls, 50);  // nothing is called after the error
}

}  // namespace
