// The uninstall overlays of the window: the uninstall dialog and the permission dialog on doubles,
// and a whole uninstall on the real services over a fixture home.

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QDir>
#include <QPushButton>
#include <QTest>
#include <QUrl>
#include <algorithm>
#include <fstream>
#include <set>

#include "app/ContentView.h"
#include "app/DialogOverlay.h"
#include "app/localization/LocalizationManager.h"
#include "app/uninstaller/AppLocations.h"
#include "app/uninstaller/views/AppUninstallDialog.h"
#include "app/uninstaller/views/AppsView.h"
#include "app/views/UninstallPermissionDialog.h"
#include "tests/app/AppStateFakes.h"
#include "tests/app/WindowTestEnvironment.h"
#include "tests/app/uninstaller/AppFixtures.h"
#include "tests/support/TempDir.h"
#include "tests/support/TrashFiles.h"

namespace cb {
namespace {

namespace fs = std::filesystem;
using testing::FakeApps;
using testing::FakeWorld;
using testing::waitFor;

const auto* const kEnvironment =
    ::testing::AddGlobalTestEnvironment(new cb::testing::WindowEnvironment);

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

AppUninstallDialog* uninstallDialogOf(const ContentView& view) {
    return view.uninstallOverlay() == nullptr
               ? nullptr
               : dynamic_cast<AppUninstallDialog*>(view.uninstallOverlay()->dialog());
}

class ContentViewUninstallTest : public ::testing::Test {
  protected:
    ContentViewUninstallTest() : loc(nullptr, {"en"}) {}

    std::unique_ptr<ContentView> makeWindow() {
        auto view = std::make_unique<ContentView>(loc, world.services());
        view->resize(1080, 720);
        view->show();
        return view;
    }

    FakeWorld world;
    LocalizationManager loc;
};

// The permission dialog lies below the uninstall dialog; both follow their fields by identity,
// and each closes by clearing its own field.
TEST_F(ContentViewUninstallTest, BothOverlaysStackInOrderAndFollowTheirFields) {
    world.apps.relatedResult = {
        {QUuid::createUuid(), "/h/Library/Caches/com.example.Banana", RelatedCategory::caches,
         2'400'000, false},
        {QUuid::createUuid(), "/h/Library/Group Containers/T.com.example.Banana",
         RelatedCategory::groupContainers, 800'000, true},
    };
    const std::shared_ptr<InstalledApp> banana = FakeApps::makeApp("Banana");
    const std::shared_ptr<InstalledApp> fig = FakeApps::makeApp("Fig");
    banana->setBundleSize(52'000'000);
    world.apps.setListing({banana, fig});
    auto view = makeWindow();
    view->state().setMode(AppState::Mode::apps);
    ASSERT_TRUE(waitFor([&] { return view->state().apps().size() == 2; }));

    view->appsView()->requestUninstall(banana);
    ASSERT_NE(uninstallDialogOf(*view), nullptr);
    EXPECT_EQ(uninstallDialogOf(*view)->app(), banana);
    ASSERT_TRUE(waitFor([&] { return banana->relatedLoaded(); }));

    AppState::UninstallPermissionPrompt prompt;
    prompt.needsAppManagement = true;
    prompt.needsFullDiskAccess = true;
    prompt.failedPaths = {"/Applications/Other.app", "/Library/Caches/com.example.other"};
    prompt.succeededCount = 2;
    view->state().setPermissionPrompt(prompt);
    ASSERT_NE(view->permissionOverlay(), nullptr);
    EXPECT_NE(dynamic_cast<UninstallPermissionDialog*>(view->permissionOverlay()->dialog()),
              nullptr);
    const QObjectList& stack = view->uninstallOverlay()->parentWidget()->children();
    EXPECT_LT(stack.indexOf(view->permissionOverlay()), stack.indexOf(view->uninstallOverlay()));
    ASSERT_TRUE(waitFor([&] {
        return view->uninstallOverlay()->isFullyShown() &&
               view->permissionOverlay()->isFullyShown();
    }));
    saveRender(*view, "window-uninstall-stacked.png");

    // The same prompt again keeps its overlay; a new prompt replaces it.
    QPointer<DialogOverlay> permission = view->permissionOverlay();
    view->state().setPermissionPrompt(view->state().permissionPrompt());
    EXPECT_EQ(view->permissionOverlay(), permission.data());
    // Another candidate replaces the uninstall dialog.
    QPointer<DialogOverlay> first = view->uninstallOverlay();
    view->state().setUninstallCandidate(fig);
    ASSERT_NE(uninstallDialogOf(*view), nullptr);
    EXPECT_EQ(uninstallDialogOf(*view)->app(), fig);
    EXPECT_TRUE(first.isNull() || first->isDismissing());

    // Cancel clears the candidate; Close clears the prompt.
    ASSERT_TRUE(waitFor([&] { return view->uninstallOverlay()->isFullyShown(); }));
    QAbstractButton* cancel = buttonWithText(view->uninstallOverlay()->dialog(), "Cancel");
    ASSERT_NE(cancel, nullptr);
    QTest::mouseClick(cancel, Qt::LeftButton);
    EXPECT_EQ(view->state().uninstallCandidate(), nullptr);
    EXPECT_EQ(view->uninstallOverlay(), nullptr);
    QAbstractButton* close = buttonWithText(permission->dialog(), "Close");
    ASSERT_NE(close, nullptr);
    QTest::mouseClick(close, Qt::LeftButton);
    EXPECT_FALSE(view->state().permissionPrompt());
    EXPECT_EQ(view->permissionOverlay(), nullptr);
    EXPECT_TRUE(waitFor([&] { return permission.isNull(); }));
    EXPECT_TRUE(world.apps.batches().empty());
}

// A permission refusal from the move ends in the permission overlay.
TEST_F(ContentViewUninstallTest, APermissionRefusalShowsThePermissionDialog) {
    const std::shared_ptr<InstalledApp> banana = FakeApps::makeApp("Banana");
    world.apps.setListing({banana});
    world.apps.trashAnswer = [](const std::vector<fs::path>& urls) {
        return TrashBatchResult{{}, {{urls[0], "Operation not permitted"}}};
    };
    world.apps.holdRelated = true;
    auto view = makeWindow();
    view->state().setMode(AppState::Mode::apps);
    ASSERT_TRUE(waitFor([&] { return view->state().apps().size() == 1; }));
    view->appsView()->requestUninstall(banana);
    // Before the search delivered, neither the dialog nor the window takes a confirm.
    uninstallDialogOf(*view)->confirmUninstall();
    view->state().startUninstall({banana->url()});
    EXPECT_EQ(view->state().uninstallCandidate(), banana);
    EXPECT_NE(view->uninstallOverlay(), nullptr);
    world.apps.relatedGate.openFully();
    ASSERT_TRUE(waitFor([&] { return banana->relatedLoaded(); }));
    EXPECT_TRUE(world.apps.batches().empty());
    uninstallDialogOf(*view)->confirmUninstall();
    EXPECT_EQ(view->state().uninstallCandidate(), nullptr);
    ASSERT_TRUE(waitFor([&] { return view->permissionOverlay() != nullptr; }));
    EXPECT_EQ(view->state().permissionPrompt()->failedPaths,
              std::vector<std::string>{banana->url().string()});
    EXPECT_EQ(view->state().apps().size(), 1u);
}

// The real services on a fixture home: the chosen items go to the Trash with valid info files,
// the shared group container stays, the application leaves the list and its panel, and one event
// is logged.
TEST(ContentViewUninstallRealTest, ConfirmingMovesTheChosenItemsToTheTrash) {
    testsupport::TempDir dir;
    const fs::path applications = dir.path() / "Applications";
    const fs::path home = dir.path() / "home";
    const fs::path bundle =
        testsupport::makeAppBundle(applications / "Banana.app", "com.example.banana");
    std::ofstream(bundle / "Contents" / "payload.bin") << std::string(30000, 'x');
    const fs::path caches = home / "Library/Caches/com.example.banana";
    const fs::path support = home / "Library/Application Support/com.example.banana";
    const fs::path group = home / "Library/Group Containers/TEAM.com.example.banana";
    for (const fs::path& folder : {caches, support, group}) {
        fs::create_directories(folder);
        std::ofstream(folder / "data.bin") << std::string(5000, 'd');
    }
    testsupport::ScopedEnv homeEnv("HOME", home.string());
    testsupport::ScopedEnv dataEnv("XDG_DATA_HOME", (dir.path() / "data").string());
    const AppLocations old =
        AppLocations::TEST_setCurrent({applications, dir.path() / "machine" / "Library"});
    std::vector<testing::LoggedEvent> events;
    {
        LocalizationManager loc(nullptr, {"en"});
        AppServices services = AppServices::system();
        services.logEvent = [&events](AnalyticsEvent event,
                                      std::optional<sdk::Value::Dictionary> parameters) {
            events.push_back({event, std::move(parameters)});
        };
        ContentView view(loc, services);
        view.resize(1080, 720);
        view.show();
        view.state().setMode(AppState::Mode::apps);
        ASSERT_TRUE(waitFor([&] { return view.state().apps().size() == 1; }));
        const std::shared_ptr<InstalledApp> banana = view.state().apps()[0];
        view.appsView()->select(banana);
        view.appsView()->requestUninstall(banana);
        ASSERT_TRUE(waitFor([&] { return banana->relatedLoaded(); }));
        ASSERT_EQ(banana->related().size(), 3u);
        ASSERT_TRUE(waitFor([&] { return view.uninstallOverlay()->isFullyShown(); }));
        QAbstractButton* confirm =
            view.uninstallOverlay()->dialog()->findChild<QPushButton*>(QStringLiteral("confirm"));
        ASSERT_TRUE(confirm->isEnabled());
        QTest::mouseClick(confirm, Qt::LeftButton);
        EXPECT_EQ(view.state().uninstallCandidate(), nullptr);
        ASSERT_TRUE(waitFor([&] { return view.state().apps().empty(); }));
        EXPECT_EQ(view.appsView()->selected(), nullptr);
        EXPECT_FALSE(view.state().errorMessage());
        EXPECT_FALSE(view.state().permissionPrompt());
    }
    EXPECT_FALSE(fs::exists(bundle));
    EXPECT_FALSE(fs::exists(caches));
    EXPECT_FALSE(fs::exists(support));
    EXPECT_TRUE(fs::exists(group / "data.bin")) << "the shared container stays";
    const fs::path trash = dir.path() / "data" / "Trash";
    std::set<std::string> originals;
    for (const fs::directory_entry& info : fs::directory_iterator(trash / "info")) {
        std::string path;
        EXPECT_TRUE(testsupport::isTrashInfo(testsupport::readText(info.path()), &path))
            << info.path();
        originals.insert(QUrl::fromPercentEncoding(QByteArray::fromStdString(path)).toStdString());
        EXPECT_TRUE(fs::exists(trash / "files" / info.path().stem()));
    }
    EXPECT_EQ(originals,
              (std::set<std::string>{bundle.string(), caches.string(), support.string()}));
    std::vector<testing::LoggedEvent> uninstalled;
    std::copy_if(events.begin(), events.end(), std::back_inserter(uninstalled),
                 [](const auto& e) { return e.event == AnalyticsEvent::appUninstalled; });
    ASSERT_EQ(uninstalled.size(), 1u);
    EXPECT_EQ(
        uninstalled[0].parameters,
        (sdk::Value::Dictionary{{"bundle_id", sdk::Value(std::string("com.example.banana"))}}));
    AppLocations::TEST_setCurrent(old);
}

}  // namespace
}  // namespace cb
