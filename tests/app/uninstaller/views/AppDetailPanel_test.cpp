#include "app/uninstaller/views/AppDetailPanel.h"

#include <gtest/gtest.h>

#include <QLabel>
#include <QPushButton>

#include "tests/app/uninstaller/views/AppsViewTestSupport.h"

namespace cb {
namespace {

// The texts of every breakdown row, top to bottom: "title|count|size".
QStringList breakdown(const AppDetailPanel& panel) {
    QList<QWidget*> rows = panel.findChildren<QWidget*>("breakdownRow");
    std::sort(rows.begin(), rows.end(), [](QWidget* a, QWidget* b) { return a->y() < b->y(); });
    QStringList texts;
    for (QWidget* row : rows) {
        auto* count = row->findChild<QLabel*>("count");
        texts << QStringLiteral("%1|%2|%3")
                     .arg(row->findChild<QLabel*>("title")->text(),
                          count != nullptr ? count->text() : QString(),
                          row->findChild<QLabel*>("size")->text());
    }
    return texts;
}

class AppDetailPanelTest : public ::testing::Test {
  protected:
    AppDetailPanelTest() { test::app(); }

    LocalizationManager loc_{nullptr, {"en"}};
    std::vector<std::shared_ptr<InstalledApp>> apps_ = appstest::threeApps();
};

TEST_F(AppDetailPanelTest, BreakdownByCategoryInCategoryOrderFollowsTheSearch) {
    const auto& banana = apps_[1];
    AppDetailPanel panel(banana, loc_);
    panel.resize(AppDetailPanel::kWidth, 420);
    panel.show();
    EXPECT_EQ(test::labelText(&panel, "name"), "Banana");
    EXPECT_EQ(test::labelText(&panel, "version"), "v1.2");
    EXPECT_EQ(test::labelText(&panel, "bundleID"), "com.example.banana");
    EXPECT_TRUE(test::isShown(&panel, "lookingRelated"));
    EXPECT_EQ(breakdown(panel), QStringList{"Application||250 MB"});

    banana->setRelated(appstest::bananaTraces());
    banana->setRelatedLoaded(true);
    QCoreApplication::processEvents();
    EXPECT_EQ(panel.findChild<QWidget*>("lookingRelated"), nullptr);
    EXPECT_EQ(test::labelText(&panel, "breakdownTitle"), "Breakdown");
    EXPECT_EQ(test::labelText(&panel, "total"), "370 MB");
    EXPECT_EQ(breakdown(panel),
              (QStringList{"Application||250 MB", "Application Support|1 item|40 KB",
                           "Caches|2 items|120 MB"}));
    test::savePng(&panel, "app-detail-en.png", panel.size());

    int deletes = 0, reveals = 0;
    panel.setOnDelete([&] { ++deletes; });
    panel.setOnReveal([&] { ++reveals; });
    panel.findChild<QPushButton*>("uninstall")->click();
    panel.findChild<QPushButton*>("reveal")->click();
    EXPECT_EQ(deletes, 1);
    EXPECT_EQ(reveals, 1);

    // A language change relabels the keyed texts, not the category titles.
    loc_.setCurrent(Language::german);
    EXPECT_EQ(test::buttonText(&panel, "uninstall"), "Deinstallieren…");
    EXPECT_EQ(breakdown(panel)[1], "Application Support|1 Objekt|40 KB");
}

TEST_F(AppDetailPanelTest, NothingFoundShowsTheBundleAloneAndANegativeSizeAsZero) {
    const auto& cherry = apps_[2];  // size -5, version "3"
    cherry->setRelatedLoaded(true);
    AppDetailPanel panel(cherry, loc_);
    panel.resize(AppDetailPanel::kWidth, 320);
    panel.show();
    EXPECT_TRUE(test::isShown(&panel, "noRelated"));
    EXPECT_EQ(test::labelText(&panel, "noRelated"), "No related files found");
    EXPECT_EQ(test::labelText(&panel, "total"), "Zero KB");
    EXPECT_EQ(breakdown(panel), QStringList{"Application||Zero KB"});
    test::savePng(&panel, "app-detail-none-en.png", panel.size());

    // Without a version there is no version line; another application replaces the shown one.
    apps_[0]->setRelatedLoaded(true);
    panel.setApp(apps_[0]);
    EXPECT_FALSE(test::isShown(&panel, "version"));
    EXPECT_EQ(test::labelText(&panel, "total"), "12 MB");
}

}  // namespace
}  // namespace cb
