#include "sdk/measurement/script/APMPObjectManager.h"

#include <gtest/gtest.h>

#include "ScriptTestSupport.h"
#include "sdk/measurement/script/APMPArrayValue.h"
#include "sdk/measurement/script/APMPEvaluator.h"
#include "sdk/measurement/script/APMPFunctionValue.h"
#include "sdk/measurement/script/APMPMapValue.h"
#include "sdk/measurement/script/APMPRuntime.h"
#include "tests/sdk/measurement/script/APMPObjectManagerTestPeer.h"

namespace {

using namespace script_test;

// A map with the property "x" = 1, tracked by the scope's runtime.
std::shared_ptr<APMPMapValue> MapWithX(const APMPScope& scope) {
    auto map = APMPObjectManager::mapValueWithScope(scope);
    EXPECT_TRUE(map->propertyMap().setValue(Num(1), u"x").ok());
    return map;
}

TEST(APMPObjectManager, AClosureKeepsEveryEnclosingScopeAlive) {
    APMPRuntime runtime;
    std::shared_ptr<APMPMapValue> map;
    {
        // A function's scope holds the map; a block inside it makes the closure that reads it.
        const APMPScopeRef functionScope = runtime.getRunScope()->createChildScope();
        map = MapWithX(*functionScope);
        ASSERT_TRUE(functionScope->addValue(map, u"m").ok());
        const APMPScopeRef block = functionScope->createChildScope();
        auto closure = APMPObjectManager::functionValue(u"c", {}, {Call(u"m", {})}, block);
        ASSERT_TRUE(runtime.globalScope()->addValue(closure, u"keep").ok());
    }
    runtime.collectGarbage();
    EXPECT_TRUE(map->propertyMap().hasName(u"x"));
}

TEST(APMPObjectManager, AMapOnlyADiscardedRunScopeHeldLosesItsProperties) {
    APMPRuntime runtime;
    std::shared_ptr<APMPMapValue> kept;
    std::shared_ptr<APMPMapValue> dropped;
    {
        const APMPScopeRef run = runtime.getRunScope();
        kept = MapWithX(*run);
        dropped = MapWithX(*run);
        ASSERT_TRUE(runtime.globalScope()->addValue(kept, u"kept").ok());
        ASSERT_TRUE(run->addValue(dropped, u"dropped").ok());
    }
    runtime.collectGarbage();
    EXPECT_TRUE(kept->propertyMap().hasName(u"x"));
    EXPECT_FALSE(dropped->propertyMap().hasName(u"x"));
    // A second collection finds the survivor unmarked again and keeps it.
    runtime.collectGarbage();
    EXPECT_TRUE(kept->propertyMap().hasName(u"x"));
}

TEST(APMPObjectManager, AMapStoredOnACachedModuleSurvives) {
    APMPRuntime runtime;
    runtime.setModuleCreator([] { return std::make_shared<APMPMapValue>(); }, u"test.module");
    std::shared_ptr<APMPMapValue> stash;
    {
        const APMPScopeRef run = runtime.getRunScope();
        sdk::Error error;
        const APMPValueRef module =
            APMPEvaluator::evaluateStatement(Call(u"require", {Str("test.module")}), run, error);
        ASSERT_EQ(module->kind(), APMPValueKind::kMap) << error.ToString();
        stash = MapWithX(*run);
        ASSERT_TRUE(static_cast<APMPMapValue&>(*module).propertyMap().setValue(stash, u"s").ok());
    }
    runtime.collectGarbage();
    EXPECT_TRUE(stash->propertyMap().hasName(u"x"));
}

TEST(APMPObjectManager, DroppedCyclesAreFreed) {
    APMPRuntime runtime;
    const std::size_t trackedAtStart = runtime.objectManager()->trackedObjects().size();
    std::vector<std::weak_ptr<APMPRuntimeValue>> watched;
    {
        const APMPScopeRef run = runtime.getRunScope();
        for (int i = 0; i < 10000; ++i) {
            auto a = APMPObjectManager::mapValueWithScope(*run);
            auto b = APMPObjectManager::arrayValueWithScope(*run);
            ASSERT_TRUE(a->propertyMap().setValue(b, u"b").ok());
            ASSERT_TRUE(b->appendElements({a}).ok());
            watched.push_back(a);
            watched.push_back(b);
        }
    }
    EXPECT_FALSE(watched.front().expired());
    runtime.collectGarbage();
    for (const auto& value : watched) {
        ASSERT_TRUE(value.expired());
    }
    EXPECT_EQ(runtime.objectManager()->trackedObjects().size(), trackedAtStart);
    EXPECT_EQ(runtime.objectManager()->roots().size(), 2u);
}

TEST(APMPObjectManager, LongChainsAreMarkedAndFreedWithoutRecursion) {
    APMPRuntime runtime;
    std::weak_ptr<APMPRuntimeValue> deepest;
    const auto budget = runtime.objectManager()->budget();
    const std::size_t bytesBefore = budget->bytesInUse();
    {
        const APMPScopeRef global = runtime.globalScope();
        auto head = APMPObjectManager::arrayValueWithScope(*global);
        deepest = head;
        // As many one-element arrays as fit the memory cap at what each really costs.
        for (int i = 0; i < 200000; ++i) {
            sdk::Error error;
            auto next = APMPObjectManager::arrayValueWithArray({head}, *global, error);
            ASSERT_TRUE(error.ok());
            head = std::move(next);
        }
        ASSERT_TRUE(global->addValue(head, u"chain").ok());
    }
    // Reachable: marking walks the whole chain and keeps it.
    runtime.collectGarbage();
    EXPECT_FALSE(deepest.expired());
    // Unreachable: collected and freed.
    ASSERT_TRUE(runtime.globalScope()->addValue(APMPNull(), u"chain").ok());
    runtime.collectGarbage();
    EXPECT_TRUE(deepest.expired());
    // What stays is the global scope's new name "chain".
    EXPECT_LT(budget->bytesInUse(), bytesBefore + 256);
}

TEST(APMPObjectManager, DeadTrackedObjectsDoNotPileUpBetweenCollections) {
    APMPRuntime runtime;
    const auto manager = runtime.objectManager();
    const std::size_t before = APMPObjectManagerTestPeer::trackedEntries(*manager);
    // Arrays that die at once, as a loop making temporary arrays leaves them; each dead entry
    // would keep its array's block allocated until the next collection.
    for (int i = 0; i < 100000; ++i) {
        APMPObjectManager::arrayValueWithScope(*runtime.globalScope());
    }
    EXPECT_LT(APMPObjectManagerTestPeer::trackedEntries(*manager), before + 4096);
    // The live ones stay tracked through the compactions.
    std::vector<std::shared_ptr<APMPArrayValue>> kept;
    for (int i = 0; i < 10000; ++i) {
        kept.push_back(APMPObjectManager::arrayValueWithScope(*runtime.globalScope()));
        APMPObjectManager::arrayValueWithScope(*runtime.globalScope());
    }
    EXPECT_EQ(manager->trackedObjects().size(), before + kept.size());
    EXPECT_LT(APMPObjectManagerTestPeer::trackedEntries(*manager), before + 3 * kept.size());
}

TEST(APMPObjectManager, ADestroyedRuntimeLeavesNothingBehind) {
    std::vector<std::weak_ptr<APMPRuntimeValue>> watched;
    std::weak_ptr<APMPRuntimeBudget> budget;
    {
        APMPRuntime runtime;
        budget = runtime.objectManager()->budget();
        const APMPScopeRef global = runtime.globalScope();
        // A closure stored in the scope it captures, and a self-containing map.
        auto closure = APMPObjectManager::functionValue(u"f", {}, {}, global);
        ASSERT_TRUE(global->addValue(closure, u"f").ok());
        auto map = MapWithX(*global);
        ASSERT_TRUE(map->propertyMap().setValue(map, u"self").ok());
        ASSERT_TRUE(global->addValue(map, u"m").ok());
        sdk::Error error;
        const APMPValueRef platform = APMPEvaluator::evaluateStatement(
            Call(u"require", {Str("internal.platform")}), global, error);
        ASSERT_TRUE(error.ok());
        ASSERT_TRUE(static_cast<APMPFunctionValue&>(*platform)
                        .propertyMap()
                        .setValue(platform, u"self")
                        .ok());
        watched = {closure, map, platform};
    }
    for (const auto& value : watched) {
        EXPECT_TRUE(value.expired());
    }
    EXPECT_TRUE(budget.expired());
}

}  // namespace
