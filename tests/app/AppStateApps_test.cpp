#include <gtest/gtest.h>

#include <QSignalSpy>
#include <algorithm>
#include <fstream>
#include <set>

#include "app/AppState.h"
#include "app/uninstaller/AllocatedSize.h"
#include "app/uninstaller/AppLocations.h"
#include "app/uninstaller/RelatedFileGroups.h"
#include "tests/app/AppStateFakes.h"
#include "tests/app/uninstaller/AppFixtures.h"
#include "tests/support/TempDir.h"

namespace cb {
namespace {

using testing::FakeApps;
using testing::FakeWorld;
using testing::waitFor;
using AppList = std::vector<std::shared_ptr<InstalledApp>>;

AppList makeApps(int count) {
    AppList apps;
    for (int i = 0; i < count; ++i) {
        apps.push_back(FakeApps::makeApp("App" + std::to_string(i)));
    }
    return apps;
}

// The list's reload: cancel the task, empty the list, reset the flag, list again.
void reload(AppState& state) {
    if (state.appsTask()) {
        state.appsTask()->cancel();
    }
    state.setApps({});
    state.setAppsLoading(false);
    state.loadApps();
}

class AppStateAppsTest : public ::testing::Test {
  protected:
    AppStateAppsTest() { testing::ensureCoreApplication(); }

    FakeWorld world_;
    std::unique_ptr<AppState> state_ = std::make_unique<AppState>(world_.services());
};

TEST_F(AppStateAppsTest, PublishesTheListAndClearsLoadingTogetherBeforeAnySize) {
    const AppList apps = makeApps(3);
    world_.apps.setListing(apps);
    world_.apps.holdListing = true;
    world_.apps.holdMeasurements = true;
    bool loadingWhenListed = true;
    size_t listedWhenLoadingCleared = 0;
    QObject::connect(state_.get(), &AppState::appsChanged,
                     [&] { loadingWhenListed = state_->appsLoading(); });
    QObject::connect(state_.get(), &AppState::appsLoadingChanged,
                     [&] { listedWhenLoadingCleared = state_->apps().size(); });

    state_->loadApps();
    EXPECT_TRUE(state_->appsLoading());
    ASSERT_TRUE(waitFor([&] { return world_.apps.listingGate.waiting() == 1; }));
    state_->loadApps();  // ignored while loading
    world_.apps.listingGate.openFully();
    ASSERT_TRUE(waitFor([&] { return state_->apps().size() == 3; }));

    EXPECT_FALSE(state_->appsLoading());
    EXPECT_FALSE(loadingWhenListed);
    EXPECT_EQ(listedWhenLoadingCleared, 3u);
    EXPECT_EQ(world_.apps.listings, 1);
    for (const auto& app : state_->apps()) {
        EXPECT_EQ(app->bundleSize(), 0) << app->name();
    }
}

TEST_F(AppStateAppsTest, TenApplicationsAreMeasuredFourAtATimeInListOrderEachOnce) {
    const AppList apps = makeApps(10);
    world_.apps.setListing(apps);
    world_.apps.holdMeasurements = true;
    QSignalSpy changes(state_.get(), &AppState::changed);

    state_->loadApps();
    ASSERT_TRUE(waitFor([&] { return world_.apps.measureGate.waiting() == 4; }));
    QTest::qWait(20);  // room for a fifth to start if the bound were broken
    const std::vector<std::filesystem::path> started = world_.apps.measured();
    // The first four of the list, in whatever order their threads got going.
    EXPECT_EQ(std::set(started.begin(), started.end()),
              (std::set{apps[0]->url(), apps[1]->url(), apps[2]->url(), apps[3]->url()}));
    ASSERT_EQ(started.size(), 4u);
    for (int released = 0; released < 10; ++released) {
        world_.apps.measureGate.pass();
        ASSERT_TRUE(waitFor([&] { return changes.size() == released + 1; }));
    }

    EXPECT_EQ(world_.apps.maxInFlight, 4);
    const auto measured = world_.apps.measured();
    EXPECT_EQ(std::set(measured.begin(), measured.end()).size(), 10u);
    EXPECT_EQ(measured.size(), 10u);
    for (const auto& app : apps) {
        EXPECT_EQ(app->bundleSize(), world_.apps.sizeOf(app->url())) << app->name();
    }
}

TEST_F(AppStateAppsTest, AnEmptyListingInstallsAnEmptyListAndMeasuresNothing) {
    QSignalSpy listed(state_.get(), &AppState::appsChanged);
    state_->loadApps();
    ASSERT_TRUE(waitFor([&] { return !state_->appsLoading(); }));
    EXPECT_EQ(listed.size(), 1);
    EXPECT_TRUE(state_->apps().empty());
    EXPECT_TRUE(world_.apps.measured().empty());
}

TEST_F(AppStateAppsTest, ASizeForAnApplicationThatLeftTheListIsDropped) {
    const AppList apps = makeApps(2);
    world_.apps.setListing(apps);
    world_.apps.holdMeasurements = true;
    QSignalSpy changes(state_.get(), &AppState::changed);
    state_->loadApps();
    ASSERT_TRUE(waitFor([&] { return world_.apps.measureGate.waiting() == 2; }));
    ASSERT_EQ(state_->apps().size(), 2u);
    state_->setApps({apps[1]});  // apps[0] was uninstalled meanwhile
    world_.apps.measureGate.openFully();
    ASSERT_TRUE(waitFor([&] { return changes.size() == 1; }));
    QTest::qWait(20);
    EXPECT_EQ(changes.size(), 1);
    EXPECT_EQ(apps[0]->bundleSize(), 0);
    EXPECT_EQ(apps[1]->bundleSize(), 1001);
}

TEST_F(AppStateAppsTest, AfterAReloadNoSizeOfTheOldListingLands) {
    const AppList apps = makeApps(2);
    world_.apps.setListing(apps);
    world_.apps.holdMeasurements = true;
    state_->loadApps();
    ASSERT_TRUE(waitFor([&] { return world_.apps.measureGate.waiting() == 2; }));
    const std::shared_ptr<AppState::AppsTask> oldTask = state_->appsTask();

    // The same objects listed again, in the other order: an old size would be a wrong one.
    world_.apps.setListing({apps[1], apps[0]});
    world_.apps.holdMeasurements = false;
    QSignalSpy changes(state_.get(), &AppState::changed);
    reload(*state_);
    EXPECT_TRUE(oldTask->isCancelled());
    EXPECT_NE(state_->appsTask(), oldTask);
    ASSERT_TRUE(waitFor([&] { return changes.size() == 2; }));
    ASSERT_TRUE(waitFor([&] { return world_.apps.inFlight == 0; }));  // the old ones stopped
    QTest::qWait(20);
    EXPECT_EQ(changes.size(), 2);
    EXPECT_EQ(apps[1]->bundleSize(), 1000);
    EXPECT_EQ(apps[0]->bundleSize(), 1001);
    EXPECT_EQ(world_.apps.measured().size(), 4u);
}

TEST_F(AppStateAppsTest, TwoSelectionsSearchOnceAndTheResultIsAppliedWhole) {
    auto app = FakeApps::makeApp("Banana");
    world_.apps.relatedResult = {
        {QUuid::createUuid(), "/h/Library/Caches/com.example.Banana", RelatedCategory::caches, 7,
         false},
    };
    world_.apps.holdRelated = true;
    QSignalSpy changes(state_.get(), &AppState::changed);

    state_->loadRelated(app);
    state_->loadRelated(app);
    EXPECT_TRUE(app->relatedLoading());
    ASSERT_TRUE(waitFor([&] { return world_.apps.relatedGate.waiting() == 1; }));
    world_.apps.relatedGate.openFully();
    ASSERT_TRUE(waitFor([&] { return app->relatedLoaded(); }));
    state_->loadRelated(app);  // already loaded

    EXPECT_FALSE(app->relatedLoading());
    EXPECT_EQ(app->related(), world_.apps.relatedResult);
    EXPECT_EQ(app->totalSize(), 7);
    EXPECT_EQ(changes.size(), 1);
    QTest::qWait(20);
    EXPECT_EQ(world_.apps.relatedSearches, 1);
}

TEST_F(AppStateAppsTest, UninstallRequestRevealAndOpenReachTheirServices) {
    auto app = FakeApps::makeApp("Banana");
    QSignalSpy candidate(state_.get(), &AppState::uninstallCandidateChanged);
    state_->requestUninstall(app);
    EXPECT_EQ(state_->uninstallCandidate(), app);
    EXPECT_EQ(candidate.size(), 1);
    EXPECT_TRUE(app->relatedLoading());
    ASSERT_TRUE(waitFor([&] { return app->relatedLoaded(); }));

    state_->revealApp(*app);
    state_->openApp(*app);
    ASSERT_EQ(world_.revealed.size(), 1u);
    EXPECT_EQ(world_.revealed[0].first, app->url());
    EXPECT_TRUE(world_.revealed[0].second);
    EXPECT_EQ(world_.apps.opened, std::vector<std::filesystem::path>{app->url()});
}

TEST_F(AppStateAppsTest, AStateDestroyedMidWayAppliesNothingAndStopsItsWork) {
    // Mid-listing.
    const AppList apps = makeApps(3);
    world_.apps.setListing(apps);
    world_.apps.holdListing = true;
    state_->loadApps();
    ASSERT_TRUE(waitFor([&] { return world_.apps.listingGate.waiting() == 1; }));
    state_.reset();  // raises the stop flag and joins; the listing returns its list unused
    QTest::qWait(20);
    EXPECT_TRUE(world_.apps.measured().empty());

    // Mid-measurement and mid-search.
    world_.apps.holdListing = false;
    world_.apps.holdMeasurements = true;
    world_.apps.holdRelated = true;
    state_ = std::make_unique<AppState>(world_.services());
    state_->loadApps();
    ASSERT_TRUE(waitFor([&] { return world_.apps.measureGate.waiting() == 3; }));
    state_->loadRelated(apps[0]);
    ASSERT_TRUE(waitFor([&] { return world_.apps.relatedGate.waiting() == 1; }));
    state_.reset();
    QTest::qWait(20);
    EXPECT_EQ(world_.apps.measured().size(), 3u);
    for (const auto& app : apps) {
        EXPECT_EQ(app->bundleSize(), 0);
    }
    EXPECT_FALSE(apps[0]->relatedLoaded());
}

// The real services on a home folder with three applications and traces of one of them.
TEST(AppStateAppsRealTest, ListsMeasuresAndFindsTheRelatedFilesOfAFixture) {
    testing::ensureCoreApplication();
    testsupport::TempDir dir;
    const std::filesystem::path root = dir.path();
    const auto applications = root / "Applications";
    const auto home = root / "home";
    for (const char* name : {"cherry", "Banana", "apple"}) {
        const auto bundle = testsupport::makeAppBundle(applications / (std::string(name) + ".app"),
                                                       std::string("com.example.") + name);
        std::ofstream(bundle / "Contents" / "payload.bin") << std::string(20000, 'x');
    }
    std::filesystem::create_directories(home / "Library/Application Support/com.example.Banana");
    std::filesystem::create_directories(home / "Library/Caches/com.example.Banana");
    std::ofstream(home / "Library/Caches/com.example.Banana/cache.db") << std::string(9000, 'c');
    testsupport::ScopedEnv homeEnv("HOME", home.string());
    const AppLocations old =
        AppLocations::TEST_setCurrent({applications, root / "machine" / "Library"});

    {
        AppState state(AppServices::system());
        QSignalSpy changes(&state, &AppState::changed);
        state.loadApps();
        ASSERT_TRUE(waitFor([&] { return changes.size() == 3; }));
        std::vector<std::string> names;
        for (const auto& app : state.apps()) {
            names.push_back(app->name());
            EXPECT_EQ(app->bundleSize(), allocatedSize(app->url())) << app->name();
            EXPECT_GT(app->bundleSize(), 0);
        }
        EXPECT_EQ(names, (std::vector<std::string>{"apple", "Banana", "cherry"}));

        const std::shared_ptr<InstalledApp> banana = state.apps()[1];
        state.loadRelated(banana);
        ASSERT_TRUE(waitFor([&] { return banana->relatedLoaded(); }));
        std::vector<RelatedCategory> categories;
        for (const auto& [category, files] : groupRelatedFilesByCategory(banana->related())) {
            categories.push_back(category);
        }
        EXPECT_EQ(categories, (std::vector<RelatedCategory>{RelatedCategory::applicationSupport,
                                                            RelatedCategory::caches}));
    }
    AppLocations::TEST_setCurrent(old);
}

}  // namespace
}  // namespace cb
