#include "app/views/FDABanner.h"

#include <QAbstractButton>

#include "tests/app/views/ScreenTestSupport.h"

namespace cb {
namespace {

using test::labelText;

class FDABannerTest : public ::testing::Test {
  protected:
    void SetUp() override { test::app(); }

    LocalizationManager loc{nullptr, {"en"}};
    int opens = 0;
    int dismissals = 0;
};

TEST_F(FDABannerTest, TitleShowsTheCountInPlainDigits) {
    const struct {
        int64_t count;
        const char* title;
    } cases[] = {
        {0, "Some folders were skipped (0)"},
        {1234, "Some folders were skipped (1234)"},
        {1'234'567'890'123, "Some folders were skipped (1234567890123)"},
    };
    for (const auto& c : cases) {
        FDABanner banner(
            c.count, [] {}, [] {}, loc);
        EXPECT_EQ(labelText(&banner, "title"), c.title);
        EXPECT_EQ(labelText(&banner, "body"),
                  "Grant Cellarbright Full Disk Access for the complete picture.");
        EXPECT_EQ(test::buttonText(&banner, "openSettings"), "Open Settings");
    }
}

TEST_F(FDABannerTest, ButtonsCallTheirActionsEachTime) {
    FDABanner banner(
        3, [this] { ++opens; }, [this] { ++dismissals; }, loc);
    auto* open = banner.findChild<QAbstractButton*>("openSettings");
    open->click();
    open->click();
    open->click();
    EXPECT_EQ(opens, 3);
    EXPECT_EQ(dismissals, 0);
    banner.findChild<QAbstractButton*>("dismiss")->click();
    EXPECT_EQ(dismissals, 1);
    EXPECT_EQ(opens, 3);
}

TEST_F(FDABannerTest, LanguageSwitchRelabelsAndKeepsTheCount) {
    FDABanner banner(
        1234, [] {}, [] {}, loc);
    test::savePng(&banner, "fda-banner-en.png", {900, banner.sizeHint().height()});
    loc.setCurrent(Language::german);
    EXPECT_EQ(labelText(&banner, "title"), loc.qformat("fda.banner.title", {1234}));
    EXPECT_TRUE(labelText(&banner, "title").contains("1234"));
    EXPECT_EQ(labelText(&banner, "body"), loc.qtext("fda.banner.body"));
    EXPECT_EQ(test::buttonText(&banner, "openSettings"), "Einstellungen öffnen");
    const QImage image =
        test::savePng(&banner, "fda-banner-de.png", {900, banner.sizeHint().height()});
    // The strip is tinted orange: red over blue in a corner pixel.
    const QColor corner = image.pixelColor(2, 2);
    EXPECT_GT(corner.red(), corner.blue());
}

}  // namespace
}  // namespace cb
