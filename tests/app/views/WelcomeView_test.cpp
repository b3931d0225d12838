#include "app/views/WelcomeView.h"

#include <QFile>
#include <QPushButton>
#include <QTemporaryDir>

#include "tests/app/views/ScreenTestSupport.h"

namespace cb {
namespace {

using test::buttonText;
using test::labelText;

class WelcomeViewTest : public ::testing::Test {
  protected:
    void SetUp() override { test::app(); }

    std::unique_ptr<WelcomeView> makeView(int64_t snapshots, bool thinning) {
        return std::make_unique<WelcomeView>([this] { ++scanMac; }, [this] { ++scanHome; },
                                             [this] { ++pick; }, snapshots, thinning,
                                             [this] { ++thin; }, loc);
    }

    QPushButton* button(WelcomeView& view, const char* name) {
        return view.findChild<QPushButton*>(name);
    }

    LocalizationManager loc{nullptr, {"en"}};
    int scanMac = 0;
    int scanHome = 0;
    int pick = 0;
    int thin = 0;
};

TEST_F(WelcomeViewTest, ShowsNameTaglineButtonsAndPrivacyNote) {
    auto view = makeView(0, false);
    EXPECT_EQ(labelText(view.get(), "name"), "Cellarbright");
    EXPECT_EQ(labelText(view.get(), "tagline"), "Find and free up space on your Mac");
    EXPECT_EQ(buttonText(view.get(), "scanMac"), "Scan entire Mac");
    EXPECT_EQ(buttonText(view.get(), "scanHome"), "Scan home folder");
    EXPECT_EQ(buttonText(view.get(), "pick"), "Choose folder");
    EXPECT_EQ(labelText(view.get(), "privacy"),
              "Everything runs locally. Your files never leave your Mac.");
    EXPECT_EQ(view->findChild<QLabel*>("logo")->size(), QSize(160, 160));
}

TEST_F(WelcomeViewTest, SnapshotButtonOnlyAboveZeroAndDisabledWhileThinning) {
    auto view = makeView(0, false);
    view->resize(1000, 700);
    test::showActive(view.get());
    EXPECT_FALSE(button(*view, "thinSnapshots")->isVisible());
    // Without the button the privacy note follows the scan buttons directly.
    const QWidget* scanRow = button(*view, "scanMac")->parentWidget();
    const QWidget* privacy = view->findChild<QLabel*>("privacy");
    EXPECT_EQ(privacy->geometry().top() - scanRow->geometry().bottom() - 1, 28);

    view->setLocalSnapshotCount(3);
    EXPECT_TRUE(button(*view, "thinSnapshots")->isVisible());
    EXPECT_EQ(buttonText(view.get(), "thinSnapshots"), "Reclaim local snapshots (3)");
    EXPECT_TRUE(button(*view, "thinSnapshots")->isEnabled());
    EXPECT_EQ(button(*view, "thinSnapshots")->toolTip(),
              "Evict local Time Machine snapshots to free hidden disk space.");
    button(*view, "thinSnapshots")->click();
    EXPECT_EQ(thin, 1);

    view->setThinning(true);
    EXPECT_TRUE(button(*view, "thinSnapshots")->isVisible());
    EXPECT_FALSE(button(*view, "thinSnapshots")->isEnabled());
    EXPECT_EQ(buttonText(view.get(), "thinSnapshots"), "Reclaim local snapshots (3)");
    button(*view, "thinSnapshots")->click();
    EXPECT_EQ(thin, 1);

    view->setThinning(false);
    view->setLocalSnapshotCount(1);
    EXPECT_EQ(buttonText(view.get(), "thinSnapshots"), "Reclaim local snapshots (1)");
    view->setLocalSnapshotCount(0);
    EXPECT_FALSE(button(*view, "thinSnapshots")->isVisible());
}

TEST_F(WelcomeViewTest, EachButtonCallsItsActionAndCtrlOChoosesAFolder) {
    auto view = makeView(2, false);
    test::showActive(view.get());
    button(*view, "scanMac")->click();
    button(*view, "scanHome")->click();
    button(*view, "pick")->click();
    EXPECT_EQ(scanMac, 1);
    EXPECT_EQ(scanHome, 1);
    EXPECT_EQ(pick, 1);
    QTest::keyClick(view.get(), Qt::Key_O, Qt::ControlModifier);
    // A shortcut presses the button visibly, so the click lands a moment later.
    EXPECT_TRUE(QTest::qWaitFor([this] { return pick == 2; }, 2000));
    EXPECT_EQ(scanMac + scanHome + thin, 2) << "Ctrl+O presses only Choose folder";
    for (const char* other : {"scanMac", "scanHome", "thinSnapshots"}) {
        EXPECT_TRUE(button(*view, other)->shortcut().isEmpty()) << other;
    }
    view->hide();
    QTest::keyClick(view.get(), Qt::Key_O, Qt::ControlModifier);
    QTest::qWait(300);
    EXPECT_EQ(pick, 2) << "no shortcut while the screen is not shown";
}

TEST_F(WelcomeViewTest, PlainScanButtonsKeepRoomAroundTheirLabelInEveryLanguage) {
    auto view = makeView(0, false);
    view->resize(1080, 680);
    view->show();
    for (Language language : {Language::english, Language::russian, Language::german,
                              Language::chinese, Language::english}) {
        loc.setCurrent(language);
        QCoreApplication::processEvents();
        for (const char* name : {"scanHome", "pick"}) {
            SCOPED_TRACE(std::string(rawValue(language)) + " " + name);
            QPushButton* b = button(*view, name);
            // sizeHint() is the label and icon with the platform's own thin margins.
            EXPECT_GE(b->width(), b->sizeHint().width() + 2 * WelcomeView::kButtonPadding);
        }
    }
    EXPECT_EQ(button(*view, "pick")->width(), 160 + 16) << "English keeps its least width";
    loc.setCurrent(Language::russian);
    QCoreApplication::processEvents();  // the relabelled buttons are laid out again
    test::savePng(view.get(), "welcome-ru.png", {1080, 680});
    loc.setCurrent(Language::english);
}

// The fallback to the application's icon is checked with the real icon in the app's tests.
TEST_F(WelcomeViewTest, LogoComesFromTheResourcesFolder) {
    ASSERT_TRUE(QApplication::windowIcon().isNull());
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const std::filesystem::path resources = folder.path().toStdString();
    EXPECT_TRUE(WelcomeView::logoFrom(resources).isNull()) << "no main_logo.png, no icon";

    QFile broken(folder.filePath("main_logo.png"));
    ASSERT_TRUE(broken.open(QIODevice::WriteOnly));
    broken.write("not an image");
    broken.close();
    EXPECT_TRUE(WelcomeView::logoFrom(resources).isNull()) << "unreadable main_logo.png";

    QImage red(40, 40, QImage::Format_ARGB32);
    red.fill(Qt::red);
    ASSERT_TRUE(red.save(folder.filePath("main_logo.png"), "PNG"));
    const QPixmap logo = WelcomeView::logoFrom(resources);
    EXPECT_EQ(logo.size(), QSize(40, 40));
    EXPECT_EQ(logo.toImage().pixelColor(5, 5), QColor(Qt::red));
}

TEST_F(WelcomeViewTest, LanguageSwitchRelabelsEverythingWithTheCount) {
    QPixmap icon(64, 64);
    icon.fill(QColor(40, 120, 220));
    QApplication::setWindowIcon(QIcon(icon));
    auto view = makeView(3, false);
    test::savePng(view.get(), "welcome-en.png", {1080, 680});
    for (Language language : {Language::german, Language::chinese}) {
        loc.setCurrent(language);
        EXPECT_EQ(labelText(view.get(), "tagline"), loc.qtext("welcome.title"));
        EXPECT_EQ(buttonText(view.get(), "scanMac"), loc.qtext("welcome.scanMac"));
        EXPECT_EQ(buttonText(view.get(), "scanHome"), loc.qtext("welcome.scanHome"));
        EXPECT_EQ(buttonText(view.get(), "pick"), loc.qtext("welcome.pick"));
        EXPECT_EQ(buttonText(view.get(), "thinSnapshots"),
                  loc.qformat("welcome.thinSnapshots", {3}));
        EXPECT_TRUE(buttonText(view.get(), "thinSnapshots").contains(u'3'));
        EXPECT_EQ(labelText(view.get(), "privacy"), loc.qtext("welcome.privacy"));
        EXPECT_EQ(labelText(view.get(), "name"), "Cellarbright");
    }
    loc.setCurrent(Language::german);
    EXPECT_EQ(buttonText(view.get(), "pick"), "Ordner wählen");
    test::savePng(view.get(), "welcome-de.png", {1080, 680});
    loc.setCurrent(Language::chinese);
    test::savePng(view.get(), "welcome-zh.png", {1080, 680});
    QApplication::setWindowIcon(QIcon());
}

}  // namespace
}  // namespace cb
