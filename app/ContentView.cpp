#include "app/ContentView.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QStackedWidget>
#include <QVBoxLayout>

#include "app/DialogOverlay.h"
#include "app/DiskMapView.h"
#include "app/Divider.h"
#include "app/TopBar.h"
#include "app/WindowAlerts.h"
#include "app/ads/AdBarView.h"
#include "app/disk/FullDiskAccess.h"
#include "app/localization/LocalizationManager.h"
#include "app/uninstaller/views/AppUninstallDialog.h"
#include "app/uninstaller/views/AppsView.h"
#include "app/views/DeleteConfirmDialog.h"
#include "app/views/FullDiskAccessPrompt.h"
#include "app/views/ScanProgressView.h"
#include "app/views/UninstallPermissionDialog.h"
#include "app/views/WelcomeView.h"

namespace cb {

ContentView::ContentView(LocalizationManager& loc, AppServices services, QWidget* parent,
                         AdServiceOptions adOptions)
    : QWidget(parent), loc_(loc), logEvent_(services.logEvent) {
    setObjectName(QStringLiteral("ContentView"));
    state_ = std::make_unique<AppState>(std::move(services));
    shownMode_ = state_->mode();
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    mainArea_ = new QWidget(this);
    mainArea_->setObjectName(QStringLiteral("mainArea"));
    auto* main = new QVBoxLayout(mainArea_);
    main->setContentsMargins(0, 0, 0, 0);
    main->setSpacing(0);
    main->addWidget(buildBody());
    column->addWidget(mainArea_, 1);
    // The service is made before the bar that follows it, so it also goes first on the way out;
    // the bar does not touch it then.
    ads_ = new AdService(loc_, std::move(adOptions), this);
    adBar_ = new AdBarView(*ads_, logEvent_, platform::Workspace::shared(), this);
    column->addWidget(adBar_);
    alerts_ = new WindowAlerts(*state_, loc_, this);

    connectState();
    showMode();
    showAccessPrompt();
    showPermissionPrompt();
    showUninstallDialog();
    showDeleteConfirmation();
}

ContentView::~ContentView() {
    // The views point into the state's tree and hold the state by reference.
    delete alerts_;
    delete mainArea_;
    state_.reset();
}

void ContentView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    ads_->start();
}

QWidget* ContentView::buildBody() {
    auto* body = new QWidget(mainArea_);
    body->setObjectName(QStringLiteral("body"));
    auto* column = new QVBoxLayout(body);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    topBar_ = new TopBar(*state_, loc_, body);
    column->addWidget(topBar_);
    column->addWidget(new Divider(body));
    modeContent_ = new QStackedWidget(body);
    folderArea_ = new QWidget(modeContent_);
    folderArea_->setObjectName(QStringLiteral("folderMode"));
    folderLayout_ = new QVBoxLayout(folderArea_);
    folderLayout_->setContentsMargins(0, 0, 0, 0);
    modeContent_->addWidget(folderArea_);
    // The apps screen lists the applications the first time it comes into view.
    appsView_ = new AppsView(*state_, loc_, modeContent_);
    modeContent_->addWidget(appsView_);
    column->addWidget(modeContent_, 1);
    return body;
}

void ContentView::connectState() {
    AppState& state = *state_;
    connect(&state, &AppState::modeChanged, this, &ContentView::showMode);
    connect(&state, &AppState::phaseChanged, this, &ContentView::showFolderPage);
    connect(&state, &AppState::focusChanged, this, &ContentView::showFolderPage);
    connect(&state, &AppState::rootChanged, this, &ContentView::showFolderPage);
    connect(&state, &AppState::fdaPromptForURLChanged, this, &ContentView::showAccessPrompt);
    connect(&state, &AppState::deleteCandidateChanged, this, &ContentView::showDeleteConfirmation);
    connect(&state, &AppState::rootChanged, this, &ContentView::showDeleteConfirmation);
    connect(&state, &AppState::permissionPromptChanged, this, &ContentView::showPermissionPrompt);
    connect(&state, &AppState::uninstallCandidateChanged, this, &ContentView::showUninstallDialog);
}

void ContentView::showMode() {
    const AppState::Mode mode = state_->mode();
    if (mode != shownMode_) {
        shownMode_ = mode;
        sdk::Value::Dictionary parameters;
        parameters.emplace("mode", sdk::Value(std::string(rawValue(mode))));
        if (logEvent_) {
            logEvent_(AnalyticsEvent::modeSwitched, std::move(parameters));
        }
    }
    modeContent_->setCurrentIndex(mode == AppState::Mode::folder ? 0 : 1);
    showFolderPage();
}

ContentView::FolderPage ContentView::wantedFolderPage() const {
    if (state_->mode() != AppState::Mode::folder) {
        return FolderPage::none;
    }
    switch (state_->phase().kind()) {
        case AppState::Phase::Kind::welcome:
            return FolderPage::welcome;
        case AppState::Phase::Kind::scanning:
            return FolderPage::scanning;
        case AppState::Phase::Kind::ready:
            return state_->focus() != nullptr ? FolderPage::diskMap : FolderPage::empty;
    }
    return FolderPage::none;
}

void ContentView::showFolderPage() {
    const FolderPage wanted = wantedFolderPage();
    if (wanted == folderPage_) {
        if (wanted == FolderPage::scanning) {
            progressView()->setProgress(state_->phase().progress());
        }
        return;
    }
    if (page_) {
        // The page may be in the middle of its own button press (Cancel, New scan).
        page_->hide();
        folderLayout_->removeWidget(page_);
        page_->deleteLater();
    }
    folderPage_ = wanted;
    page_ = buildFolderPage(wanted);
    if (page_) {
        folderLayout_->addWidget(page_);
        page_->show();  // at once, not on the layout's next turn of the event loop
    }
}

QWidget* ContentView::buildFolderPage(FolderPage page) {
    switch (page) {
        case FolderPage::welcome:
            return buildWelcome();
        case FolderPage::scanning:
            return new ScanProgressView(
                state_->phase().progress(), [this] { state_->cancelScan(); }, loc_, folderArea_);
        case FolderPage::diskMap:
            return new DiskMapView(*state_, loc_, folderArea_);
        case FolderPage::empty:
            return new QWidget(folderArea_);
        case FolderPage::none:
            return nullptr;
    }
    return nullptr;
}

QWidget* ContentView::buildWelcome() {
    AppState& state = *state_;
    auto* welcome = new WelcomeView(
        [&state] { state.scanEntireMac(); }, [&state] { state.scanHome(); },
        [&state] { state.chooseFolder(); }, state.localSnapshotCount(), state.thinningSnapshots(),
        [&state] { state.setConfirmThinSnapshots(true); }, loc_, folderArea_);
    connect(&state, &AppState::localSnapshotCountChanged, welcome,
            [welcome, &state] { welcome->setLocalSnapshotCount(state.localSnapshotCount()); });
    connect(&state, &AppState::thinningSnapshotsChanged, welcome,
            [welcome, &state] { welcome->setThinning(state.thinningSnapshots()); });
    // Each time the welcome screen appears, the snapshot count is taken again.
    state.refreshSnapshotCount();
    return welcome;
}

WelcomeView* ContentView::welcomeView() const {
    return folderPage_ == FolderPage::welcome ? static_cast<WelcomeView*>(page_.data()) : nullptr;
}

ScanProgressView* ContentView::progressView() const {
    return folderPage_ == FolderPage::scanning ? static_cast<ScanProgressView*>(page_.data())
                                               : nullptr;
}

DiskMapView* ContentView::diskMap() const {
    return folderPage_ == FolderPage::diskMap ? static_cast<DiskMapView*>(page_.data()) : nullptr;
}

DialogOverlay* ContentView::accessOverlay() const {
    return accessOverlay_;
}

DialogOverlay* ContentView::deleteOverlay() const {
    return deleteOverlay_;
}

DialogOverlay* ContentView::permissionOverlay() const {
    return permissionOverlay_;
}

DialogOverlay* ContentView::uninstallOverlay() const {
    return uninstallOverlay_;
}

void ContentView::showAccessPrompt() {
    const auto& location = state_->fdaPromptForURL();
    if (location == accessShownFor_ && (accessOverlay_ != nullptr) == location.has_value()) {
        return;
    }
    if (accessOverlay_) {
        accessOverlay_->dismiss();
        accessOverlay_ = nullptr;
    }
    accessShownFor_ = location;
    if (!location) {
        return;
    }
    AppState& state = *state_;
    auto* prompt = new FullDiskAccessPrompt(
        *location, [] { openFullDiskAccessSettings(); },
        [&state] { state.scanAfterAccessPrompt(); },
        [&state] { state.setFdaPromptForURL(std::nullopt); }, loc_);
    accessOverlay_ = new DialogOverlay(prompt, mainArea_);
    accessOverlay_->present();
    restackOverlays();
}

void ContentView::showDeleteConfirmation() {
    FileNode* candidate = state_->deleteCandidate();
    if (candidate == deleteShownFor_ && (deleteOverlay_ != nullptr) == (candidate != nullptr)) {
        return;
    }
    if (deleteOverlay_) {
        deleteOverlay_->dismiss();
        deleteOverlay_ = nullptr;
    }
    deleteShownFor_ = candidate;
    if (candidate == nullptr) {
        return;
    }
    AppState& state = *state_;
    auto* dialog = new DeleteConfirmDialog(
        *candidate, [&state] { state.setDeleteCandidate(nullptr); },
        [&state] { state.confirmDelete(); }, loc_);
    deleteOverlay_ = new DialogOverlay(dialog, mainArea_);
    deleteOverlay_->present();
    restackOverlays();
}

void ContentView::showPermissionPrompt() {
    const auto& prompt = state_->permissionPrompt();
    const std::optional<QUuid> id = prompt ? std::optional(prompt->id) : std::nullopt;
    if (id == permissionShownFor_ && (permissionOverlay_ != nullptr) == id.has_value()) {
        return;
    }
    if (permissionOverlay_) {
        permissionOverlay_->dismiss();
        permissionOverlay_ = nullptr;
    }
    permissionShownFor_ = id;
    if (!prompt) {
        return;
    }
    AppState& state = *state_;
    auto* dialog = new UninstallPermissionDialog(
        *prompt, [] { openAppManagementSettings(); }, [] { openFullDiskAccessSettings(); },
        [&state] { state.setPermissionPrompt(std::nullopt); }, loc_);
    permissionOverlay_ = new DialogOverlay(dialog, mainArea_);
    permissionOverlay_->present();
    restackOverlays();
}

void ContentView::showUninstallDialog() {
    const std::shared_ptr<InstalledApp>& candidate = state_->uninstallCandidate();
    const std::optional<QUuid> id = candidate ? std::optional(candidate->id()) : std::nullopt;
    if (id == uninstallShownFor_ && (uninstallOverlay_ != nullptr) == id.has_value()) {
        return;
    }
    if (uninstallOverlay_) {
        uninstallOverlay_->dismiss();
        uninstallOverlay_ = nullptr;
    }
    uninstallShownFor_ = id;
    if (!candidate) {
        return;
    }
    AppState& state = *state_;
    auto* dialog = new AppUninstallDialog(
        candidate, [&state] { state.setUninstallCandidate(nullptr); },
        [&state](std::vector<std::filesystem::path> urls) { state.startUninstall(urls); }, loc_);
    uninstallOverlay_ = new DialogOverlay(dialog, mainArea_);
    uninstallOverlay_->present();
    restackOverlays();
}

void ContentView::restackOverlays() {
    for (DialogOverlay* overlay :
         {accessOverlay(), permissionOverlay(), uninstallOverlay(), deleteOverlay()}) {
        if (overlay != nullptr) {
            overlay->raise();
        }
    }
}

std::unique_ptr<QFileDialog> folderPanel(const std::string& message, const std::string& prompt) {
    auto panel = std::make_unique<QFileDialog>(QApplication::activeWindow(),
                                               QString::fromStdString(message), QDir::homePath());
    panel->setFileMode(QFileDialog::Directory);
    panel->setOption(QFileDialog::ShowDirsOnly);
    panel->setLabelText(QFileDialog::Accept, QString::fromStdString(prompt));
    return panel;
}

AppServices windowServices() {
    AppServices services = AppServices::system();
    services.chooseFolder = [](const std::string& message,
                               const std::string& prompt) -> std::optional<std::filesystem::path> {
        const std::unique_ptr<QFileDialog> panel = folderPanel(message, prompt);
        if (panel->exec() != QDialog::Accepted || panel->selectedFiles().isEmpty()) {
            return std::nullopt;
        }
        return std::filesystem::path(panel->selectedFiles().first().toStdString());
    };
    return services;
}

}  // namespace cb
