#include "sdk/measurement/script/APMPScope.h"

#include <gtest/gtest.h>

#include "ScriptTestSupport.h"
#include "sdk/measurement/script/APMPRuntime.h"

namespace {

using namespace script_test;

TEST(APMPScope, LookupShadowingAndAssignmentFollowTheChain) {
    const APMPScopeRef root = APMPScope::make();
    const APMPScopeRef child = root->createChildScope();
    const APMPScopeRef grandchild = child->createChildScope();

    EXPECT_EQ(grandchild->valueForName(u"x"), APMPUndefined());
    EXPECT_FALSE(grandchild->hasName(u"x"));

    ASSERT_TRUE(root->addValue(Num(1), u"x").ok());
    ASSERT_TRUE(child->addValue(Num(2), u"x").ok());
    EXPECT_EQ(StringOf(*grandchild->valueForName(u"x")), "2");
    EXPECT_EQ(StringOf(*root->valueForName(u"x")), "1");

    // The nearest declaring scope takes the assignment; the root keeps its own x.
    ASSERT_TRUE(grandchild->setValue(Num(3), u"x").ok());
    EXPECT_EQ(StringOf(*child->valueForName(u"x")), "3");
    EXPECT_EQ(StringOf(*root->valueForName(u"x")), "1");
    EXPECT_TRUE(grandchild->hasName(u"x"));

    // A name nobody declares lands in the assigning scope.
    ASSERT_TRUE(grandchild->setValue(Num(4), u"y").ok());
    EXPECT_FALSE(child->hasName(u"y"));
    EXPECT_EQ(StringOf(*grandchild->valueForName(u"y")), "4");
}

TEST(APMPScope, ImmutableScopesAndNamesIgnoreWrites) {
    const APMPScopeRef root = APMPScope::make();
    const APMPScopeRef child = root->createChildScope();
    ASSERT_TRUE(root->addValue(Num(1), u"x").ok());
    ASSERT_TRUE(root->addImmutableValue(Num(7), u"k").ok());

    ASSERT_TRUE(root->addValue(Num(8), u"k").ok());
    ASSERT_TRUE(child->setValue(Num(9), u"k").ok());
    EXPECT_EQ(StringOf(*root->valueForName(u"k")), "7");

    root->makeImmutable();
    ASSERT_TRUE(root->addValue(Num(5), u"z").ok());
    ASSERT_TRUE(child->setValue(Num(6), u"x").ok());
    EXPECT_FALSE(root->hasName(u"z"));
    EXPECT_EQ(StringOf(*child->valueForName(u"x")), "1");

    // The child itself is still writable.
    ASSERT_TRUE(child->addValue(Num(2), u"x").ok());
    EXPECT_EQ(StringOf(*child->valueForName(u"x")), "2");
    child->makeImmutable();
    ASSERT_TRUE(child->setValue(Num(3), u"x").ok());
    EXPECT_EQ(StringOf(*child->valueForName(u"x")), "2");
}

}  // namespace

namespace {

using namespace script_test;

TEST(APMPScope, DeclarationsInARuntimeCountAgainstItsMemory) {
    APMPRuntime runtime;
    const auto budget = runtime.objectManager()->budget();
    const APMPScopeRef scope = runtime.getRunScope()->createChildScope();
    const std::size_t before = budget->bytesInUse();
    const std::u16string longName(std::size_t{1} << 20, u'n');
    sdk::Error error;
    int declared = 0;
    for (; error.ok() && declared < 64; ++declared) {
        error = scope->addValue(Num(1), longName + static_cast<char16_t>(u'A' + declared));
    }
    // Each name is 2 MiB: the cap of 64 MiB stops the declarations before the 32nd.
    EXPECT_TRUE(IsScriptError(error, APMPErrorCode::kLimitExceeded));
    EXPECT_LT(declared, 33);
    EXPECT_FALSE(scope->hasName(longName + static_cast<char16_t>(u'A' + declared - 1)));
    EXPECT_GT(budget->bytesInUse(), before + (std::size_t{60} << 20));
}

}  // namespace
