// The house-ad bar in the whole window: the window's own ad service against a loopback ad
// server, its bar below the body, its loop started once however often the window is shown.

#include <gtest/gtest.h>

#include <QDir>
#include <QTest>

#include "app/ContentView.h"
#include "app/ads/AdBarView.h"
#include "app/ads/AdServerAddress.h"
#include "app/ads/AdTextRow.h"
#include "app/localization/LocalizationManager.h"
#include "tests/app/AppStateFakes.h"
#include "tests/app/WindowTestEnvironment.h"
#include "tests/app/ads/AdTestServer.h"

namespace cb {
namespace {

using testing::AdTestServer;
using testing::FakeWorld;
using testing::textAdJSON;
using testing::waitFor;

const auto* const kEnvironment =
    ::testing::AddGlobalTestEnvironment(new cb::testing::WindowEnvironment);

class ContentViewAdsTest : public ::testing::Test {
  protected:
    ContentViewAdsTest() {
        setenv("CELLARBRIGHT_API_BASE", ads.address().c_str(), 1);
        TEST_resetAdServerBaseURL();
        // One ad per language.
        ads.setScript([this](const httplib::Request& request, httplib::Response& response) {
            const std::string locale = request.get_param_value("locale");
            response.set_content(
                textAdJSON("ad-" + locale, ads.address("/offer"), "Free up space (" + locale + ")"),
                "application/json");
        });
    }
    ~ContentViewAdsTest() override {
        unsetenv("CELLARBRIGHT_API_BASE");
        TEST_resetAdServerBaseURL();
    }

    // A window whose ad service reads `now` as its clock.
    std::unique_ptr<ContentView> makeWindow() {
        AdServiceOptions options;
        options.now = [this] { return now; };
        auto view =
            std::make_unique<ContentView>(loc, world.services(), nullptr, std::move(options));
        view->resize(1080, 720);
        return view;
    }

    std::vector<std::string> locales() const {
        std::vector<std::string> result;
        for (const auto& request : ads.server.requests()) {
            const auto at = request.target.find("locale=");
            result.push_back(request.target.substr(at + 7, 2));
        }
        return result;
    }

    AdTestServer ads;
    FakeWorld world;
    LocalizationManager loc{nullptr, {"en"}};
    platform::Clock::time_point now = platform::Clock::time_point() + std::chrono::hours(1);
};

TEST_F(ContentViewAdsTest, TheBarAppearsBelowTheBodyAfterTheFirstAnswer) {
    auto view = makeWindow();
    AdBarView* bar = view->adBar();
    EXPECT_TRUE(bar->isHidden());
    EXPECT_TRUE(ads.server.requests().empty()) << "nothing is fetched before the window shows";

    view->show();
    // The layout follows the animation's last step in a posted event: wait for both.
    ASSERT_TRUE(waitFor(
        [&] { return bar->progress() == 1.0 && bar->geometry().bottom() == view->height() - 1; }));
    ASSERT_NE(bar->content(), nullptr);
    EXPECT_EQ(bar->content()->ad().id, "ad-en");
    auto* mainArea = view->findChild<QWidget*>("mainArea");
    EXPECT_EQ(mainArea->geometry().bottom() + 1, bar->y());
    EXPECT_EQ(bar->geometry().bottom(), view->height() - 1);
    EXPECT_EQ(bar->width(), view->width());

    const QString folder = qEnvironmentVariable("CB_TEST_OUTPUT_DIR", QDir::tempPath()) + "/ads";
    QDir().mkpath(folder);
    EXPECT_TRUE(view->grab().save(folder + "/window-with-ad.png"));
}

TEST_F(ContentViewAdsTest, ShowingAgainStartsNoSecondLoopAndALanguageChangeReplacesTheAdInPlace) {
    auto view = makeWindow();
    view->show();
    AdBarView* bar = view->adBar();
    ASSERT_TRUE(waitFor([&] { return bar->progress() == 1.0; }));

    // Well past the throttle, so a second loop would fetch at once.
    now += std::chrono::minutes(5);
    view->hide();
    view->show();

    bool slid = false;
    QObject::connect(&view->ads(), &AdService::currentAdChanged, bar,
                     [&] { slid = slid || bar->isHidden() || bar->progress() != 1.0; });
    loc.setCurrent(Language::german);
    ASSERT_TRUE(
        waitFor([&] { return bar->content() != nullptr && bar->content()->ad().id == "ad-de"; }));
    EXPECT_FALSE(slid) << "one ad replaces another in place";
    EXPECT_EQ(static_cast<AdTextRow*>(bar->content())->shownText(), "Free up space (de)");
    EXPECT_EQ(locales(), (std::vector<std::string>{"en", "de"}));
}

}  // namespace
}  // namespace cb
