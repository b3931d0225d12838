#include "app/views/ScanProgressView.h"

#include <QPushButton>

#include <cmath>
#include <limits>

#include "app/views/ScreenStyle.h"
#include "tests/app/views/ScreenTestSupport.h"

namespace cb {
namespace {

using test::labelText;

ScanProgress report(int64_t bytes, int64_t files, std::string path, double rate) {
    ScanProgress progress;
    progress.bytesScanned = bytes;
    progress.filesScanned = files;
    progress.currentPath = std::move(path);
    progress.filesPerSecond = rate;
    return progress;
}

class ScanProgressViewTest : public ::testing::Test {
  protected:
    void SetUp() override { test::app(); }

    LocalizationManager loc{nullptr, {"en"}};
    int cancels = 0;
};

TEST(ScanProgressViewRate, RoundsHalfAwayFromZeroAndHidesBelowOne) {
    const struct {
        double rate;
        const char* text;
    } cases[] = {
        {0, ""},
        {0.99, ""},
        {-3, ""},
        {std::nan(""), ""},
        {1.0, "1 files/s"},
        {2.5, "3 files/s"},
        {1234.4, "1234 files/s"},
        {5210, "5210 files/s"},
        {1e30, "9223372036854775807 files/s"},
        {std::numeric_limits<double>::infinity(), "9223372036854775807 files/s"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ScanProgressView::rateText(c.rate), QString::fromUtf8(c.text)) << c.rate;
    }
}

TEST_F(ScanProgressViewTest, FirstReportShowsZeroCountsAndTheRootPath) {
    ScanProgressView view(
        report(0, 0, "/Users/alice", 0), [] {}, loc);
    EXPECT_EQ(labelText(&view, "title"), "Scanning…");
    EXPECT_EQ(labelText(&view, "summary"), style::byteText(0) + " • 0 items");
    EXPECT_TRUE(view.findChild<QLabel*>("rate")->isHidden());
    EXPECT_EQ(labelText(&view, "path"), "/Users/alice");
    EXPECT_EQ(test::buttonText(&view, "cancel"), "Cancel");
}

TEST_F(ScanProgressViewTest, LaterReportsReplaceTheShownOne) {
    ScanProgressView view(
        report(0, 0, "/", 0), [] {}, loc);
    view.setProgress(report(12'400'000'000, 1834, "/usr/share/doc", 2.5));
    EXPECT_EQ(labelText(&view, "summary"), style::byteText(12'400'000'000) + " • 1834 items");
    EXPECT_FALSE(view.findChild<QLabel*>("rate")->isHidden());
    EXPECT_EQ(labelText(&view, "rate"), "3 files/s");
    EXPECT_EQ(labelText(&view, "path"), "/usr/share/doc");
    view.setProgress(report(-1, 1, "/x", 0.5));
    EXPECT_EQ(labelText(&view, "summary"), style::byteText(0) + " • 1 items");
    EXPECT_TRUE(view.findChild<QLabel*>("rate")->isHidden());
}

TEST_F(ScanProgressViewTest, LongPathStaysOnOneLineWithinItsWidth) {
    std::string path = "/Volumes/Data";
    for (int i = 0; i < 40; ++i) {
        path += "/folder-" + std::to_string(i);
    }
    path += "/last.txt";
    ScanProgressView view(
        report(1, 1, path, 10), [] {}, loc);
    view.resize(1200, 700);
    test::showActive(&view);
    auto* line = view.findChild<MiddleElidedLabel*>("path");
    EXPECT_LE(line->width(), 520);
    EXPECT_TRUE(line->isElided());
    EXPECT_FALSE(line->text().contains(u'\n'));
    EXPECT_TRUE(line->text().startsWith("/Volumes/"));
    EXPECT_TRUE(line->text().endsWith("last.txt"));
}

TEST_F(ScanProgressViewTest, EveryCancelPressCallsTheAction) {
    ScanProgressView view(
        report(0, 0, "/", 0), [this] { ++cancels; }, loc);
    auto* cancel = view.findChild<QPushButton*>("cancel");
    cancel->click();
    cancel->click();
    EXPECT_EQ(cancels, 2);
}

TEST_F(ScanProgressViewTest, LanguageSwitchRelabelsButKeepsTheRate) {
    ScanProgressView view(
        report(12'400'000'000, 1834, "/Users/alice/Library/Caches", 5210), [] {}, loc);
    test::savePng(&view, "scan-progress-en.png", {800, 500});
    loc.setCurrent(Language::german);
    EXPECT_EQ(labelText(&view, "title"), loc.qtext("scan.progress"));
    EXPECT_EQ(labelText(&view, "summary"),
              style::byteText(12'400'000'000) + " • 1834 " + loc.qtext("apps.itemMany"));
    EXPECT_EQ(test::buttonText(&view, "cancel"), "Abbrechen");
    EXPECT_EQ(labelText(&view, "rate"), "5210 files/s");
    test::savePng(&view, "scan-progress-de.png", {800, 500});
}

}  // namespace
}  // namespace cb
