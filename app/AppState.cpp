#include "app/AppState.h"

#include <cassert>
#include <utility>

#include "app/AccessFlow.h"
#include "app/AppsFlow.h"
#include "app/DeleteFlow.h"
#include "app/ScanFlow.h"

namespace cb {

namespace {

// True when `node` belongs to the tree whose root is `root`. Only assertions call it, so a
// release build (NDEBUG) leaves it unused.
[[maybe_unused]] bool isInTree(const FileNode* node, const FileNode* root) {
    if (node == nullptr || root == nullptr) {
        return false;
    }
    const FileNode* top = node;
    while (top->parent() != nullptr) {
        top = top->parent();
    }
    return top == root;
}

}  // namespace

AppState::AppState(AppServices services, QObject* parent)
    : QObject(parent),
      services_(std::move(services)),
      handle_(std::make_shared<StateHandle<AppState>>(this)),
      scanFlow_(std::make_unique<ScanFlow>(*this)),
      accessFlow_(std::make_unique<AccessFlow>(*this)),
      deleteFlow_(std::make_unique<DeleteFlow>(*this)),
      appsFlow_(std::make_unique<AppsFlow>(*this)) {}

AppState::~AppState() {
    handle_->invalidate();
    scanFlow_->stop();
    appsFlow_->stop();
    work_.waitForAll();
}

// ---- Published fields ----

void AppState::setPhase(Phase phase) {
    phase_ = std::move(phase);
    emit phaseChanged();
}

void AppState::setFocus(FileNode* node) {
    assert(node == nullptr || isInTree(node, root_.get()));
    focus_ = node;
    emit focusChanged();
}

void AppState::setHovered(FileNode* node) {
    assert(node == nullptr || isInTree(node, root_.get()));
    hovered_ = node;
    emit hoveredChanged();
}

void AppState::setDeleteCandidate(FileNode* node) {
    assert(node == nullptr || isInTree(node, root_.get()));
    deleteCandidate_ = node;
    emit deleteCandidateChanged();
}

void AppState::setErrorMessage(std::optional<std::string> message) {
    errorMessage_ = std::move(message);
    emit errorMessageChanged();
}

void AppState::setNeedsFullDiskAccess(bool value) {
    needsFullDiskAccess_ = value;
    emit needsFullDiskAccessChanged();
}

void AppState::setFdaPromptForURL(std::optional<std::filesystem::path> location) {
    fdaPromptForURL_ = std::move(location);
    emit fdaPromptForURLChanged();
}

void AppState::setIsRefreshing(bool value) {
    isRefreshing_ = value;
    emit isRefreshingChanged();
}

void AppState::setVolumeCapacity(std::optional<VolumeInfo::Capacity> capacity) {
    volumeCapacity_ = capacity;
    emit volumeCapacityChanged();
}

void AppState::setThinningSnapshots(bool value) {
    thinningSnapshots_ = value;
    emit thinningSnapshotsChanged();
}

void AppState::setLocalSnapshotCount(int64_t count) {
    localSnapshotCount_ = count;
    emit localSnapshotCountChanged();
}

void AppState::setConfirmThinSnapshots(bool value) {
    confirmThinSnapshots_ = value;
    emit confirmThinSnapshotsChanged();
}

void AppState::setThinResultMessage(std::optional<std::string> message) {
    thinResultMessage_ = std::move(message);
    emit thinResultMessageChanged();
}

void AppState::setMode(Mode mode) {
    mode_ = mode;
    emit modeChanged();
}

void AppState::setApps(std::vector<std::shared_ptr<InstalledApp>> apps) {
    apps_ = std::move(apps);
    emit appsChanged();
}

void AppState::setAppsLoading(bool value) {
    appsLoading_ = value;
    emit appsLoadingChanged();
}

void AppState::setUninstallCandidate(std::shared_ptr<InstalledApp> app) {
    uninstallCandidate_ = std::move(app);
    emit uninstallCandidateChanged();
}

void AppState::setPermissionPrompt(std::optional<UninstallPermissionPrompt> prompt) {
    permissionPrompt_ = std::move(prompt);
    emit permissionPromptChanged();
}

// ---- Actions, handed to their flows ----

void AppState::scanEntireMac() {
    scanFlow_->scanEntireMac();
}

void AppState::scanHome() {
    scanFlow_->scanHome();
}

void AppState::chooseFolder() {
    scanFlow_->chooseFolder();
}

void AppState::startScan(const std::filesystem::path& location) {
    accessFlow_->startScan(location);
}

void AppState::scanAfterAccessPrompt() {
    accessFlow_->scanAfterAccessPrompt();
}

void AppState::refresh() {
    scanFlow_->refresh();
}

void AppState::scan(const std::filesystem::path& location, std::optional<std::string> focusPath) {
    scanFlow_->scan(location, std::move(focusPath));
}

void AppState::cancelScan() {
    scanFlow_->cancelScan();
}

FileNode* AppState::findNode(FileNode& node, const std::string& nodePath,
                             const std::string& target) {
    return ScanFlow::findNode(node, nodePath, target);
}

void AppState::confirmDelete() {
    deleteFlow_->confirmDelete();
}

void AppState::resetToWelcome() {
    deleteFlow_->resetToWelcome();
}

void AppState::refreshSnapshotCount() {
    deleteFlow_->refreshSnapshotCount();
}

void AppState::thinSnapshots() {
    deleteFlow_->thinSnapshots();
}

void AppState::revealInFinder(const FileNode& node) {
    services_.revealInFileViewer(node.path(), node.isDirectory());
}

void AppState::loadApps() {
    appsFlow_->loadApps();
}

void AppState::loadRelated(const std::shared_ptr<InstalledApp>& app) {
    appsFlow_->loadRelated(app);
}

void AppState::requestUninstall(const std::shared_ptr<InstalledApp>& app) {
    appsFlow_->requestUninstall(app);
}

void AppState::startUninstall(const std::vector<std::filesystem::path>& urls) {
    appsFlow_->startUninstall(urls);
}

void AppState::handleUninstallResult(const std::shared_ptr<InstalledApp>& app,
                                     const std::vector<std::filesystem::path>& moved,
                                     const std::vector<TrashFailure>& failures,
                                     const std::filesystem::path& bundleURL) {
    appsFlow_->handleUninstallResult(app, moved, failures, bundleURL);
}

void AppState::revealApp(const InstalledApp& app) {
    services_.revealInFileViewer(app.url(), true);
}

void AppState::openApp(const InstalledApp& app) {
    if (services_.openApplication) {
        services_.openApplication(app.url());
    }
}

// ---- Helpers ----

void AppState::logEvent(AnalyticsEvent event, std::optional<sdk::Value::Dictionary> parameters) {
    if (services_.logEvent) {
        services_.logEvent(event, std::move(parameters));
    }
}

void AppState::runInBackground(std::function<void()> work) {
    work_.run(std::move(work));
}

void AppState::releaseInBackground(std::shared_ptr<FileNode> tree) {
    if (tree && tree.use_count() == 1) {
        runInBackground([tree = std::move(tree)]() mutable { tree.reset(); });
    }
}

void AppState::releaseInBackground(std::unique_ptr<FileNode> subtree) {
    releaseInBackground(std::shared_ptr<FileNode>(std::move(subtree)));
}

std::string_view rawValue(AppState::Mode mode) {
    switch (mode) {
        case AppState::Mode::folder:
            return "folder";
        case AppState::Mode::apps:
            return "apps";
    }
    return "folder";
}

std::optional<AppState::Mode> modeFromRawValue(std::string_view raw) {
    for (AppState::Mode mode : AppState::kAllModes) {
        if (rawValue(mode) == raw) {
            return mode;
        }
    }
    return std::nullopt;
}

}  // namespace cb
