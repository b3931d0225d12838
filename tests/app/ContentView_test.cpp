// Whole-window journeys: the window content built on doubles of every service, driven through
// its widgets and through AppState, checked on what is shown and what is logged.

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QCursor>
#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QToolButton>
#include <QToolTip>
#include <set>

#include "app/ContentView.h"
#include "app/DialogOverlay.h"
#include "app/DiskMapView.h"
#include "app/ModePicker.h"
#include "app/QtTranslations.h"
#include "app/TopBar.h"
#include "app/WindowAlerts.h"
#include "app/localization/LocalizationManager.h"
#include "app/uninstaller/views/AppsView.h"
#include "app/views/BreadcrumbView.h"
#include "app/views/DeleteConfirmDialog.h"
#include "app/views/DetailsPanel.h"
#include "app/views/DetailsRow.h"
#include "app/views/FDABanner.h"
#include "app/views/FullDiskAccessPrompt.h"
#include "app/views/SunburstLayout.h"
#include "app/views/SunburstView.h"
#include "app/views/TooltipView.h"
#include "tests/app/AppStateFakes.h"
#include "tests/app/WindowTestEnvironment.h"
#include "tests/app/views/MapTestSupport.h"

namespace cb {
namespace {

using testing::buildTree;
using testing::FakeWorld;
using testing::nodeAt;
using testing::waitFor;

const auto* const kEnvironment =
    ::testing::AddGlobalTestEnvironment(new cb::testing::WindowEnvironment);

// Every text a person sees in `root`: labels, button texts, tooltips and the mode picker's
// segments of the visible widgets.
std::multiset<QString> visibleTexts(QWidget* root) {
    std::multiset<QString> texts;
    for (QWidget* widget : root->findChildren<QWidget*>()) {
        if (!widget->isVisibleTo(root)) {
            continue;
        }
        if (auto* label = qobject_cast<QLabel*>(widget); label && !label->text().isEmpty()) {
            texts.insert(label->text());
        }
        if (auto* button = qobject_cast<QAbstractButton*>(widget);
            button && !button->text().isEmpty()) {
            texts.insert(button->text());
        }
        if (auto* picker = qobject_cast<ModePicker*>(widget)) {
            for (const QString& segment : picker->labels()) {
                texts.insert(segment);
            }
        }
        if (!widget->toolTip().isEmpty()) {
            texts.insert(widget->toolTip());
        }
    }
    return texts;
}

QAbstractButton* buttonWithText(QWidget* root, const QString& text) {
    for (QAbstractButton* button : root->findChildren<QAbstractButton*>()) {
        if (button->text() == text && button->isVisible()) {
            return button;
        }
    }
    return nullptr;
}

void saveRender(QWidget& widget, const QString& name) {
    const QString folder = qEnvironmentVariable("CB_TEST_OUTPUT_DIR", QDir::tempPath());
    QDir().mkpath(folder);
    widget.grab().save(folder + QStringLiteral("/") + name, "PNG");
}

// True once the access prompt is fully on screen (its access probe runs in the background).
bool accessPromptShown(const ContentView& view) {
    return view.accessOverlay() != nullptr && view.accessOverlay()->isFullyShown();
}

class ContentViewTest : public ::testing::Test {
  protected:
    ContentViewTest() : loc(nullptr, {"en"}) {}

    // A window on `world`'s services, shown at the window's smallest size.
    std::unique_ptr<ContentView> makeWindow() {
        auto view = std::make_unique<ContentView>(loc, world.services());
        view->resize(1080, 720);
        view->show();
        return view;
    }

    // Scans "/r" into a small tree and waits for the disk map.
    void showMap(ContentView& view) {
        view.state().startScan("/r");
        world.scanners.back()->waitUntilStarted();
        world.scanners.back()->finish(
            buildTree("/r", {{"a/x", 400}, {"a/y", 100}, {"b", 150}, {"c/d/e", 50}}));
        ASSERT_TRUE(waitFor([&] { return view.diskMap() != nullptr; }));
    }

    FakeWorld world;
    LocalizationManager loc;
};

TEST_F(ContentViewTest, AFocusTwentyFiveFoldersDeepKeepsTheWindowsSize) {
    auto view = makeWindow();
    std::string deep = "/r";
    for (int depth = 1; depth <= 25; ++depth) {
        deep += "/nested-folder-" + std::to_string(depth);
    }
    view->state().scan("/r", std::nullopt);
    world.scanners.back()->finish(buildTree("/r", {{deep.substr(3) + "/file", 10}}));
    ASSERT_TRUE(waitFor([&] { return view->diskMap() != nullptr; }));
    QCoreApplication::processEvents();
    const int minimumBefore = view->minimumSizeHint().width();
    view->state().setFocus(AppState::findNode(*view->state().root(), "/r", deep));
    ASSERT_EQ(view->state().focus()->name(), "nested-folder-25");
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);  // the old crumbs

    EXPECT_EQ(view->minimumSizeHint().width(), minimumBefore);
    EXPECT_EQ(view->width(), 1080);
    BreadcrumbView* trail = view->diskMap()->breadcrumb();
    auto* focusCrumb = trail->findChild<QPushButton*>("crumb-focus");
    ASSERT_NE(focusCrumb, nullptr);
    EXPECT_TRUE(focusCrumb->isVisible());
    EXPECT_EQ(focusCrumb->text(), "nested-folder-25");
    EXPECT_TRUE(trail->rect().contains(focusCrumb->geometry()));
    // The trail ends left of the refresh button.
    const QPoint trailEnd = trail->mapTo(view.get(), focusCrumb->geometry().topRight());
    const QPoint refresh = view->diskMap()->refreshButton()->mapTo(view.get(), QPoint(0, 0));
    EXPECT_LT(trailEnd.x(), refresh.x());
    saveRender(*view, "window-deep-focus.png");
}

TEST_F(ContentViewTest, ChartAndPanelShowOneHoveredNode) {
    auto view = makeWindow();
    showMap(*view);
    FileNode* root = view->state().root();
    SunburstView* chart = view->diskMap()->chart();
    DetailsPanel* panel = view->diskMap()->details();
    ASSERT_EQ(panel->rows()[0]->node(), nodeAt(*root, "a"));

    // The pointer over a's ring-0 arc (it spans 3 o'clock) lights a's row.
    const ChartGeometry g = chartGeometry(chart->width(), chart->height());
    maptest::sendMouseMove(chart, QPointF(g.centerX + g.holeRadius + g.ringWidth / 2, g.centerY));
    EXPECT_EQ(view->state().hovered(), nodeAt(*root, "a"));
    EXPECT_TRUE(panel->rows()[0]->highlighted());
    EXPECT_FALSE(panel->rows()[1]->highlighted());

    // A row under the pointer is the chart's hovered node too.
    maptest::sendLeave(chart);
    maptest::sendEnter(panel->rows()[1]);
    EXPECT_EQ(view->state().hovered(), panel->rows()[1]->node());
    EXPECT_EQ(chart->hovered(), panel->rows()[1]->node());
    EXPECT_FALSE(panel->rows()[0]->highlighted());
    saveRender(*view, "window-row-hovered.png");
}

TEST_F(ContentViewTest, AfterAZoomTheHoverIsWhatIsUnderTheStillPointer) {
    auto view = makeWindow();
    showMap(*view);
    FileNode* root = view->state().root();
    SunburstView* chart = view->diskMap()->chart();
    DetailsPanel* panel = view->diskMap()->details();

    // A click on a's arc opens a; the pointer has not moved and is now over one of a's arcs.
    const ChartGeometry g = chartGeometry(chart->width(), chart->height());
    const QPointF overA(g.centerX + g.holeRadius + g.ringWidth / 2, g.centerY);
    maptest::sendMouseMove(chart, overA);
    ASSERT_EQ(view->state().hovered(), nodeAt(*root, "a"));
    maptest::sendClick(chart, overA);
    ASSERT_EQ(view->state().focus(), nodeAt(*root, "a"));
    EXPECT_EQ(view->state().hovered(), chart->hovered());
    EXPECT_NE(view->state().hovered(), nodeAt(*root, "a")) << "no longer the opened folder";
    EXPECT_EQ(view->state().hovered()->parent(), nodeAt(*root, "a"));

    // A double-click on c's row opens c; the row now under the pointer lights.
    view->state().setFocus(root);
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    maptest::sendLeave(chart);
    DetailsRow* cRow = panel->rows()[2];
    ASSERT_EQ(cRow->node(), nodeAt(*root, "c"));
    QCursor::setPos(panel->rows()[0]->mapToGlobal(panel->rows()[0]->rect().center()));
    maptest::sendEnter(cRow);
    QTest::mouseDClick(cRow, Qt::LeftButton);
    ASSERT_EQ(view->state().focus(), nodeAt(*root, "c"));
    ASSERT_TRUE(waitFor([&] { return view->state().hovered() != nodeAt(*root, "c"); }));
    ASSERT_FALSE(panel->rows().empty());
    EXPECT_EQ(view->state().hovered(), panel->rows()[0]->node());
    EXPECT_TRUE(panel->rows()[0]->highlighted());
}

TEST_F(ContentViewTest, AFreshWindowShowsTheWelcomeScreenInTheFolderMode) {
    auto view = makeWindow();
    EXPECT_EQ(view->folderPage(), ContentView::FolderPage::welcome);
    EXPECT_NE(view->welcomeView(), nullptr);
    ModePicker* picker = view->topBar()->modePicker();
    EXPECT_EQ(picker->labels(), QStringList({"Disk Analysis", "Applications"}));
    EXPECT_EQ(picker->selectedIndex(), 0);
    EXPECT_EQ(picker->width(), 280);
    EXPECT_EQ(view->topBar()->languageButton()->toolTip(), "Interface language");
    EXPECT_EQ(view->accessOverlay(), nullptr);
    EXPECT_EQ(view->deleteOverlay(), nullptr);
    EXPECT_TRUE(world.events.empty());
}

TEST_F(ContentViewTest, SwitchingTheModeLogsOnceAndTheActiveModeLogsNothing) {
    std::atomic<int> counts = 0;
    auto view = std::make_unique<ContentView>(loc, [&] {
        AppServices services = world.services();
        services.countLocalSnapshots = [&counts](const std::string&) {
            ++counts;
            return int64_t{0};
        };
        return services;
    }());
    view->show();
    ASSERT_TRUE(waitFor([&] { return counts == 1; })) << "the welcome screen counts snapshots";
    ModePicker* picker = view->topBar()->modePicker();
    QTest::mouseClick(picker, Qt::LeftButton, {}, picker->segmentRect(1).center());
    QTest::mouseClick(picker, Qt::LeftButton, {}, picker->segmentRect(1).center());
    view->state().setMode(AppState::Mode::apps);  // a write of the same value

    ASSERT_EQ(world.events.size(), 1u);
    EXPECT_EQ(world.events[0].event, AnalyticsEvent::modeSwitched);
    EXPECT_EQ(world.events[0].parameters,
              (sdk::Value::Dictionary{{"mode", sdk::Value(std::string("apps"))}}));
    EXPECT_EQ(picker->selectedIndex(), 1);
    EXPECT_EQ(view->folderPage(), ContentView::FolderPage::none);

    QTest::mouseClick(picker, Qt::LeftButton, {}, picker->segmentRect(0).center());
    ASSERT_EQ(world.events.size(), 2u);
    EXPECT_EQ(world.events[1].parameters,
              (sdk::Value::Dictionary{{"mode", sdk::Value(std::string("folder"))}}));
    EXPECT_EQ(view->folderPage(), ContentView::FolderPage::welcome);
    EXPECT_TRUE(waitFor([&] { return counts == 2; })) << "and again each time it appears";
}

TEST_F(ContentViewTest, AScanGoesFromProgressToTheMapAndUpFollowsTheFocus) {
    auto view = makeWindow();
    view->state().startScan("/r");
    EXPECT_EQ(view->folderPage(), ContentView::FolderPage::scanning);
    world.scanners.back()->waitUntilStarted();
    world.scanners.back()->finish(buildTree("/r", {{"a/x", 400}, {"b", 150}}));
    ASSERT_TRUE(waitFor([&] { return view->diskMap() != nullptr; }));

    DiskMapView* map = view->diskMap();
    FileNode* root = view->state().root();
    EXPECT_FALSE(map->upButton()->isEnabled()) << "Up is disabled at the root";
    map->changeFocusAnimated(nodeAt(*root, "a"));
    EXPECT_TRUE(map->upButton()->isEnabled());
    QTest::mouseClick(map->upButton(), Qt::LeftButton);
    EXPECT_EQ(view->state().focus(), root);
    EXPECT_FALSE(map->upButton()->isEnabled());

    // The hovered node gets the tooltip, which fades out when the pointer leaves.
    view->state().setHovered(nodeAt(*root, "b"));
    EXPECT_TRUE(map->tooltip()->isVisible());
    view->state().setHovered(nullptr);
    EXPECT_TRUE(waitFor([&] { return !map->tooltip()->isVisible(); }));

    // Ready without a focus shows nothing in the folder area.
    view->state().setFocus(nullptr);
    EXPECT_EQ(view->folderPage(), ContentView::FolderPage::empty);
}

TEST_F(ContentViewTest, NewScanReturnsToTheWelcomeScreenWithoutATree) {
    auto view = makeWindow();
    showMap(*view);
    QTest::mouseClick(view->diskMap()->newScanButton(), Qt::LeftButton);
    EXPECT_EQ(view->folderPage(), ContentView::FolderPage::welcome);
    EXPECT_EQ(view->state().root(), nullptr);
    EXPECT_EQ(view->state().focus(), nullptr);
    EXPECT_FALSE(view->state().volumeCapacity().has_value());
}

TEST(DiskMapSizesTest, TheInfoSymbolShowsWhenTheFocusExceedsTheUsedSpace) {
    const struct {
        int64_t size, total, rawFree;
        bool shown;
    } cases[] = {
        {601, 1000, 400, true},   // used 600
        {600, 1000, 400, false},  // equal is not more
        {100, 1000, 400, false},  // smaller
        {1, 1000, 1200, true},    // raw free above total: used counts as 0
        {0, 1000, 1200, false},   // but 0 is not positive
    };
    for (const auto& c : cases) {
        EXPECT_EQ(DiskMapView::exceedsUsedSpace(c.size, c.total, c.rawFree), c.shown)
            << c.size << " of " << c.total << " with " << c.rawFree << " free";
    }
}

TEST_F(ContentViewTest, TheSizesGroupShowsTheCapacityOnlyWhenKnown) {
    world.capacity = VolumeInfo::Capacity{1000, 600, 500};  // used 500 < 700 scanned
    auto view = makeWindow();
    showMap(*view);
    DiskMapView* map = view->diskMap();
    EXPECT_EQ(map->fileSizesLabel()->text(), "File sizes: 1 KB");
    EXPECT_TRUE(map->infoSymbol()->isVisibleTo(map));
    EXPECT_TRUE(map->capacityLabel()->isVisibleTo(map));
    EXPECT_EQ(map->capacityLabel()->text(), "1 KB / 1 KB");
    EXPECT_EQ(map->infoSymbol()->toolTip(), map->fileSizesLabel()->toolTip());
    // The long help text shows as a paragraph, not as one line across the screen.
    QToolTip::showText(map->fileSizesLabel()->mapToGlobal(QPoint(0, 0)),
                       map->fileSizesLabel()->toolTip(), map->fileSizesLabel());
    QWidget* tip = nullptr;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (widget->inherits("QTipLabel") && widget->isVisible()) {
            tip = widget;
        }
    }
    ASSERT_NE(tip, nullptr);
    EXPECT_TRUE(static_cast<QLabel*>(tip)->text().contains("Sum of allocated file sizes."));
    EXPECT_LT(tip->width(), 600);
    EXPECT_GT(tip->height(), 2 * tip->fontMetrics().height());
    QToolTip::hideText();

    view->state().setVolumeCapacity(std::nullopt);
    EXPECT_FALSE(map->infoSymbol()->isVisibleTo(map));
    EXPECT_FALSE(map->capacityLabel()->isVisibleTo(map));
    EXPECT_TRUE(map->fileSizesLabel()->isVisibleTo(map));
}

TEST_F(ContentViewTest, TheAccessBannerShowsWhileDueAndItsCloseButtonClearsIt) {
    auto view = makeWindow();
    showMap(*view);
    DiskMapView* map = view->diskMap();
    EXPECT_EQ(map->banner(), nullptr);
    view->state().setNeedsFullDiskAccess(true);
    ASSERT_NE(map->banner(), nullptr);
    EXPECT_TRUE(map->banner()->isVisibleTo(map));
    const auto top = [](QWidget* widget, QWidget* map) { return widget->mapTo(map, QPoint()).y(); };
    EXPECT_TRUE(waitFor([&] { return top(map->banner(), map) > top(map->upButton(), map); }))
        << "below the toolbar";
    EXPECT_LT(top(map->banner(), map), top(map->chart(), map)) << "above the chart";
    saveRender(*view, "window-banner.png");

    auto* dismiss = map->banner()->findChild<QAbstractButton*>("dismiss");
    ASSERT_NE(dismiss, nullptr);
    QTest::mouseClick(dismiss, Qt::LeftButton);
    EXPECT_FALSE(view->state().needsFullDiskAccess());
    EXPECT_EQ(map->banner(), nullptr);
}

TEST_F(ContentViewTest, RefreshIsInertWhileRefreshingAndTheSymbolSpinsUntilItEnds) {
    auto view = makeWindow();
    showMap(*view);
    view->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(view.get()));  // shortcuts need an active window
    DiskMapView* map = view->diskMap();
    EXPECT_TRUE(map->refreshButton()->isEnabled());
    view->state().setIsRefreshing(true);
    EXPECT_FALSE(map->refreshButton()->isEnabled());
    const size_t scans = world.scanners.size();
    QTest::keyClick(view.get(), Qt::Key_R, Qt::ControlModifier);
    QTest::qWait(300);  // a shortcut presses its button after a short delay
    EXPECT_EQ(world.scanners.size(), scans) << "Ctrl+R does nothing while refreshing";
    EXPECT_TRUE(waitFor([&] { return map->refreshRotation() > 10; }));

    view->state().setIsRefreshing(false);
    EXPECT_TRUE(map->refreshButton()->isEnabled());
    EXPECT_TRUE(waitFor([&] { return map->refreshRotation() == 0; }));

    QTest::keyClick(view.get(), Qt::Key_R, Qt::ControlModifier);
    ASSERT_TRUE(waitFor([&] { return world.scanners.size() == scans + 1; }))
        << "Ctrl+R rescans once enabled";
    world.scanners.back()->waitUntilStarted();
    world.scanners.back()->finish(buildTree("/r", {{"b", 150}}));
    EXPECT_TRUE(waitFor([&] { return view->diskMap() != nullptr; }));
}

TEST_F(ContentViewTest, TheDeleteOverlayShowsWhileACandidateIsSetAndCancelClearsIt) {
    auto view = makeWindow();
    showMap(*view);
    FileNode* root = view->state().root();
    const int64_t size = root->size();
    // Asked from the details panel's menu, as a person would.
    std::unique_ptr<QMenu> menu = view->diskMap()->details()->buildContextMenu(nodeAt(*root, "a"));
    for (QAction* item : menu->actions()) {
        if (item->text() == loc.qtext("menu.moveToTrash")) {
            item->trigger();
        }
    }
    EXPECT_EQ(view->state().deleteCandidate(), nodeAt(*root, "a"));
    QPointer<DialogOverlay> overlay = view->deleteOverlay();
    ASSERT_NE(overlay, nullptr);
    EXPECT_NE(dynamic_cast<DeleteConfirmDialog*>(overlay->dialog()), nullptr);
    EXPECT_EQ(overlay->geometry(), overlay->parentWidget()->rect()) << "covers the window";
    ASSERT_TRUE(waitFor([&] { return overlay->isFullyShown(); }));
    EXPECT_TRUE(overlay->dialog()->isVisible());
    EXPECT_EQ(overlay->cardRect().width(), overlay->dialog()->minimumWidth()) << "not cut";
    saveRender(*view, "window-delete-overlay.png");

    QAbstractButton* cancel = buttonWithText(overlay->dialog(), "Cancel");
    ASSERT_NE(cancel, nullptr);
    QTest::mouseClick(cancel, Qt::LeftButton);
    EXPECT_EQ(view->state().deleteCandidate(), nullptr);
    EXPECT_EQ(view->deleteOverlay(), nullptr);
    EXPECT_TRUE(waitFor([&] { return overlay.isNull(); })) << "fades out, then goes";
    EXPECT_EQ(view->state().root()->size(), size) << "cancel changes nothing else";
    EXPECT_TRUE(world.events.empty() || world.eventNames().back() != "item_deleted");
}

TEST_F(ContentViewTest, UnderTheDeleteDialogTheBodyIsInertAndTheFocusComesBackAfter) {
    auto view = makeWindow();
    showMap(*view);
    view->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(view.get()));  // shortcuts need an active window
    QWidget* picker = view->topBar()->modePicker();
    picker->setFocus();
    ASSERT_EQ(QApplication::focusWidget(), picker);
    view->state().setDeleteCandidate(nodeAt(*view->state().root(), "b"));
    QPointer<DialogOverlay> overlay = view->deleteOverlay();
    ASSERT_TRUE(waitFor([&] { return overlay->isFullyShown(); }));
    QWidget* dialog = overlay->dialog();
    auto inCard = [&] {
        QWidget* focused = QApplication::focusWidget();
        return focused == dialog || dialog->isAncestorOf(focused);
    };
    EXPECT_TRUE(inCard());

    // Ctrl+R, aimed at the card and at the body, and a key for the body do nothing.
    const size_t scans = world.scanners.size();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_R, Qt::ControlModifier);
    QTest::keyClick(view->diskMap()->chart(), Qt::Key_R, Qt::ControlModifier);
    QTest::keyClick(picker, Qt::Key_Right);
    QTest::qWait(300);  // a shortcut presses its button after a short delay
    EXPECT_EQ(world.scanners.size(), scans);
    EXPECT_FALSE(view->state().isRefreshing());
    EXPECT_EQ(view->state().mode(), AppState::Mode::folder);

    // Tab and Shift+Tab go round the card's controls and never leave it.
    const QList<QWidget*> stops = overlay->tabStops();
    ASSERT_GE(stops.size(), 2);
    std::set<QWidget*> visited;
    for (qsizetype i = 0; i < 2 * stops.size() + 1; ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        ASSERT_TRUE(inCard()) << "Tab " << i;
        visited.insert(QApplication::focusWidget());
    }
    EXPECT_EQ(visited.size(), static_cast<size_t>(stops.size()));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab, Qt::ShiftModifier);
    EXPECT_TRUE(inCard());

    // Escape cancels; the focus goes back where it was, and a Right arrow there is the
    // picker's own again.
    QTest::keyClick(dialog, Qt::Key_Escape);
    EXPECT_EQ(view->state().deleteCandidate(), nullptr);
    EXPECT_EQ(QApplication::focusWidget(), picker);
    QTest::keyClick(view.get(), Qt::Key_R, Qt::ControlModifier);
    EXPECT_TRUE(waitFor([&] { return world.scanners.size() == scans + 1; }));
}

TEST_F(ContentViewTest, AFailedDeleteConfirmedInTheOverlayEndsInTheErrorAlert) {
    auto view = makeWindow();
    showMap(*view);
    view->state().setDeleteCandidate(nodeAt(*view->state().root(), "b"));
    ASSERT_TRUE(waitFor([&] { return view->deleteOverlay()->isFullyShown(); }));
    auto* confirm = view->deleteOverlay()->dialog()->findChild<QPushButton*>("confirm");
    ASSERT_NE(confirm, nullptr);
    QTest::mouseClick(confirm, Qt::LeftButton);
    EXPECT_EQ(view->deleteOverlay(), nullptr) << "confirming takes the candidate";
    ASSERT_TRUE(waitFor([&] { return view->alerts()->errorAlert() != nullptr; }));
    EXPECT_EQ(view->alerts()->errorAlert()->informativeText(), "no Trash in this test");
    EXPECT_NE(nodeAt(*view->state().root(), "b"), nullptr) << "the tree keeps the item";
}

TEST_F(ContentViewTest, TheAccessPromptScansAnywayOrDropsTheLocation) {
    world.protectedLocation = true;
    world.fullDiskAccess = false;
    auto view = makeWindow();
    view->state().startScan("/r");
    ASSERT_TRUE(waitFor([&] { return accessPromptShown(*view); }));
    QTest::mouseClick(view->accessOverlay()->dialog()->findChild<QPushButton*>("cancel"),
                      Qt::LeftButton);
    EXPECT_EQ(view->accessOverlay(), nullptr);
    EXPECT_TRUE(world.scanners.empty());
    EXPECT_EQ(view->folderPage(), ContentView::FolderPage::welcome);

    view->state().startScan("/r");
    ASSERT_TRUE(waitFor([&] { return accessPromptShown(*view); }));
    QTest::mouseClick(view->accessOverlay()->dialog()->findChild<QPushButton*>("continueAnyway"),
                      Qt::LeftButton);
    EXPECT_EQ(view->accessOverlay(), nullptr);
    ASSERT_EQ(world.scanners.size(), 1u);
    EXPECT_EQ(world.scanners[0]->waitUntilStarted(), "/r");
    world.scanners[0]->finish(buildTree("/r", {{"a", 1}}));
    EXPECT_TRUE(waitFor([&] { return view->diskMap() != nullptr; }));
}

TEST(FolderPanelTest, StartsAtHomeAndSpeaksTheInterfaceLanguage) {
    LocalizationManager loc(nullptr, {"en"});
    QtTranslations qtTexts(loc);
    const auto english = folderPanel("Choose a folder", "Scan");
    EXPECT_EQ(english->directory().absolutePath(), QDir::homePath());
    EXPECT_EQ(english->labelText(QFileDialog::Accept), "Scan");
    EXPECT_FALSE(qtTexts.isInstalled());

    for (Language language : {Language::german, Language::russian, Language::chinese}) {
        SCOPED_TRACE(QtTranslations::qtName(language).toStdString());
        loc.setCurrent(language);
        ASSERT_TRUE(qtTexts.isInstalled()) << "Qt's translations are missing: run "
                                              "scripts/install-deps.sh (qt6-translations-l10n)";
        const auto panel = folderPanel("x", "y");
        for (auto label : {QFileDialog::LookIn, QFileDialog::FileType, QFileDialog::Reject}) {
            EXPECT_NE(panel->labelText(label), english->labelText(label));
            EXPECT_FALSE(panel->labelText(label).isEmpty());
        }
    }
    loc.setCurrent(Language::english);
    EXPECT_FALSE(qtTexts.isInstalled());
    EXPECT_EQ(folderPanel("x", "y")->labelText(QFileDialog::LookIn),
              english->labelText(QFileDialog::LookIn));
}

TEST(DialogOverlayTest, TheCardCentresTheDialogAndFollowsItsSize) {
    QWidget host;
    host.resize(800, 600);
    host.show();
    auto* dialog = new QLabel(QStringLiteral("one line"));
    QPointer<DialogOverlay> overlay = new DialogOverlay(dialog, &host);
    overlay->present();
    ASSERT_TRUE(waitFor([&] { return overlay->isFullyShown(); }));
    EXPECT_EQ(overlay->geometry(), host.rect());
    EXPECT_EQ(dialog->mapTo(&host, dialog->rect().center()), host.rect().center());
    const int before = dialog->height();
    dialog->setText(QStringLiteral("four\nlines\nof\ntext"));
    EXPECT_TRUE(waitFor([&] { return dialog->height() > before; })) << "not cut off";

    host.resize(900, 700);
    EXPECT_EQ(overlay->geometry(), host.rect());
    overlay->dismiss();
    EXPECT_FALSE(dialog->isVisible()) << "no press reaches a dialog on its way out";
    EXPECT_TRUE(waitFor([&] { return overlay.isNull(); }));
}

TEST_F(ContentViewTest, LaterOverlaysAreDrawnAboveEarlierOnes) {
    auto view = makeWindow();
    showMap(*view);
    view->state().setDeleteCandidate(nodeAt(*view->state().root(), "b"));
    view->state().setFdaPromptForURL(std::filesystem::path("/protected"));
    ASSERT_NE(view->accessOverlay(), nullptr);
    ASSERT_NE(view->deleteOverlay(), nullptr);
    EXPECT_NE(dynamic_cast<FullDiskAccessPrompt*>(view->accessOverlay()->dialog()), nullptr);
    const QObjectList& stack = view->deleteOverlay()->parentWidget()->children();
    EXPECT_LT(stack.indexOf(view->accessOverlay()), stack.indexOf(view->deleteOverlay()));

    view->state().setFdaPromptForURL(std::nullopt);
    EXPECT_EQ(view->accessOverlay(), nullptr);
    EXPECT_NE(view->deleteOverlay(), nullptr);
}

TEST_F(ContentViewTest, TheErrorAlertShowsTheMessageAndOkClearsIt) {
    auto view = makeWindow();
    view->state().setErrorMessage("The disk is locked.");
    QPointer<QMessageBox> alert = view->alerts()->errorAlert();
    ASSERT_NE(alert, nullptr);
    EXPECT_TRUE(alert->isVisible());
    EXPECT_EQ(alert->text(), "Failed to delete");
    EXPECT_EQ(alert->informativeText(), "The disk is locked.");
    ASSERT_EQ(alert->buttons().size(), 1);
    EXPECT_EQ(alert->buttons()[0]->text(), "OK");
    // Wide enough that a window manager shows the whole title.
    QFont bold = QApplication::font();
    bold.setBold(true);
    EXPECT_GE(alert->width(), QFontMetrics(bold).horizontalAdvance(alert->windowTitle()) +
                                  WindowAlerts::kTitleBarControls);

    QTest::mouseClick(alert->buttons()[0], Qt::LeftButton);
    EXPECT_FALSE(view->state().errorMessage().has_value());
    EXPECT_EQ(view->alerts()->errorAlert(), nullptr);
    EXPECT_TRUE(waitFor([&] { return alert.isNull(); })) << "does not come back";

    // Cleared elsewhere, the alert closes by itself.
    view->state().setErrorMessage("again");
    ASSERT_NE(view->alerts()->errorAlert(), nullptr);
    view->state().setErrorMessage(std::nullopt);
    EXPECT_EQ(view->alerts()->errorAlert(), nullptr);
}

TEST_F(ContentViewTest, TheSnapshotConfirmationOffersCancelAndReclaim) {
    std::atomic<int> thinned = 0;
    auto view = std::make_unique<ContentView>(loc, [&] {
        AppServices services = world.services();
        services.thinLocalSnapshots = [&thinned](int64_t, const std::string&, int) { ++thinned; };
        return services;
    }());
    view->resize(1080, 720);
    view->show();

    view->state().setConfirmThinSnapshots(true);
    ASSERT_NE(view->alerts()->confirmAlert(), nullptr);
    EXPECT_EQ(view->alerts()->confirmAlert()->text(), "Reclaim local snapshots?");
    EXPECT_EQ(view->alerts()->cancelButton()->text(), "Cancel");
    EXPECT_EQ(view->alerts()->reclaimButton()->text(), "Reclaim");
    QTest::mouseClick(view->alerts()->cancelButton(), Qt::LeftButton);
    EXPECT_FALSE(view->state().confirmThinSnapshots());
    EXPECT_EQ(view->alerts()->confirmAlert(), nullptr);

    view->state().setConfirmThinSnapshots(true);
    ASSERT_NE(view->alerts()->reclaimButton(), nullptr);
    QTest::mouseClick(view->alerts()->reclaimButton(), Qt::LeftButton);
    EXPECT_FALSE(view->state().confirmThinSnapshots());
    ASSERT_TRUE(waitFor([&] { return view->state().thinResultMessage().has_value(); }));
    EXPECT_EQ(thinned, 1);
    ASSERT_NE(view->alerts()->resultAlert(), nullptr);
    EXPECT_EQ(view->alerts()->resultAlert()->text(), "Done");
    QTest::mouseClick(view->alerts()->resultAlert()->buttons()[0], Qt::LeftButton);
    EXPECT_FALSE(view->state().thinResultMessage().has_value());
    EXPECT_EQ(view->alerts()->resultAlert(), nullptr);
}

TEST_F(ContentViewTest, TheLanguageMenuRelabelsEveryVisibleTextAtOnce) {
    for (Language language : {Language::german, Language::chinese}) {
        loc.setCurrent(Language::english);
        auto live = makeWindow();
        showMap(*live);
        live->state().setFdaPromptForURL(std::filesystem::path("/protected"));
        ASSERT_TRUE(waitFor([&] { return live->accessOverlay()->isFullyShown(); }));
        const auto english = visibleTexts(live.get());

        // Chosen from the menu, as a person would.
        QMenu* menu = live->topBar()->languageMenu();
        const QString raw = QString::fromUtf8(rawValue(language).data());
        for (QAction* item : menu->actions()) {
            if (item->data().toString() == raw) {
                item->trigger();
            }
        }
        ASSERT_EQ(loc.current(), language);
        const auto switched = visibleTexts(live.get());

        auto fresh = makeWindow();  // built in the new language from the start
        showMap(*fresh);
        fresh->state().setFdaPromptForURL(std::filesystem::path("/protected"));
        ASSERT_TRUE(waitFor([&] { return fresh->accessOverlay()->isFullyShown(); }));
        EXPECT_EQ(switched, visibleTexts(fresh.get())) << rawValue(language);
        EXPECT_EQ(live->accessOverlay()->dialog()->geometry(),
                  fresh->accessOverlay()->dialog()->geometry())
            << "the card takes the relabelled dialog's size";
        EXPECT_NE(switched, english);
        EXPECT_EQ(live->topBar()->modePicker()->labels()[0], loc.qtext("mode.folder"));
        saveRender(*live, QStringLiteral("window-%1.png").arg(raw));
    }
    loc.setCurrent(Language::english);
}

}  // namespace
}  // namespace cb

namespace cb {
namespace {

TEST_F(ContentViewTest, TheAppsModeShowsTheAppsScreenAndListsOnce) {
    world.apps.setListing(
        {testing::FakeApps::makeApp("Banana"), testing::FakeApps::makeApp("Fig")});
    auto view = makeWindow();
    ASSERT_NE(view->appsView(), nullptr);
    EXPECT_FALSE(view->appsView()->isVisible());
    EXPECT_EQ(world.apps.listings, 0);

    view->state().setMode(AppState::Mode::apps);
    EXPECT_TRUE(view->appsView()->isVisible());
    ASSERT_TRUE(waitFor([&] { return view->state().apps().size() == 2; }));
    EXPECT_EQ(world.apps.listings, 1);
    ASSERT_TRUE(waitFor([&] { return world.apps.measured().size() == 2; }));

    view->state().setMode(AppState::Mode::folder);
    EXPECT_FALSE(view->appsView()->isVisible());
    view->state().setMode(AppState::Mode::apps);
    QTest::qWait(20);
    EXPECT_EQ(world.apps.listings, 1);

    // An uninstall request from the screen sets the candidate and starts the related search.
    view->appsView()->requestUninstall(view->state().apps()[0]);
    EXPECT_EQ(view->state().uninstallCandidate(), view->state().apps()[0]);
    ASSERT_TRUE(waitFor([&] { return world.apps.relatedSearches == 1; }));
}

}  // namespace
}  // namespace cb
