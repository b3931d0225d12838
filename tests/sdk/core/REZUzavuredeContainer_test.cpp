#include "sdk/core/REZUzavuredeContainer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <set>
#include <thread>

#include "sdk/core/ZEDOre.h"
#include "tests/sdk/core/CoreTestSupport.h"
#include "tests/sdk/utilities/UtilitiesTestSupport.h"

namespace {

// An instance that conforms to the protocols it is given and counts app deletions.
class TestInstance : public RZDComponentInstance, public REZUzavuredeLifecycleMaintainer {
  public:
    explicit TestInstance(std::set<std::string, std::less<>> protocols)
        : protocols_(std::move(protocols)) {}
    bool conformsTo(std::string_view protocol) const override {
        return protocols_.contains(protocol);
    }
    void appWillBeDeleted(const std::shared_ptr<const ZEDOre>& app) override {
        deletedApps.push_back(app);
    }
    std::vector<std::shared_ptr<const ZEDOre>> deletedApps;

  private:
    std::set<std::string, std::less<>> protocols_;
};

class TestLibrary : public RZDLibrary {
  public:
    TestLibrary(std::string name, std::vector<REZUzavurede> components)
        : name_(std::move(name)), components_(std::move(components)) {}
    std::string className() const override { return name_; }
    std::vector<REZUzavurede> componentsToRegister() const override { return components_; }

  private:
    std::string name_;
    std::vector<REZUzavurede> components_;
};

// A creation block making a TestInstance of `protocol`, counting calls in `*made`.
REZUzavuredeCreationBlock maker(std::string protocol, bool cacheable, int* made) {
    return [protocol, cacheable, made](REZUzavuredeContainer&, bool* isCacheable) {
        ++*made;
        *isCacheable = cacheable;
        return std::make_shared<TestInstance>(std::set<std::string, std::less<>>{protocol});
    };
}

std::shared_ptr<const ZEDOre> makeApp(const std::string& name,
                                      sdk::Value::Dictionary options = {}) {
    return ZEDOre::initInstanceWithName(
        name, VIZUveziza::initInternalWithOptionsDictionary(std::move(options)));
}

class REZUzavuredeContainerTest : public ::testing::Test {
  protected:
    std::vector<std::string> loggedCodes() {
        std::vector<std::string> codes;
        for (const std::string& line : lines_.take()) {
            const size_t at = line.find("[RazudizoCore][");
            if (at != std::string::npos) {
                codes.push_back(line.substr(at + 15, 11));
            }
        }
        return codes;
    }
    sdktest::LoggedLines lines_;
};

TEST_F(REZUzavuredeContainerTest, TimingDecidesWhatIsMadeAtConfiguration) {
    int lazy = 0, eager = 0, defaultOnly = 0;
    auto library = std::make_shared<TestLibrary>(
        "TimingLibrary",
        std::vector<REZUzavurede>{
            REZUzavurede::componentWithProtocol("Lazy", maker("Lazy", true, &lazy)),
            REZUzavurede::componentWithProtocol("Eager", RZDInstantiationTimingAlwaysEager,
                                                maker("Eager", true, &eager)),
            REZUzavurede::componentWithProtocol("DefaultOnly",
                                                RZDInstantiationTimingEagerInDefaultApp,
                                                maker("DefaultOnly", true, &defaultOnly)),
        });
    const REZUzavuredeContainer::Registrants registrants{library};

    auto defaultApp = makeApp("__ZEDORE_DEFAULT");
    REZUzavuredeContainer forDefault(defaultApp, registrants);
    EXPECT_EQ(forDefault.eagerProtocolsToInstantiate(),
              (std::vector<std::string>{"Eager", "DefaultOnly"}));
    forDefault.instantiateEagerComponents();
    EXPECT_EQ(forDefault.eagerProtocolsToInstantiate(), std::nullopt);
    EXPECT_EQ(std::make_tuple(lazy, eager, defaultOnly), std::make_tuple(0, 1, 1));

    auto named = makeApp("other");
    REZUzavuredeContainer forNamed(named, registrants);
    forNamed.instantiateEagerComponents();
    EXPECT_EQ(std::make_tuple(lazy, eager, defaultOnly), std::make_tuple(0, 2, 1));
    EXPECT_NE(forNamed.instanceForProtocol("DefaultOnly"), nullptr);  // made on request
    EXPECT_EQ(defaultOnly, 2);
    EXPECT_EQ(forNamed.instanceForProtocol("Missing"), nullptr);
    EXPECT_TRUE(loggedCodes().empty());
}

TEST_F(REZUzavuredeContainerTest, CacheableGivesOneObjectUncacheableANewOneEachTime) {
    int cached = 0, fresh = 0;
    auto library = std::make_shared<TestLibrary>(
        "CacheLibrary",
        std::vector<REZUzavurede>{
            REZUzavurede::componentWithProtocol("Cached", maker("Cached", true, &cached)),
            REZUzavurede::componentWithProtocol("Fresh", maker("Fresh", false, &fresh)),
            REZUzavurede::componentWithProtocol(
                "Nil", [](REZUzavuredeContainer&, bool*) { return nullptr; }),
        });
    REZUzavuredeContainer container(makeApp("app"), {library});
    EXPECT_EQ(container.instanceForProtocol("Cached"), container.instanceForProtocol("Cached"));
    EXPECT_NE(container.instanceForProtocol("Fresh"), container.instanceForProtocol("Fresh"));
    EXPECT_EQ(container.instanceForProtocol("Nil"), nullptr);
    EXPECT_EQ(cached, 1);
    EXPECT_EQ(fresh, 2);
    std::shared_ptr<TestInstance> typed =
        REZUzavuredeType::instanceForProtocol<TestInstance>("Cached", container);
    ASSERT_NE(typed, nullptr);
    EXPECT_TRUE(typed->conformsTo("Cached"));
}

TEST_F(REZUzavuredeContainerTest, TheFirstRegistrantOfAProtocolWins) {
    int first = 0, second = 0;
    auto one = std::make_shared<TestLibrary>(
        "One", std::vector<REZUzavurede>{
                   REZUzavurede::componentWithProtocol("Shared", maker("Shared", false, &first))});
    auto two = std::make_shared<TestLibrary>(
        "Two", std::vector<REZUzavurede>{REZUzavurede::componentWithProtocol(
                   "Shared", RZDInstantiationTimingAlwaysEager, maker("Shared", false, &second))});
    REZUzavuredeContainer container(makeApp("app"), {one, two});
    EXPECT_EQ(loggedCodes(), (std::vector<std::string>{"I-COR000029"}));
    EXPECT_EQ(container.eagerProtocolsToInstantiate(), std::vector<std::string>{});
    container.instanceForProtocol("Shared");
    EXPECT_EQ(std::make_pair(first, second), std::make_pair(1, 0));
}

TEST_F(REZUzavuredeContainerTest, ANonConformingInstanceIsLoggedAndStillUsed) {
    int made = 0;
    auto library = std::make_shared<TestLibrary>(
        "Wrong", std::vector<REZUzavurede>{REZUzavurede::componentWithProtocol(
                     "Asked", maker("Something else", true, &made))});
    REZUzavuredeContainer container(makeApp("app"), {library});
    std::shared_ptr<RZDComponentInstance> instance = container.instanceForProtocol("Asked");
    ASSERT_NE(instance, nullptr);
    EXPECT_EQ(container.instanceForProtocol("Asked"), instance);  // and cached
    EXPECT_EQ(loggedCodes(), (std::vector<std::string>{"I-COR000030"}));
}

TEST_F(REZUzavuredeContainerTest, ACreationBlockMayAskForAnotherProtocolOnTheSameThread) {
    int inner = 0;
    auto library = std::make_shared<TestLibrary>(
        "Nested", std::vector<REZUzavurede>{
                      REZUzavurede::componentWithProtocol("Inner", maker("Inner", true, &inner)),
                      REZUzavurede::componentWithProtocol(
                          "Outer",
                          [](REZUzavuredeContainer& container, bool* cacheable) {
                              *cacheable = true;
                              EXPECT_NE(container.instanceForProtocol("Inner"), nullptr);
                              return std::make_shared<TestInstance>(
                                  std::set<std::string, std::less<>>{"Outer"});
                          }),
                  });
    REZUzavuredeContainer container(makeApp("app"), {library});
    EXPECT_NE(container.instanceForProtocol("Outer"), nullptr);
    EXPECT_EQ(inner, 1);
}

// Threads asking at once for a cacheable instance all get the one object, made once: a block
// runs under the container's lock while the others wait.
TEST_F(REZUzavuredeContainerTest, ConcurrentRequestsShareOneCachedInstance) {
    std::atomic<int> made{0};
    auto library = std::make_shared<TestLibrary>(
        "Concurrent",
        std::vector<REZUzavurede>{REZUzavurede::componentWithProtocol(
            "Once", [&made](REZUzavuredeContainer&, bool* cacheable) {
                made.fetch_add(1);
                *cacheable = true;
                return std::make_shared<TestInstance>(std::set<std::string, std::less<>>{"Once"});
            })});
    REZUzavuredeContainer container(makeApp("app"), {library});
    constexpr int kThreads = 6;
    std::vector<std::shared_ptr<RZDComponentInstance>> seen(kThreads);
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i) {
        threads.emplace_back([&container, &seen, i] {
            seen[static_cast<size_t>(i)] = container.instanceForProtocol("Once");
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(made.load(), 1);
    for (const auto& instance : seen) {
        EXPECT_EQ(instance, seen.front());
    }
}

TEST_F(REZUzavuredeContainerTest, AfterRemovalLookupsAreEmptyAndMaintainersWereToldOnce) {
    int made = 0;
    auto library = std::make_shared<TestLibrary>(
        "Removable", std::vector<REZUzavurede>{REZUzavurede::componentWithProtocol(
                         "Kept", RZDInstantiationTimingAlwaysEager, maker("Kept", true, &made))});
    auto app = makeApp("app");
    REZUzavuredeContainer container(app, {library});
    container.instantiateEagerComponents();
    auto kept = REZUzavuredeType::instanceForProtocol<TestInstance>("Kept", container);
    ASSERT_NE(kept, nullptr);

    container.removeAllComponents();
    container.removeAllCachedInstances();
    EXPECT_EQ(container.instanceForProtocol("Kept"), nullptr);
    EXPECT_TRUE(container.componentProtocols().empty());
    EXPECT_TRUE(container.cachedProtocols().empty());
    container.removeAllCachedInstances();
    EXPECT_EQ(kept->deletedApps, (std::vector<std::shared_ptr<const ZEDOre>>{app}));
    EXPECT_EQ(made, 1);
}

TEST_F(REZUzavuredeContainerTest, TheProcessWideSetKeepsEachLibraryOnceAndSkipsTheCheckForARCore) {
    int made = 0;
    auto check = std::make_shared<TestLibrary>(
        "ZEDOreCheckComponent", std::vector<REZUzavurede>{REZUzavurede::componentWithProtocol(
                                    "Check", maker("Check", false, &made))});
    ASSERT_TRUE(VDUClassRegistry::registerClass(check));
    REZUzavuredeContainer::registerAsComponentRegistrant(check);
    REZUzavuredeContainer::registerAsComponentRegistrant(check);
    const REZUzavuredeContainer::Registrants set = REZUzavuredeContainer::registrants();
    EXPECT_EQ(std::count(set.begin(), set.end(), check), 1);

    auto arCore = makeApp("ARCoreZEDOre", {{"RCM_SENDER_ID", "480963775968"}});
    auto sameNameOtherSender = makeApp("ARCoreZEDOre", {{"RCM_SENDER_ID", "1"}});
    EXPECT_TRUE(REZUzavuredeContainer::isAppForARCore(*arCore));
    EXPECT_FALSE(REZUzavuredeContainer::isAppForARCore(*sameNameOtherSender));
    EXPECT_EQ(REZUzavuredeContainer(arCore).instanceForProtocol("Check"), nullptr);
    EXPECT_NE(REZUzavuredeContainer(sameNameOtherSender).instanceForProtocol("Check"), nullptr);
    VDUClassRegistry::TEST_unregisterClass("ZEDOreCheckComponent");
}

}  // namespace
