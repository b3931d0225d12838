#pragma once

#include <QHash>
#include <QUuid>
#include <QWidget>
#include <filesystem>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

#include "app/uninstaller/InstalledApp.h"
#include "app/uninstaller/RelatedCategory.h"
#include "app/uninstaller/RelatedFile.h"

class QCheckBox;
class QLabel;
class QPushButton;
class QScrollArea;
class QVBoxLayout;

namespace cb {

class LocalizationManager;

// The question asked before an application goes to the Trash, 540 wide: a header (icon, title,
// identifier, version, the chosen size), a warning while the application runs, the list of items
// (the bundle, then the related files grouped by category, each with a checkbox; a spinner row
// while the search runs), and Cancel (Escape), Quit (while running) and Move to Trash (Return,
// only while enabled). It draws no card of its own and moves nothing: the buttons call the
// window's callbacks.
//
// Design notes
// ------------
// The choices live in the dialog and start fresh with each one made (one per presentation):
//   bundleChecked   true at start
//   relatedChecked  per RelatedFile.id; seeded at start with !isShared for every file, and each
//                   time relatedLoaded changes, for files that have no entry yet (entries the
//                   user changed stay)
//   runningStatus   asked at start, at each Move to Trash press and 800 ms after each Quit; it
//                   does not follow the application by itself
// A file without an entry is chosen unless it is shared. The derived values (selectedURLs,
// selectedSize, sections) are computed afresh on every use.
//
// Move to Trash is enabled exactly while something is chosen, the search has delivered and the
// application was not running at the last check. Everything runs on the UI thread; the re-check
// after Quit is a single-shot timer whose context is the dialog, so a closed dialog gets no call.
class AppUninstallDialog : public QWidget {
    Q_OBJECT

  public:
    static constexpr int kWidth = 540;
    static constexpr int kListMaxHeight = 260;
    static constexpr int kQuitRecheckMs = 800;

    // One group of the list: a category and its files in display order.
    using Section = std::pair<RelatedCategory, std::vector<RelatedFile>>;

    // Builds the dialog for `app` and seeds its choices and running state. `onConfirm` receives
    // the chosen URLs. `loc` and `workspace` must outlive the dialog; a language change relabels
    // it. REQUIRES: app is non-null; called on the UI thread.
    AppUninstallDialog(std::shared_ptr<InstalledApp> app, std::function<void()> onCancel,
                       std::function<void(std::vector<std::filesystem::path>)> onConfirm,
                       LocalizationManager& loc,
                       platform::Workspace& workspace = platform::Workspace::shared(),
                       QWidget* parent = nullptr);

    const std::shared_ptr<InstalledApp>& app() const { return app_; }

    // The chosen items: the bundle first when chosen, then the chosen related files in the
    // order of app().related().
    std::vector<std::filesystem::path> selectedURLs() const;

    // The bundle's size when chosen plus the size of each chosen related file (saturating).
    int64_t selectedSize() const;

    // The related files grouped by category, in category declaration order; each group largest
    // first, equal sizes in search order. Categories without files are left out.
    std::vector<Section> sections() const;

    // The Move to Trash action: asks whether the application runs; calls onConfirm with
    // selectedURLs() unless the search has not delivered, the application runs or nothing is
    // chosen.
    void confirmUninstall();

    // The Quit action: asks the first running instance of the application (lowest pid) to quit,
    // then checks once more after kQuitRecheckMs.
    void quitRunningApp();

    bool bundleChecked() const { return bundleChecked_; }
    bool runningStatus() const { return runningStatus_; }

    // Whether `file` is chosen: its entry when it has one, else !isShared.
    bool isChosen(const RelatedFile& file) const;

    // Records the user's choice for the file with `id` (what its checkbox does).
    void setRelatedChecked(const QUuid& id, bool checked);

    // The bundle's checkbox action.
    void setBundleChecked(bool checked);

  private:
    QWidget* buildHeader();
    QWidget* buildWarning();
    QWidget* buildFooter();
    void rebuildList();
    QWidget* bundleRow(QWidget* parent);
    QWidget* searchingRow(QWidget* parent);
    QWidget* groupBlock(const Section& section, QWidget* parent);
    QWidget* fileRow(const RelatedFile& file, QWidget* parent);
    void seedMissingChoices();
    void setRunningStatus(bool running);
    void refreshTexts();
    void refreshChoice();

    const std::shared_ptr<InstalledApp> app_;
    std::function<void()> onCancel_;
    std::function<void(std::vector<std::filesystem::path>)> onConfirm_;
    LocalizationManager& loc_;
    platform::Workspace& workspace_;

    bool bundleChecked_ = true;
    QHash<QUuid, bool> relatedChecked_;
    bool runningStatus_ = false;

    // Children, owned by this widget.
    QLabel* title_ = nullptr;
    QLabel* totalSize_ = nullptr;
    QWidget* warning_ = nullptr;
    QLabel* runningTitle_ = nullptr;
    QLabel* runningHelp_ = nullptr;
    QScrollArea* list_ = nullptr;
    QPushButton* cancel_ = nullptr;
    QPushButton* quit_ = nullptr;
    QPushButton* confirm_ = nullptr;
};

}  // namespace cb
