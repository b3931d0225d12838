#include "app/uninstaller/views/AppsView.h"

#include <gtest/gtest.h>

#include <QAbstractItemModelTester>
#include <QComboBox>
#include <QLabel>
#include <QListView>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QSignalSpy>
#include <QStyleOptionViewItem>
#include <QToolButton>
#include <fstream>
#include <thread>

#include "app/uninstaller/AllocatedSize.h"
#include "app/uninstaller/AppLocations.h"
#include "app/uninstaller/views/AppDetailPanel.h"
#include "app/uninstaller/views/AppListModel.h"
#include "app/uninstaller/views/RelativeDate.h"
#include "app/views/ScreenStyle.h"
#include "platform/workspace/Workspace.h"
#include "tests/app/uninstaller/AppFixtures.h"
#include "tests/app/uninstaller/views/AppsViewTestSupport.h"
#include "tests/support/TempDir.h"

namespace cb {
namespace {

using appstest::fixedNow;
using AppList = std::vector<std::shared_ptr<InstalledApp>>;

std::vector<std::string> names(const AppList& apps) {
    std::vector<std::string> result;
    for (const auto& app : apps) {
        result.push_back(app->name());
    }
    return result;
}

// The pointer moves to `at` over `viewport` (sent directly: a synthesised move to the position
// the cursor already has would not arrive).
void hoverAt(QWidget* viewport, QPoint at) {
    QMouseEvent move(QEvent::MouseMove, at, viewport->mapToGlobal(at), Qt::NoButton, Qt::NoButton,
                     Qt::NoModifier);
    QApplication::sendEvent(viewport, &move);
}

class AppsViewTest : public ::testing::Test {
  protected:
    AppsViewTest() {
        test::app();
        testing::ensureCoreApplication();
    }

    // A view on `state_` with the fixed clock, sized like the window's apps area.
    std::unique_ptr<AppsView> makeView() {
        auto view = std::make_unique<AppsView>(*state_, loc_);
        view->setClock(&fixedNow);
        view->resize(960, 460);
        return view;
    }

    // The row of `app` in the list, or an invalid index.
    static QModelIndex rowOf(AppsView& view, const InstalledApp& app) {
        for (int row = 0; row < view.model()->rowCount(); ++row) {
            const QModelIndex index = view.model()->index(row);
            if (view.model()->appAt(index) == &app) {
                return index;
            }
        }
        return {};
    }

    LocalizationManager loc_{nullptr, {"en"}};
    testing::FakeWorld world_;
    std::unique_ptr<AppState> state_ = std::make_unique<AppState>(world_.services());
    AppList apps_ = appstest::threeApps();
};

TEST_F(AppsViewTest, RowTextsInThreeLanguages) {
    const AppRowView rows(loc_, &fixedNow);
    EXPECT_EQ(AppRowView::detailLine(*apps_[1]), QStringLiteral("v1.2 \u2022 com.example.banana"));
    EXPECT_EQ(AppRowView::detailLine(*apps_[0]), QStringLiteral("com.example.apple"));
    EXPECT_EQ(AppRowView::sizeText(*apps_[1]), QStringLiteral("250 MB"));
    EXPECT_EQ(AppRowView::sizeText(*apps_[2]), QStringLiteral("Zero KB"));  // negative
    EXPECT_EQ(rows.lastOpenedText(*apps_[0]), QStringLiteral("never opened"));
    const struct {
        Language language;
        const char* banana;
        const char* cherry;
    } cases[] = {
        {Language::english, "opened 2 days ago", "opened 1 hr. ago"},
        {Language::german, "geöffnet vor 2 Tagen", "geöffnet vor 1 Std."},
        {Language::chinese, "2天前打开", "1小时前打开"},
    };
    for (const auto& c : cases) {
        loc_.setCurrent(c.language);
        EXPECT_EQ(rows.lastOpenedText(*apps_[1]).toStdString(), c.banana);
        EXPECT_EQ(rows.lastOpenedText(*apps_[2]).toStdString(), c.cherry);
    }
}

TEST(RelativeDateTest, TheLargestNonZeroCalendarFieldIsTheUnit) {
    using namespace std::chrono;
    const auto now = fixedNow();
    const struct {
        system_clock::duration ago;
        const char* text;
    } cases[] = {
        {seconds(0), "0 sec. ago"},     {seconds(42), "42 sec. ago"}, {minutes(61), "1 hr. ago"},
        {hours(23), "23 hr. ago"},      {hours(24 * 9), "1 wk. ago"}, {hours(24 * 40), "1 mo. ago"},
        {hours(24 * 800), "2 yr. ago"}, {-hours(3), "in 3 hr."},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(relativeDateText(now - c.ago, now, Language::english).toStdString(), c.text);
    }
    EXPECT_STREQ(relativeDateLocale(Language::chinese), "zh_Hans");
    EXPECT_STREQ(relativeDateLocale(Language::russian), "ru_RU");
}

TEST_F(AppsViewTest, SearchTable) {
    const struct {
        const char* search;
        std::vector<std::string> found;
    } cases[] = {
        {"", {"apple", "Banana", "cherry"}},
        {"   ", {"apple", "Banana", "cherry"}},
        {"  BAN\t", {"Banana"}},
        {"com.example", {"apple", "Banana"}},
        {"ORG.sample", {"cherry"}},
        {"ban ana", {}},
        {"ban\n", {}},
        {"e", {"apple", "Banana", "cherry"}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(
            names(AppsView::visibleApps(apps_, QString::fromUtf8(c.search), AppSort::nameAsc)),
            c.found)
            << '"' << c.search << '"';
    }
    // Sizes order the list; a search keeps that order.
    EXPECT_EQ(names(AppsView::visibleApps(apps_, "", AppSort::sizeDesc)),
              (std::vector<std::string>{"Banana", "apple", "cherry"}));
}

TEST_F(AppsViewTest, SearchKeepsTheSelectionAndAReloadDropsIt) {
    state_->setApps(apps_);
    auto view = makeView();
    view->show();
    view->select(apps_[1]);
    ASSERT_NE(view->detailPanel(), nullptr);
    EXPECT_EQ(view->detailPanel()->app(), apps_[1]);
    ASSERT_TRUE(testing::waitFor([&] { return apps_[1]->relatedLoaded(); }));
    EXPECT_EQ(world_.apps.relatedSearches, 1);

    view->setSearch("cherry");
    EXPECT_EQ(view->model()->rowCount(), 1);
    EXPECT_EQ(view->selected(), apps_[1]);
    EXPECT_NE(view->detailPanel(), nullptr);

    view->reload();
    EXPECT_EQ(view->selected(), nullptr);
    EXPECT_EQ(view->detailPanel(), nullptr);
    EXPECT_TRUE(view->isPanelMoving());  // sliding out
    ASSERT_TRUE(testing::waitFor([&] { return !view->isPanelMoving(); }));
    EXPECT_EQ(view->findChild<AppDetailPanel*>(), nullptr);
}

TEST_F(AppsViewTest, LoadingViewOnlyWhileLoadingWithAnEmptyList) {
    world_.apps.holdListing = true;
    world_.apps.setListing(apps_);
    auto view = makeView();
    EXPECT_EQ(world_.apps.listings, 0);
    view->show();  // coming into view with an empty list starts a listing
    ASSERT_TRUE(testing::waitFor([&] { return world_.apps.listingGate.waiting() == 1; }));
    EXPECT_TRUE(view->isLoadingViewShown());
    EXPECT_FALSE(view->reloadButton()->isEnabled());
    EXPECT_TRUE(view->isSpinning());
    test::savePng(view.get(), "apps-loading-en.png", view->size());
    view->hide();
    view->show();  // still loading: nothing new starts
    world_.apps.listingGate.openFully();
    ASSERT_TRUE(testing::waitFor([&] { return !state_->appsLoading(); }));
    EXPECT_FALSE(view->isLoadingViewShown());
    EXPECT_TRUE(view->reloadButton()->isEnabled());
    EXPECT_FALSE(view->isSpinning());
    EXPECT_EQ(view->model()->rowCount(), 3);
    view->hide();
    view->show();  // applications present: nothing new starts
    EXPECT_EQ(world_.apps.listings, 1);

    // A finished listing that found nothing shows the (empty) list.
    world_.apps.holdListing = false;
    world_.apps.setListing({});
    view->reload();
    ASSERT_TRUE(testing::waitFor([&] { return !state_->appsLoading(); }));
    EXPECT_FALSE(view->isLoadingViewShown());
    EXPECT_EQ(view->model()->rowCount(), 0);
    EXPECT_EQ(world_.apps.listings, 2);
}

TEST_F(AppsViewTest, SortMenuListsFiveOrdersAndRelabelsOnALanguageChange) {
    state_->setApps(apps_);
    auto view = makeView();
    auto texts = [&] {
        QStringList list;
        for (int i = 0; i < view->sortMenu()->count(); ++i) {
            list << view->sortMenu()->itemText(i);
        }
        return list;
    };
    EXPECT_EQ(texts(), (QStringList{"Size ↓", "Size ↑", "Name A–Z", "Name Z–A", "Last opened"}));
    EXPECT_EQ(view->sortMenu()->width(), AppsView::kSortMenuWidth);
    view->sortMenu()->setCurrentIndex(4);
    emit view->sortMenu()->activated(4);
    EXPECT_EQ(view->sort(), AppSort::lastOpened);
    EXPECT_EQ(names(view->model()->apps()),
              (std::vector<std::string>{"cherry", "Banana", "apple"}));
    loc_.setCurrent(Language::german);
    EXPECT_EQ(texts(),
              (QStringList{"Größe ↓", "Größe ↑", "Name A–Z", "Name Z–A", "Zuletzt geöffnet"}));
    EXPECT_EQ(view->sortMenu()->currentIndex(), 4);
}

TEST_F(AppsViewTest, TrashOnTheHoveredRowAndTheMenuMakeTheSameRequest) {
    state_->setApps(apps_);
    auto view = makeView();
    view->setSort(AppSort::nameAsc);
    view->show();
    QWidget* viewport = view->listView()->viewport();
    QRect bananaRow = view->listView()->visualRect(rowOf(*view, *apps_[1]));

    // Not hovered: a click where the button would be selects the row.
    QTest::mouseClick(viewport, Qt::LeftButton, {}, AppRowView::trashRect(bananaRow).center());
    EXPECT_EQ(view->selected(), apps_[1]);
    EXPECT_EQ(state_->uninstallCandidate(), nullptr);
    // The panel slid in at the right: the rows are narrower now.
    ASSERT_TRUE(testing::waitFor([&] { return !view->isPanelMoving(); }));
    QCoreApplication::processEvents();
    bananaRow = view->listView()->visualRect(rowOf(*view, *apps_[1]));
    const QRect trash = AppRowView::trashRect(bananaRow);

    hoverAt(viewport, bananaRow.center());
    EXPECT_EQ(view->rowView()->hovered(), apps_[1]->id());
    hoverAt(viewport, view->listView()->visualRect(rowOf(*view, *apps_[0])).center());
    EXPECT_EQ(view->rowView()->hovered(), apps_[0]->id());
    EXPECT_EQ(view->toolTipAt(trash.center()), QString());  // apple's row is hovered
    hoverAt(viewport, bananaRow.center());
    EXPECT_EQ(view->toolTipAt(trash.center()), QStringLiteral("Uninstall application"));
    EXPECT_EQ(view->toolTipAt(bananaRow.center()), QString());
    QTest::mouseClick(viewport, Qt::LeftButton, {}, trash.center());
    EXPECT_EQ(state_->uninstallCandidate(), apps_[1]);

    state_->setUninstallCandidate(nullptr);
    std::unique_ptr<QMenu> menu = view->contextMenu(apps_[2]);
    QStringList items;
    for (QAction* action : menu->actions()) {
        items << (action->isSeparator() ? QStringLiteral("-") : action->text());
    }
    EXPECT_EQ(items, (QStringList{"Show in Finder", "Open", "-", "Uninstall…"}));
    menu->actions()[3]->trigger();
    EXPECT_EQ(state_->uninstallCandidate(), apps_[2]);
    EXPECT_TRUE(apps_[2]->relatedLoading() || apps_[2]->relatedLoaded());
    menu->actions()[0]->trigger();
    ASSERT_EQ(world_.revealed.size(), 1u);
    EXPECT_EQ(world_.revealed[0].first, apps_[2]->url());
    ASSERT_TRUE(testing::waitFor([&] { return world_.apps.relatedSearches == 2; }));
}

TEST_F(AppsViewTest, OpenStartsTheApplicationsExecutable) {
    testsupport::TempDir dir;
    const auto marker = dir.path() / "opened";
    platform::PlistDictionary info;
    info.emplace("CFBundleIdentifier", platform::PlistValue(std::string("com.example.script")));
    info.emplace("CFBundleExecutable", platform::PlistValue(std::string("run")));
    const auto bundle = testsupport::makeAppBundle(dir.path() / "Script.app", info);
    const auto executable = bundle / "Contents/MacOS/run";
    std::ofstream(executable) << "#!/bin/sh\necho started > '" << marker.string() << "'\n";
    std::filesystem::permissions(executable, std::filesystem::perms::owner_all);

    AppServices services = world_.services();
    services.openApplication = [](const std::filesystem::path& path) {
        platform::Workspace::shared().openApplication(path);
    };
    state_ = std::make_unique<AppState>(services);
    InstalledApp::Fixed fixed;
    fixed.url = bundle;
    fixed.name = "Script";
    fixed.bundleID = "com.example.script";
    auto app = InstalledApp::make(std::move(fixed));
    auto view = makeView();
    std::unique_ptr<QMenu> menu = view->contextMenu(app);
    menu->actions()[1]->trigger();
    ASSERT_TRUE(testing::waitFor([&] { return std::filesystem::exists(marker); }));
}

TEST_F(AppsViewTest, ListModelPassesTheModelTesterThroughChanges) {
    AppListModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);
    model.setApps(apps_);
    EXPECT_EQ(model.rowCount(), 3);
    EXPECT_EQ(model.data(model.index(1)).toString(), QStringLiteral("Banana"));
    model.setApps({apps_[2], apps_[0]});
    model.setApps({apps_[2], apps_[0]});  // same rows: changed in place
    EXPECT_EQ(model.appAt(model.index(0)), apps_[2].get());
    EXPECT_EQ(model.appAt(model.index(5)), nullptr);
    model.setApps({});
    EXPECT_EQ(model.rowCount(), 0);
}

TEST_F(AppsViewTest, ALineBreakInARowTextIsDrawnOnOneLineAsAMark) {
    // Names and bundle ids come from the applications' own files.
    auto broken =
        appstest::makeApp("Two\nLines", "com.example.two\r\nlines", "1\n2", std::nullopt, QColor());
    auto marked = appstest::makeApp("Two\u21B5Lines", "com.example.two\u21B5lines", "1\u21B52",
                                    std::nullopt, QColor());
    AppListModel model;
    model.setApps({broken, marked});
    const AppRowView rows(loc_, &fixedNow);
    auto paintRow = [&](int row) {
        QImage image(600, AppRowView::kRowHeight, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::white);
        QPainter painter(&image);
        QStyleOptionViewItem option;
        option.rect = image.rect();
        option.palette = QApplication::palette();
        rows.paint(&painter, option, model.index(row));
        return image;
    };
    EXPECT_EQ(paintRow(0), paintRow(1));
}

// The whole screen with the three applications and Banana selected, in three languages.
TEST_F(AppsViewTest, RendersTheScreenWithASelectedApplication) {
    apps_[1]->setRelated(appstest::bananaTraces());
    apps_[1]->setRelatedLoaded(true);
    state_->setApps(apps_);
    for (const auto& [language, file] :
         {std::pair{Language::english, "apps-en.png"}, std::pair{Language::german, "apps-de.png"},
          std::pair{Language::chinese, "apps-zh.png"}}) {
        loc_.setCurrent(language);
        auto view = makeView();
        view->show();
        view->select(apps_[1]);
        ASSERT_TRUE(testing::waitFor([&] { return !view->isPanelMoving(); }));
        QCoreApplication::processEvents();
        hoverAt(view->listView()->viewport(),
                view->listView()->visualRect(rowOf(*view, *apps_[0])).center());
        const QImage image = test::savePng(view.get(), file, view->size());
        EXPECT_EQ(image.width(), 960 * image.devicePixelRatio());
        ASSERT_NE(view->detailPanel(), nullptr);
        EXPECT_EQ(view->detailPanel()->width(), AppDetailPanel::kWidth);
    }
}

}  // namespace
}  // namespace cb

namespace cb {
namespace {

// The real services on a home folder with three applications and traces of one of them: the
// screen lists them by name, sizes them as allocatedSize() does, and the selected one's panel
// breaks its traces down by category.
TEST(AppsViewRealTest, ListsSizesAndBreaksDownAFixtureHome) {
    test::app();
    testsupport::TempDir dir;
    const std::filesystem::path applications = dir.path() / "Applications";
    const std::filesystem::path home = dir.path() / "home";
    for (const char* name : {"cherry", "Banana", "apple"}) {
        const auto bundle = testsupport::makeAppBundle(applications / (std::string(name) + ".app"),
                                                       std::string("com.example.") + name);
        std::ofstream(bundle / "Contents" / "payload.bin") << std::string(30000, 'x');
    }
    std::filesystem::create_directories(home / "Library/Caches/com.example.Banana");
    std::ofstream(home / "Library/Caches/com.example.Banana/a.db") << std::string(50000, 'c');
    std::ofstream(home / "Library/Caches/com.example.Banana/b.db") << std::string(50000, 'c');
    std::filesystem::create_directories(home / "Library/Application Support/Banana");
    testsupport::ScopedEnv homeEnv("HOME", home.string());
    const AppLocations old =
        AppLocations::TEST_setCurrent({applications, dir.path() / "machine" / "Library"});
    {
        LocalizationManager loc(nullptr, {"en"});
        AppState state(AppServices::system());
        QSignalSpy sizes(&state, &AppState::changed);
        AppsView view(state, loc);
        view.setSort(AppSort::nameAsc);
        view.resize(960, 460);
        view.show();
        ASSERT_TRUE(testing::waitFor([&] { return sizes.size() == 3; }));
        std::vector<std::string> listed;
        for (const auto& app : view.model()->apps()) {
            listed.push_back(app->name());
            EXPECT_EQ(app->bundleSize(), allocatedSize(app->url())) << app->name();
            EXPECT_EQ(AppRowView::sizeText(*app), style::byteText(allocatedSize(app->url())));
        }
        EXPECT_EQ(listed, (std::vector<std::string>{"apple", "Banana", "cherry"}));

        const std::shared_ptr<InstalledApp> banana = view.model()->apps()[1];
        view.select(banana);
        ASSERT_TRUE(testing::waitFor([&] { return banana->relatedLoaded(); }));
        QStringList titles;
        for (QLabel* title : view.detailPanel()->findChildren<QLabel*>("title")) {
            titles << title->text();
        }
        EXPECT_EQ(titles, (QStringList{"Application", "Application Support", "Caches"}));
        EXPECT_EQ(test::labelText(view.detailPanel(), "total"),
                  style::byteText(banana->totalSize()));
    }
    AppLocations::TEST_setCurrent(old);
}

}  // namespace
}  // namespace cb
