#include "sdk/measurement/script/APMPRuntime.h"

#include <gtest/gtest.h>

#include "ScriptTestSupport.h"
#include "sdk/measurement/script/APMPArrayValue.h"
#include "sdk/measurement/script/APMPControlValue.h"
#include "sdk/measurement/script/APMPEvaluator.h"
#include "sdk/measurement/script/APMPFunctionValue.h"
#include "sdk/measurement/script/APMPMapValue.h"
#include "sdk/measurement/script/APMPRuntimePlatform.h"

namespace {

using namespace script_test;

TEST(APMPRuntime, TheBudgetAllowsAMillionStepsPerReset) {
    APMPRuntime runtime;
    const APMPScopeRef scope = runtime.getRunScope();
    const APMPValueRef literal = Num(1);
    sdk::Error error;
    for (int i = 0; i < 1000000 && error.ok(); ++i) {
        APMPEvaluator::evaluateStatement(literal, scope, error);
    }
    ASSERT_TRUE(error.ok()) << error.ToString();
    EXPECT_EQ(runtime.getInstructionCount(error), 1000000);
    EXPECT_EQ(APMPEvaluator::evaluateStatement(literal, scope, error), APMPUndefined());
    EXPECT_TRUE(IsScriptError(error, APMPErrorCode::kLimitExceeded));

    // A program cannot reach the count through a variable of any name.
    ASSERT_TRUE(runtime.globalScope()->setValue(Num(0), u"runtime.counter").ok());
    ASSERT_TRUE(runtime.initialScope()->addValue(Num(0), u"runtime.counter").ok());
    error = sdk::Error();
    APMPEvaluator::evaluateStatement(literal, scope, error);
    EXPECT_TRUE(IsScriptError(error, APMPErrorCode::kLimitExceeded));

    runtime.resetInstructionCount();
    error = sdk::Error();
    EXPECT_EQ(runtime.getInstructionCount(error), 0);
    EXPECT_EQ(APMPEvaluator::evaluateStatement(literal, scope, error), literal);
    EXPECT_TRUE(error.ok());

    // Outside any runtime there is no budget to pay from.
    APMPEvaluator::evaluateStatement(literal, APMPScope::make(), error);
    EXPECT_TRUE(IsScriptError(error, APMPErrorCode::kLimitExceeded));
}

TEST(APMPRuntime, RunawayRecursionStopsAtTheDepthLimit) {
    APMPRuntime runtime;
    const APMPScopeRef global = runtime.globalScope();
    // function r() { r(); } called once.
    auto recurse = APMPObjectManager::functionValue(u"r", {}, {Call(u"r", {})}, global);
    ASSERT_TRUE(global->addValue(recurse, u"r").ok());
    sdk::Error error;
    EXPECT_EQ(APMPEvaluator::evaluateStatement(Call(u"r", {}), runtime.getRunScope(), error),
              APMPUndefined());
    EXPECT_TRUE(IsScriptError(error, APMPErrorCode::kLimitExceeded));
    EXPECT_EQ(runtime.objectManager()->budget()->depth(), 0);
    EXPECT_LT(runtime.getInstructionCount(error), 1000000);
}

TEST(APMPRuntime, RequireLoadsModulesOncePerName) {
    APMPRuntime runtime;
    int created = 0;
    runtime.setModuleCreator(
        [&created]() -> APMPValueRef {
            ++created;
            return Str("module");
        },
        u"test.counted");
    runtime.setModuleCreator([]() -> APMPValueRef { return nullptr; }, u"test.nothing");
    const APMPScopeRef scope = runtime.getRunScope();
    const auto require = [&](APMPValueList arguments, sdk::Error& error) {
        return APMPEvaluator::evaluateStatement(Call(u"require", std::move(arguments)), scope,
                                                error);
    };

    sdk::Error error;
    EXPECT_EQ(require({Str("test.unknown")}, error), APMPUndefined());
    EXPECT_TRUE(error.ok());
    EXPECT_EQ(StringOf(*require({Str("test.counted")}, error)), "module");
    EXPECT_EQ(StringOf(*require({Str("test.counted")}, error)), "module");
    EXPECT_EQ(created, 1);

    require({Str("test.nothing")}, error);
    EXPECT_TRUE(IsScriptError(error, APMPErrorCode::kModuleWithoutValue));
    error = sdk::Error();
    require({}, error);
    EXPECT_TRUE(IsScriptError(error, APMPErrorCode::kArgumentCount));
    error = sdk::Error();
    require({Str("a"), Str("b")}, error);
    EXPECT_TRUE(IsScriptError(error, APMPErrorCode::kArgumentCount));
}

TEST(APMPRuntime, ModuleProviderAndPlatformModule) {
    APMPDynamicProvider provider;
    provider.setModuleCreator([] { return std::make_shared<APMPRuntimePlatform>(); },
                              u"internal.platform");
    provider.setModuleCreator([]() -> APMPValueRef { return nullptr; }, u"test.nothing");
    sdk::Error error;
    EXPECT_EQ(provider.moduleForName(u"test.unknown", error), APMPUndefined());
    EXPECT_TRUE(error.ok());
    EXPECT_EQ(provider.moduleForName(u"test.nothing", error), APMPUndefined());
    EXPECT_TRUE(IsScriptError(error, APMPErrorCode::kModuleWithoutValue));

    error = sdk::Error();
    const APMPValueRef first = provider.moduleForName(u"internal.platform", error);
    const APMPValueRef second = provider.moduleForName(u"internal.platform", error);
    ASSERT_EQ(first->kind(), APMPValueKind::kFunction);
    EXPECT_NE(first, second);
    EXPECT_EQ(StringOf(*first), "internal.platform");

    // Through a runtime: require gives the platform, whose getVersion answers the version.
    APMPRuntime runtime;
    const APMPScopeRef scope = runtime.getRunScope();
    const APMPValueRef platform = APMPEvaluator::evaluateStatement(
        Call(u"require", {Str("internal.platform")}), scope, error);
    ASSERT_TRUE(error.ok()) << error.ToString();
    const APMPValueRef version = platform->applyWithName(u"getVersion", {}, scope, error);
    ASSERT_TRUE(error.ok()) << error.ToString();
    EXPECT_EQ(StringOf(*version), "0");
    EXPECT_EQ(APMPRuntime::runtimeVersion(), 0);
    auto& function = static_cast<APMPFunctionValue&>(*platform);
    EXPECT_EQ(function.invokeWithArguments({}, scope, error), APMPUndefined());
}

}  // namespace

namespace {

using namespace script_test;

TEST(APMPRuntime, MethodCallsGoToFunctionPropertiesFirst) {
    APMPRuntime runtime;
    const APMPScopeRef scope = runtime.getRunScope();
    // function f() { 1; return 5; 9 } — the return ends the body and gives its data.
    auto f = APMPObjectManager::functionValue(
        u"f", {u"p"}, {Num(1), APMPControlValue::returnValueWithData(Num(5)), Num(9)}, scope);
    auto array = APMPObjectManager::arrayValueWithScope(*scope);
    auto map = APMPObjectManager::mapValueWithScope(*scope);
    for (APMPPropertyMap* properties :
         {&array->propertyMap(), &map->propertyMap(), &f->propertyMap()}) {
        ASSERT_TRUE(properties->setValue(f, u"call").ok());
        ASSERT_TRUE(properties->setValue(Num(1), u"number").ok());
    }
    for (const APMPValueRef& receiver : {APMPValueRef(array), APMPValueRef(map), APMPValueRef(f)}) {
        SCOPED_TRACE(StringOf(*receiver));
        sdk::Error error;
        EXPECT_EQ(StringOf(*receiver->applyWithName(u"call", {Str("arg")}, scope, error)), "5");
        EXPECT_TRUE(error.ok()) << error.ToString();
        EXPECT_EQ(receiver->applyWithName(u"number", {}, scope, error), APMPUndefined());
        EXPECT_TRUE(IsScriptError(error, APMPErrorCode::kUnknownMethod));
    }
    // hasOwnProperty on maps and functions evaluates its one argument.
    for (const APMPValueRef& receiver : {APMPValueRef(map), APMPValueRef(f)}) {
        sdk::Error error;
        EXPECT_EQ(receiver->applyWithName(u"hasOwnProperty", {Str("number")}, scope, error),
                  APMPBoolean(true));
        EXPECT_EQ(receiver->applyWithName(u"hasOwnProperty", {Str("nope")}, scope, error),
                  APMPBoolean(false));
        EXPECT_TRUE(error.ok());
        receiver->applyWithName(u"hasOwnProperty", {}, scope, error);
        EXPECT_TRUE(IsScriptError(error, APMPErrorCode::kArgumentCount));
    }
    sdk::Error error;
    EXPECT_EQ(StringOf(*f->applyWithName(u"toString", {}, scope, error)), "f");
}

}  // namespace
