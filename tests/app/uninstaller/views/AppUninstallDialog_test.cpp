#include "app/uninstaller/views/AppUninstallDialog.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <QCheckBox>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>
#include <algorithm>
#include <csignal>

#include "app/uninstaller/AppDiscovery.h"
#include "tests/app/uninstaller/views/AppsViewTestSupport.h"
#include "tests/support/BundledProcess.h"
#include "tests/support/TempDir.h"

namespace cb {
namespace {

namespace fs = std::filesystem;
using Paths = std::vector<fs::path>;
using testsupport::BundledProcess;

// A workspace with no running applications that records quit requests.
class IdleWorkspace : public platform::Workspace {
  public:
    std::vector<platform::RunningApplication> runningApplications() override { return {}; }
    void terminate(pid_t pid) override { terminated.push_back(pid); }
    std::vector<pid_t> terminated;
};

RelatedFile file(const char* path, RelatedCategory category, int64_t size, bool shared = false) {
    return {QUuid::createUuid(), path, category, size, shared};
}

// Banana: a 10,000-byte bundle; two files of 1,000 bytes and a shared group container, in the
// search's path order.
std::vector<RelatedFile> bananaFiles() {
    return {
        file("/h/Library/Application Support/com.example.banana",
             RelatedCategory::applicationSupport, 1000),
        file("/h/Library/Caches/com.example.banana", RelatedCategory::caches, 1000),
        file("/h/Library/Group Containers/group.example.fruit", RelatedCategory::groupContainers,
             4000, true),
    };
}

std::shared_ptr<InstalledApp> banana(bool loaded = true) {
    std::shared_ptr<InstalledApp> app = appstest::makeApp("Banana", "com.example.banana", "1.2",
                                                          std::nullopt, QColor(240, 200, 40));
    app->setBundleSize(10'000);
    if (loaded) {
        app->setRelated(bananaFiles());
        app->setRelatedLoaded(true);
    }
    return app;
}

QCheckBox* checkOf(QWidget* dialog, const RelatedFile& file) {
    QWidget* row = dialog->findChild<QWidget*>(QStringLiteral("file:") +
                                               file.id.toString(QUuid::WithoutBraces));
    return row == nullptr ? nullptr : row->findChild<QCheckBox*>(QStringLiteral("check"));
}

class AppUninstallDialogTest : public ::testing::Test {
  protected:
    AppUninstallDialogTest() { test::app(); }

    std::unique_ptr<AppUninstallDialog> makeDialog(std::shared_ptr<InstalledApp> app,
                                                   platform::Workspace& workspace) {
        return std::make_unique<AppUninstallDialog>(
            std::move(app), [this] { ++cancels_; },
            [this](Paths urls) { confirmed_.push_back(std::move(urls)); }, loc_, workspace);
    }

    QPushButton* confirm(QWidget* dialog) {
        return dialog->findChild<QPushButton*>(QStringLiteral("confirm"));
    }

    LocalizationManager loc_{nullptr, {"en"}};
    IdleWorkspace idle_;
    int cancels_ = 0;
    std::vector<Paths> confirmed_;
};

TEST_F(AppUninstallDialogTest, ChoicesSizesAndOrder) {
    std::shared_ptr<InstalledApp> app = banana();
    const std::vector<RelatedFile> files = app->related();
    auto dialog = makeDialog(app, idle_);
    // Shared items start unticked, the others ticked.
    EXPECT_TRUE(checkOf(dialog.get(), files[0])->isChecked());
    EXPECT_TRUE(checkOf(dialog.get(), files[1])->isChecked());
    EXPECT_FALSE(checkOf(dialog.get(), files[2])->isChecked());
    EXPECT_TRUE(test::isShown(dialog.get(), "sharedNote"));
    EXPECT_EQ(test::buttonText(dialog.get(), "confirm"), "Move to Trash (3, 12 KB)");
    EXPECT_EQ(test::labelText(dialog.get(), "totalSize"), "12 KB");
    EXPECT_EQ(dialog->selectedURLs(), (Paths{app->url(), files[0].url, files[1].url}));
    EXPECT_TRUE(confirm(dialog.get())->isEnabled());

    // Ticking the shared item adds it in related order, not in group order.
    checkOf(dialog.get(), files[2])->click();
    EXPECT_EQ(dialog->selectedURLs(),
              (Paths{app->url(), files[0].url, files[1].url, files[2].url}));
    EXPECT_EQ(test::buttonText(dialog.get(), "confirm"), "Move to Trash (4, 16 KB)");
    confirm(dialog.get())->click();
    EXPECT_EQ(confirmed_, std::vector<Paths>{dialog->selectedURLs()});

    // Nothing chosen (every box was ticked, so each click unticks): zero bytes and no confirm.
    dialog->findChild<QCheckBox*>(QStringLiteral("bundleCheck"))->click();
    for (const RelatedFile& f : files) {
        checkOf(dialog.get(), f)->click();
    }
    EXPECT_TRUE(dialog->selectedURLs().empty());
    EXPECT_EQ(test::labelText(dialog.get(), "totalSize"), "Zero KB");
    EXPECT_FALSE(confirm(dialog.get())->isEnabled());
    dialog->confirmUninstall();
    EXPECT_EQ(confirmed_.size(), 1u);
    dialog->findChild<QPushButton*>(QStringLiteral("cancel"))->click();
    EXPECT_EQ(cancels_, 1);
}

TEST_F(AppUninstallDialogTest, GroupsFollowTheCategoryOrderLargestFirstThenPathOrder) {
    std::shared_ptr<InstalledApp> app = banana(false);
    app->setRelated({
        file("/h/Library/Caches/a", RelatedCategory::caches, 500),
        file("/h/Library/Caches/b", RelatedCategory::caches, 900),
        file("/h/Library/Caches/c", RelatedCategory::caches, 500),
        file("/h/Library/Logs/z", RelatedCategory::logs, 1),
        file("/h/Library/Preferences/p.plist", RelatedCategory::preferences, 1),
        file("/h/Library/Application Support/x", RelatedCategory::applicationSupport, 1),
    });
    app->setRelatedLoaded(true);
    auto dialog = makeDialog(app, idle_);
    std::vector<std::pair<std::string, Paths>> shown;
    for (const auto& [category, files] : dialog->sections()) {
        Paths paths;
        for (const RelatedFile& f : files) {
            paths.push_back(f.url);
        }
        shown.emplace_back(std::string(rawValue(category)), paths);
    }
    const std::vector<std::pair<std::string, Paths>> expected = {
        {"Application Support", {"/h/Library/Application Support/x"}},
        {"Caches", {"/h/Library/Caches/b", "/h/Library/Caches/a", "/h/Library/Caches/c"}},
        {"Preferences", {"/h/Library/Preferences/p.plist"}},
        {"Logs", {"/h/Library/Logs/z"}},
    };
    EXPECT_EQ(shown, expected);
    QStringList titles;
    for (QLabel* title : dialog->findChildren<QLabel*>(QStringLiteral("groupTitle"))) {
        titles << title->text();
    }
    EXPECT_EQ(titles, (QStringList{"Application Support", "Caches", "Preferences", "Logs"}));
    QStringList names;
    for (QLabel* name : dialog->findChildren<QLabel*>(QStringLiteral("fileName"))) {
        names << name->text();
    }
    EXPECT_EQ(names, (QStringList{"x", "b", "a", "c", "p.plist", "z"}));
}

// While searching: the spinner row, no confirm, Return does nothing. A later delivery keeps
// every choice made and defaults only new files; a language switch relabels all but the
// category titles.
TEST_F(AppUninstallDialogTest, SearchingThenRepeatedDeliveriesAndALanguageSwitch) {
    std::shared_ptr<InstalledApp> app = banana(false);
    auto dialog = makeDialog(app, idle_);
    test::showActive(dialog.get());
    EXPECT_TRUE(test::isShown(dialog.get(), "searching"));
    EXPECT_EQ(test::labelText(dialog.get(), "searchingText"), "Looking for related files…");
    EXPECT_FALSE(confirm(dialog.get())->isEnabled());
    QTest::keyClick(dialog.get(), Qt::Key_Return);
    EXPECT_TRUE(confirmed_.empty());
    QTest::keyClick(dialog.get(), Qt::Key_Escape);
    EXPECT_EQ(cancels_, 1);

    std::vector<RelatedFile> files = bananaFiles();
    app->setRelated(files);
    app->setRelatedLoaded(true);
    EXPECT_FALSE(test::isShown(dialog.get(), "searching"));
    EXPECT_TRUE(confirm(dialog.get())->isEnabled());
    checkOf(dialog.get(), files[0])->click();  // the user drops one
    checkOf(dialog.get(), files[2])->click();  // and takes the shared one

    // A repeated search: the same files plus a new one and a new shared one.
    files.push_back(file("/h/Library/Logs/banana.log", RelatedCategory::logs, 10));
    files.push_back(file("/h/Library/Group Containers/group.other",
                         RelatedCategory::groupContainers, 10, true));
    app->setRelatedLoaded(false);
    app->setRelated(files);
    app->setRelatedLoaded(true);
    const bool expected[] = {false, true, true, true, false};
    for (size_t i = 0; i < files.size(); ++i) {
        EXPECT_EQ(checkOf(dialog.get(), files[i])->isChecked(), expected[i]) << i;
    }

    QTest::keyClick(dialog.get(), Qt::Key_Return);
    ASSERT_EQ(confirmed_.size(), 1u);
    EXPECT_EQ(confirmed_[0], (Paths{app->url(), files[1].url, files[2].url, files[3].url}));

    loc_.setCurrent(Language::german);
    EXPECT_EQ(test::labelText(dialog.get(), "title"), "Banana deinstallieren?");
    EXPECT_EQ(test::labelText(dialog.get(), "bundleLabel"), "Programm");
    EXPECT_EQ(test::buttonText(dialog.get(), "cancel"), "Abbrechen");
    EXPECT_TRUE(test::buttonText(dialog.get(), "confirm").startsWith("In den Papierkorb (4, "));
    EXPECT_TRUE(test::labelText(dialog.get(), "sharedNote").startsWith("Kann mit anderen"));
    QStringList titles;
    for (QLabel* title : dialog->findChildren<QLabel*>(QStringLiteral("groupTitle"))) {
        titles << title->text();
    }
    EXPECT_EQ(titles, (QStringList{"Application Support", "Caches", "Group Containers", "Logs"}));
    // The choices survive the relabelling.
    EXPECT_FALSE(checkOf(dialog.get(), files[0])->isChecked());
}

// ---- The running application, with real processes ----

class RunningAppTest : public AppUninstallDialogTest {
  protected:
    // "com.example.dialog.<name>.<this process's id>": the running applications are every
    // process on the machine, so two test runs at once must not see each other's applications.
    static std::string identifier(const std::string& name) {
        return "com.example.dialog." + name + "." + std::to_string(::getpid());
    }

    // An application whose bundle is that of `process`, its search delivered with no files.
    static std::shared_ptr<InstalledApp> appOf(const BundledProcess& process) {
        std::shared_ptr<InstalledApp> app = makeInstalledApp(process.bundlePath());
        EXPECT_NE(app, nullptr);
        app->setRelatedLoaded(true);
        return app;
    }

    static bool isListed(pid_t pid) {
        for (const auto& running : platform::Workspace::shared().runningApplications()) {
            if (running.pid == pid) {
                return true;
            }
        }
        return false;
    }

    // Lets the re-check after a Quit run (it is due kQuitRecheckMs after the press).
    static void passRecheck() { QTest::qWait(AppUninstallDialog::kQuitRecheckMs + 400); }

    testsupport::TempDir dir_;
};

TEST_F(RunningAppTest, QuitEndsTheApplicationAndTheRecheckEnablesTheButton) {
    BundledProcess process(dir_.path(), "Quitter.app", identifier("quitter"), "quitter");
    auto dialog = makeDialog(appOf(process), platform::Workspace::shared());
    EXPECT_TRUE(dialog->runningStatus());
    EXPECT_TRUE(test::isShown(dialog.get(), "runningWarning"));
    EXPECT_TRUE(test::isShown(dialog.get(), "quit"));
    EXPECT_EQ(test::labelText(dialog.get(), "runningHelp"), "Quit Quitter before uninstalling.");
    EXPECT_FALSE(confirm(dialog.get())->isEnabled());
    dialog->show();
    test::savePng(dialog.get(), "uninstall-dialog-running.png");

    dialog->findChild<QPushButton*>(QStringLiteral("quit"))->click();
    EXPECT_EQ(process.wait(), SIGTERM);
    EXPECT_TRUE(dialog->runningStatus());  // until the re-check
    ASSERT_TRUE(testing::waitFor([&] { return !dialog->runningStatus(); }));
    EXPECT_FALSE(test::isShown(dialog.get(), "runningWarning"));
    EXPECT_FALSE(test::isShown(dialog.get(), "quit"));
    EXPECT_TRUE(confirm(dialog.get())->isEnabled());
}

TEST_F(RunningAppTest, OneQuitEndsOnlyTheLowerPidOfTwoInstances) {
    BundledProcess first(dir_.path(), "TwinA.app", identifier("twin"), "twin");
    BundledProcess second(dir_.path(), "TwinB.app", identifier("twin"), "twin");
    BundledProcess& lower = first.pid() < second.pid() ? first : second;
    BundledProcess& higher = first.pid() < second.pid() ? second : first;
    const pid_t higherPid = higher.pid();
    // Both must be listed (started and past exec) before the dialog looks for them.
    ASSERT_TRUE(testing::waitFor([&] { return isListed(first.pid()) && isListed(second.pid()); }));
    auto dialog = makeDialog(appOf(first), platform::Workspace::shared());
    dialog->quitRunningApp();
    EXPECT_EQ(lower.wait(), SIGTERM);
    passRecheck();
    EXPECT_TRUE(isListed(higherPid));
    EXPECT_TRUE(dialog->runningStatus());
    EXPECT_TRUE(test::isShown(dialog.get(), "runningWarning"));
}

TEST_F(RunningAppTest, AnApplicationThatIgnoresTheQuitKeepsTheWarning) {
    BundledProcess shell(dir_.path(), "Stubborn.app", identifier("stubborn"), "stubborn",
                         BundledProcess::Program::termIgnoringShell);
    auto dialog = makeDialog(appOf(shell), platform::Workspace::shared());
    ASSERT_TRUE(dialog->runningStatus());
    dialog->quitRunningApp();
    passRecheck();
    EXPECT_TRUE(isListed(shell.pid()));
    EXPECT_TRUE(dialog->runningStatus());
    EXPECT_TRUE(test::isShown(dialog.get(), "runningWarning"));
}

TEST_F(RunningAppTest, AnApplicationStartedWhileOpenStopsTheConfirm) {
    // Running is judged by the identifier alone, so the application can be made before its
    // process starts.
    std::shared_ptr<InstalledApp> app = InstalledApp::make(
        {dir_.path() / "Late.app", "Late", identifier("late"), {}, {}, QImage()});
    app->setRelatedLoaded(true);
    auto dialog = makeDialog(app, platform::Workspace::shared());
    EXPECT_FALSE(dialog->runningStatus());
    EXPECT_TRUE(confirm(dialog.get())->isEnabled());
    BundledProcess late(dir_.path(), "Late.app", identifier("late"), "late");
    confirm(dialog.get())->click();
    EXPECT_TRUE(confirmed_.empty());
    EXPECT_TRUE(dialog->runningStatus());
    EXPECT_TRUE(test::isShown(dialog.get(), "runningWarning"));
    EXPECT_FALSE(confirm(dialog.get())->isEnabled());
}

// A closed dialog gets no re-check.
TEST_F(RunningAppTest, TheRecheckDiesWithTheDialog) {
    BundledProcess process(dir_.path(), "Gone.app", identifier("gone"), "gone");
    auto dialog = makeDialog(appOf(process), platform::Workspace::shared());
    dialog->quitRunningApp();
    dialog.reset();
    EXPECT_EQ(process.wait(), SIGTERM);
    passRecheck();  // would touch the deleted dialog (caught by the address sanitizer)
}

TEST_F(AppUninstallDialogTest, RendersInEnglishAndGerman) {
    for (const auto& [language, name] : {std::pair{Language::english, "uninstall-dialog-en.png"},
                                         std::pair{Language::german, "uninstall-dialog-de.png"}}) {
        loc_.setCurrent(language);
        auto dialog = makeDialog(banana(), idle_);
        dialog->show();
        // Scrolled to the end, where the shared item shows its note.
        auto* list = dialog->findChild<QScrollArea*>(QStringLiteral("list"));
        dialog->adjustSize();
        list->verticalScrollBar()->setValue(list->verticalScrollBar()->maximum());
        const QImage image = test::savePng(dialog.get(), name);
        EXPECT_EQ(image.width(), AppUninstallDialog::kWidth * image.devicePixelRatio());
        EXPECT_LE(dialog->findChild<QWidget*>(QStringLiteral("list"))->height(),
                  AppUninstallDialog::kListMaxHeight);
    }
}

}  // namespace
}  // namespace cb
