#include "app/views/UninstallPermissionDialog.h"

#include <QLayout>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QToolButton>

#include "tests/app/views/ScreenTestSupport.h"

namespace cb {
namespace {

using test::labelText;

AppState::UninstallPermissionPrompt makePrompt(bool appManagement, bool fullDiskAccess,
                                               int failedCount, int64_t succeeded) {
    AppState::UninstallPermissionPrompt prompt;
    prompt.needsAppManagement = appManagement;
    prompt.needsFullDiskAccess = fullDiskAccess;
    for (int i = 0; i < failedCount; ++i) {
        prompt.failedPaths.push_back("/Library/Application Support/Example/item-" +
                                     std::to_string(i));
    }
    prompt.succeededCount = succeeded;
    return prompt;
}

class UninstallPermissionDialogTest : public ::testing::Test {
  protected:
    void SetUp() override { test::app(); }

    std::unique_ptr<UninstallPermissionDialog> dialogFor(AppState::UninstallPermissionPrompt p) {
        return std::make_unique<UninstallPermissionDialog>(
            std::move(p), [this] { ++appManagementOpens; }, [this] { ++fullDiskAccessOpens; },
            [this] { ++dismissals; }, loc);
    }

    // Object names of the cards, top to bottom.
    static QStringList cardOrder(const QWidget* dialog) {
        QStringList names;
        auto* cards = dialog->findChild<QWidget*>("cards");
        for (int i = 0; cards != nullptr && i < cards->layout()->count(); ++i) {
            names.append(cards->layout()->itemAt(i)->widget()->objectName());
        }
        return names;
    }

    LocalizationManager loc{nullptr, {"en"}};
    int appManagementOpens = 0;
    int fullDiskAccessOpens = 0;
    int dismissals = 0;
};

TEST_F(UninstallPermissionDialogTest, SummaryOnlyWhenSomethingWasDeleted) {
    for (int64_t succeeded : {int64_t{0}, int64_t{-1}}) {
        auto dialog = dialogFor(makePrompt(true, false, 3, succeeded));
        EXPECT_EQ(dialog->findChild<QLabel*>("summary"), nullptr) << succeeded;
    }
    auto dialog = dialogFor(makePrompt(true, false, 3, 2));
    EXPECT_EQ(labelText(dialog.get(), "summary"),
              "Deleted: 2. 3 item(s) remain that need permission.");
    EXPECT_EQ(labelText(dialog.get(), "title"), "Additional permissions needed");
    EXPECT_EQ(labelText(dialog.get(), "subtitle"), "Failed to delete");
    EXPECT_EQ(labelText(dialog.get(), "hint"),
              "After enabling the switch, restart Cellarbright and try again.");
    EXPECT_EQ(test::buttonText(dialog.get(), "close"), "Close");
    EXPECT_EQ(test::buttonText(dialog.get(), "listToggle"), "What could not be deleted");
}

TEST_F(UninstallPermissionDialogTest, CardsFollowTheFlagsAppManagementFirst) {
    const struct {
        bool appManagement;
        bool fullDiskAccess;
        QStringList cards;
    } cases[] = {
        {false, false, {}},
        {true, false, {"card:appMgmt"}},
        {false, true, {"card:fda"}},
        {true, true, {"card:appMgmt", "card:fda"}},
    };
    for (const auto& c : cases) {
        auto dialog = dialogFor(makePrompt(c.appManagement, c.fullDiskAccess, 1, 0));
        EXPECT_EQ(cardOrder(dialog.get()), c.cards);
    }
    auto dialog = dialogFor(makePrompt(true, true, 1, 0));
    auto* appManagement = dialog->findChild<QWidget*>("card:appMgmt");
    EXPECT_EQ(labelText(appManagement, "title"), "App Management");
    EXPECT_EQ(labelText(appManagement, "body"),
              "To remove applications from /Applications, add Cellarbright under Privacy & "
              "Security → App Management.");
    EXPECT_EQ(test::buttonText(appManagement, "open"), "Open App Management");
    auto* fullDiskAccess = dialog->findChild<QWidget*>("card:fda");
    EXPECT_EQ(labelText(fullDiskAccess, "title"), "Full Disk Access");
    EXPECT_EQ(labelText(fullDiskAccess, "body"),
              "To remove related files in /Library and ~/Library, add Cellarbright to Full Disk "
              "Access.");
    EXPECT_EQ(test::buttonText(fullDiskAccess, "open"), "Open Full Disk Access");
}

TEST_F(UninstallPermissionDialogTest, CardButtonsOpenSettingsAndReturnCloses) {
    auto dialog = dialogFor(makePrompt(true, true, 2, 1));
    test::showActive(dialog.get());
    dialog->findChild<QWidget*>("card:appMgmt")->findChild<QPushButton*>("open")->click();
    dialog->findChild<QWidget*>("card:fda")->findChild<QPushButton*>("open")->click();
    dialog->findChild<QWidget*>("card:fda")->findChild<QPushButton*>("open")->click();
    EXPECT_EQ(appManagementOpens, 1);
    EXPECT_EQ(fullDiskAccessOpens, 2);
    EXPECT_EQ(dismissals, 0);
    QTest::keyClick(dialog.get(), Qt::Key_Escape);
    EXPECT_EQ(dismissals, 0) << "only Return closes";
    QTest::keyClick(dialog.get(), Qt::Key_Return);
    EXPECT_EQ(dismissals, 1);
    EXPECT_EQ(appManagementOpens + fullDiskAccessOpens, 3);
}

TEST_F(UninstallPermissionDialogTest, FortyFailedPathsAllListedInAListThatScrolls) {
    auto dialog = dialogFor(makePrompt(false, true, 40, 0));
    test::showActive(dialog.get());
    EXPECT_FALSE(dialog->isListOpen());
    const auto lines = dialog->findChildren<MiddleElidedLabel*>("failedPath");
    ASSERT_EQ(lines.size(), 40);
    for (int i = 0; i < 40; ++i) {
        EXPECT_EQ(lines[i]->fullText(),
                  QStringLiteral("/Library/Application Support/Example/item-%1").arg(i));
    }
    dialog->findChild<QToolButton*>("listToggle")->click();
    dialog->adjustSize();
    QApplication::processEvents();
    EXPECT_TRUE(dialog->isListOpen());
    auto* list = dialog->findChild<QScrollArea*>("failedList");
    EXPECT_LE(list->height(), 90);
    EXPECT_GT(list->height(), 30);
    EXPECT_GT(list->verticalScrollBar()->maximum(), 0);
    test::savePng(dialog.get(), "permission-dialog-list-open-en.png");
    dialog->findChild<QToolButton*>("listToggle")->click();
    EXPECT_FALSE(dialog->isListOpen());
}

TEST_F(UninstallPermissionDialogTest, LongPathStaysOnOneLineAndKeepsBothEnds) {
    auto prompt = makePrompt(false, true, 0, 0);
    std::string path = "/Users/alice/Library/Containers";
    for (int i = 0; i < 20; ++i) {
        path += "/com.example.very-long-component-" + std::to_string(i);
    }
    path += "/Data.plist";
    prompt.failedPaths.push_back(path);
    auto dialog = dialogFor(std::move(prompt));
    dialog->findChild<QToolButton*>("listToggle")->click();
    test::showActive(dialog.get());
    auto* line = dialog->findChild<MiddleElidedLabel*>("failedPath");
    EXPECT_TRUE(line->isElided());
    EXPECT_FALSE(line->text().contains(u'\n'));
    EXPECT_TRUE(line->text().startsWith("/Users/alice/"));
    EXPECT_TRUE(line->text().endsWith("/Data.plist"));
}

TEST_F(UninstallPermissionDialogTest, LanguageSwitchRelabelsEverything) {
    auto dialog = dialogFor(makePrompt(true, true, 3, 2));
    test::savePng(dialog.get(), "permission-dialog-en.png");
    loc.setCurrent(Language::german);
    EXPECT_EQ(labelText(dialog.get(), "title"), "Zusätzliche Berechtigungen erforderlich");
    EXPECT_EQ(labelText(dialog.get(), "summary"), loc.qformat("perm.summary", {2, 3}));
    EXPECT_EQ(test::buttonText(dialog->findChild<QWidget*>("card:fda"), "open"),
              "Festplattenvollzugriff öffnen");
    EXPECT_EQ(test::buttonText(dialog.get(), "close"), "Schließen");
    test::savePng(dialog.get(), "permission-dialog-de.png");
}

}  // namespace
}  // namespace cb
