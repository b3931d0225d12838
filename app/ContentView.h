#pragma once

#include <QPointer>
#include <QWidget>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>

#include "app/AppServices.h"
#include "app/AppState.h"
#include "app/ads/AdService.h"

class QFileDialog;
class QStackedWidget;
class QVBoxLayout;

namespace cb {

class AdBarView;
class AppsView;
class DialogOverlay;
class DiskMapView;
class FileNode;
class LocalizationManager;
class ScanProgressView;
class TopBar;
class WelcomeView;
class WindowAlerts;

// The one view of the main window. It owns the window's AppState and lays out everything the
// user sees: the top bar (mode picker, language menu), a divider, the current mode's content,
// and above that body the dialog overlays and the alerts; below the main area, the house-ad
// bar of the window's own AdService, whose refresh loop starts when the view is first shown.
//
// The folder mode shows one page chosen from the state: the welcome screen in the welcome
// phase, the progress screen while scanning, the disk map once ready with a focus (nothing
// without one). The apps mode shows the one AppsView of the window. Pages are built when they
// appear and dropped when they go; a page that goes away in the middle of its own button press is
// deleted later, once that press has returned.
//
// Overlays, drawn in this order (later above earlier): the Full Disk Access prompt while
// fdaPromptForURL is set, the uninstall permission dialog while permissionPrompt is set (followed
// by its id), the uninstall dialog while uninstallCandidate is set (followed by the application's
// id), the delete confirmation while deleteCandidate is set. Each appears and disappears with
// DialogOverlay's fade and scale; a changed value replaces the dialog.
//
// Besides choosing what to show and wiring actions to AppState, it logs one usage event:
// "mode_switched" with "mode" = the new mode, each time the mode actually changes.
class ContentView : public QWidget {
    Q_OBJECT

  public:
    // What the folder mode shows.
    enum class FolderPage { none, welcome, scanning, diskMap, empty };

    // Builds the window content with its own AppState made from `services` and its own
    // AdService made with `adOptions`. `loc` is the shared LocalizationManager and must outlive
    // the view. REQUIRES: called on the UI thread.
    ContentView(LocalizationManager& loc, AppServices services, QWidget* parent = nullptr,
                AdServiceOptions adOptions = {});

    // Drops every view before the state, so no view outlives the tree it points into.
    ~ContentView() override;

    // The window's state.
    AppState& state() { return *state_; }

    // The window's ad service and the bar that shows its ad.
    AdService& ads() { return *ads_; }
    AdBarView* adBar() const { return adBar_; }

    TopBar* topBar() const { return topBar_; }
    WindowAlerts* alerts() const { return alerts_; }
    FolderPage folderPage() const { return folderPage_; }

    // The current page of the folder mode, or null when it is another one.
    WelcomeView* welcomeView() const;
    ScanProgressView* progressView() const;
    DiskMapView* diskMap() const;

    // The apps mode's screen (built once, shown while the mode is apps).
    AppsView* appsView() const { return appsView_; }

    // The overlays on screen (not yet dismissing), or null.
    DialogOverlay* accessOverlay() const;
    DialogOverlay* deleteOverlay() const;
    DialogOverlay* permissionOverlay() const;
    DialogOverlay* uninstallOverlay() const;

  protected:
    // Starts the ad service's refresh loop each time the view is shown (only the first start
    // does anything).
    void showEvent(QShowEvent* event) override;

  private:
    QWidget* buildBody();
    void connectState();
    FolderPage wantedFolderPage() const;
    void showMode();
    void showFolderPage();
    QWidget* buildFolderPage(FolderPage page);
    QWidget* buildWelcome();
    void showAccessPrompt();
    void showDeleteConfirmation();
    void showPermissionPrompt();
    void showUninstallDialog();
    void restackOverlays();

    LocalizationManager& loc_;
    // Kept apart from the state's copy, for the event this view logs itself.
    std::function<void(AnalyticsEvent, std::optional<sdk::Value::Dictionary>)> logEvent_;
    std::unique_ptr<AppState> state_;
    AppState::Mode shownMode_;

    // Children, owned by this widget.
    QWidget* mainArea_ = nullptr;
    TopBar* topBar_ = nullptr;
    QStackedWidget* modeContent_ = nullptr;
    QWidget* folderArea_ = nullptr;
    QVBoxLayout* folderLayout_ = nullptr;
    AppsView* appsView_ = nullptr;
    QPointer<QWidget> page_;
    FolderPage folderPage_ = FolderPage::none;
    QPointer<DialogOverlay> accessOverlay_;
    std::optional<std::filesystem::path> accessShownFor_;
    QPointer<DialogOverlay> deleteOverlay_;
    const FileNode* deleteShownFor_ = nullptr;  // compared only, never dereferenced
    QPointer<DialogOverlay> permissionOverlay_;
    std::optional<QUuid> permissionShownFor_;
    QPointer<DialogOverlay> uninstallOverlay_;
    std::optional<QUuid> uninstallShownFor_;
    WindowAlerts* alerts_ = nullptr;
    AdService* ads_ = nullptr;
    AdBarView* adBar_ = nullptr;
};

// The folder panel of the pick-folder action: chooses one folder, starts in the home folder,
// shows `message` as its title and `prompt` on its accept button.
std::unique_ptr<QFileDialog> folderPanel(const std::string& message, const std::string& prompt);

// The services of the real window: AppServices::system() with the folder panel, which needs
// Qt Widgets, added.
AppServices windowServices();

}  // namespace cb
