#pragma once

#include <QPointer>
#include <QString>
#include <QWidget>
#include <memory>
#include <vector>

#include "app/uninstaller/AppSort.h"
#include "app/uninstaller/InstalledApp.h"
#include "app/uninstaller/views/AppRowView.h"

class QComboBox;
class QGraphicsOpacityEffect;
class QVariantAnimation;
class QLabel;
class QLineEdit;
class QListView;
class QMenu;
class QStackedWidget;
class QToolButton;

namespace cb {

class AppDetailPanel;
class AppListModel;
class AppState;
class LocalizationManager;
class SpinningSymbol;

// The screen of the apps mode: a searchable, sortable list of the installed applications and,
// while one is selected, its detail panel at the right.
//
// Header: the search field, the sort menu (five orders, rebuilt on a language change) and the
// reload button, whose arrow turns while a listing runs. Body: the loading view while a listing
// runs with an empty list, else the list (also when a finished listing found nothing). The list
// shows state.apps() filtered by the search and sorted by the chosen order, recomputed whenever
// the applications, their sizes or the choices change; only rows near the visible area are drawn.
//
// Coming into view with an empty list and no listing running starts a listing. Clicking a row
// selects it and starts its related-file search; the trash button (on the hovered row), the
// context menu's "Uninstall…" and the panel's button make the uninstall request. The selection
// is kept while its application is in state.apps() (a search may hide it) and dropped when it
// leaves (a reload, an uninstall).
class AppsView : public QWidget {
    Q_OBJECT

  public:
    static constexpr int kSortMenuWidth = 180;

    // `state` and `loc` must outlive the view. REQUIRES: UI thread.
    AppsView(AppState& state, LocalizationManager& loc, QWidget* parent = nullptr);
    ~AppsView() override;

    // The applications of `apps` that match `search` (spaces and tabs around it ignored, letter
    // case ignored, anywhere in the name or the bundle identifier), in the order `sort`.
    static std::vector<std::shared_ptr<InstalledApp>> visibleApps(
        const std::vector<std::shared_ptr<InstalledApp>>& apps, const QString& search,
        AppSort sort);

    QString search() const;
    void setSearch(const QString& text);
    AppSort sort() const { return sort_; }
    void setSort(AppSort sort);
    const std::shared_ptr<InstalledApp>& selected() const { return selected_; }

    // The row actions for `app`.
    void select(const std::shared_ptr<InstalledApp>& app);
    void requestUninstall(const std::shared_ptr<InstalledApp>& app);
    void reveal(const std::shared_ptr<InstalledApp>& app);
    void open(const std::shared_ptr<InstalledApp>& app);

    // The reload button's action: cancels the apps task, empties the list and lists again.
    void reload();

    // The context menu of `app`'s row: "Show in Finder", "Open", a separator, "Uninstall…".
    std::unique_ptr<QMenu> contextMenu(const std::shared_ptr<InstalledApp>& app);

    // The tooltip at `at` in the list's viewport: "Uninstall application" over the trash button
    // of the hovered row, else none.
    QString toolTipAt(const QPoint& at) const;

    // The time the last-opened texts count from (the clock by default).
    void setClock(AppRowView::Clock now);

    // Parts, for tests and the window.
    QListView* listView() const { return list_; }
    AppListModel* model() const { return model_; }
    AppRowView* rowView() const { return rows_; }
    // The panel of the selected application (also while it slides in), or null.
    AppDetailPanel* detailPanel() const { return panel_; }
    QComboBox* sortMenu() const { return sortMenu_; }
    QToolButton* reloadButton() const { return reload_; }
    bool isSpinning() const;
    bool isLoadingViewShown() const;
    // True while the detail panel slides in or out.
    bool isPanelMoving() const;

  protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    QWidget* buildListColumn();
    QWidget* buildHeader();
    QWidget* buildLoadingView();
    QListView* buildList();
    QWidget* buildPanelArea();
    void connectState();
    void refillSortMenu();
    void refreshTexts();
    void refreshList();
    void refreshBody();
    void keepSelectionValid();
    void showPanel();
    void slidePanel(bool in);
    void applyPanelSlide(double progress);
    void finishPanelSlide();
    void setHovered(const QUuid& id);
    bool handleListMouse(QEvent* event);

    AppState& state_;
    LocalizationManager& loc_;
    AppSort sort_ = AppSort::sizeDesc;
    std::shared_ptr<InstalledApp> selected_;

    QLineEdit* searchField_ = nullptr;
    QComboBox* sortMenu_ = nullptr;
    QToolButton* reload_ = nullptr;
    SpinningSymbol* spin_ = nullptr;
    QStackedWidget* body_ = nullptr;
    QWidget* loadingView_ = nullptr;
    QLabel* loadingText_ = nullptr;
    QListView* list_ = nullptr;
    AppListModel* model_ = nullptr;
    AppRowView* rows_ = nullptr;
    QWidget* panelArea_ = nullptr;
    AppDetailPanel* panel_ = nullptr;  // null while closed or closing
    QPointer<AppDetailPanel> leavingPanel_;
    QVariantAnimation* panelSlide_ = nullptr;
    QGraphicsOpacityEffect* panelFade_ = nullptr;
};

}  // namespace cb
