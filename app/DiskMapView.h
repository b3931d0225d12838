#pragma once

#include <QWidget>
#include <cstdint>

class QHBoxLayout;
class QLabel;
class QToolButton;
class QVariantAnimation;
class QVBoxLayout;

namespace cb {

class AppState;
class BreadcrumbView;
class DetailsPanel;
class SpinningSymbol;
class FDABanner;
class FileNode;
class LocalizationManager;
class SunburstView;
class TooltipView;

// The folder mode's chart screen, shown while the phase is ready and a focus is set: the toolbar
// (new scan, Up, breadcrumb, refresh, sizes), the Full Disk Access banner while it is due, and
// the sunburst chart with its hover tooltip beside the details panel.
//
// It reads everything from AppState and follows its change signals; every action ends in an
// AppState operation or field. Focus changes made here (drill-in, breadcrumb, Up) are animated
// with the focus spring; focus changes from elsewhere (a finished scan, a delete) are not.
//
// Node pointers: the chart, breadcrumb and panel keep non-owning pointers into the tree.
// AppState moves or clears focus and hovered before freeing a node, and signals rootChanged
// after the tree shrinks; this view hands the new values to its children on each of those
// signals, before the next event can reach them.
class DiskMapView : public QWidget {
    Q_OBJECT

  public:
    // `state` and `loc` must outlive the view. REQUIRES: called on the UI thread.
    DiskMapView(AppState& state, LocalizationManager& loc, QWidget* parent = nullptr);

    // Sets the focus to `node` with the focus animation, as drill-in, breadcrumb and Up do.
    void changeFocusAnimated(FileNode* node);

    // The New scan button: stops any scan and returns to the welcome screen without a tree.
    void startOver();

    // The parts of the screen, owned by it; for the window's tests.
    QToolButton* newScanButton() const { return newScan_; }
    QToolButton* upButton() const { return up_; }
    QToolButton* refreshButton() const { return refresh_; }
    QLabel* fileSizesLabel() const { return fileSizes_; }
    QLabel* infoSymbol() const { return info_; }
    QLabel* capacityLabel() const { return capacity_; }
    SunburstView* chart() const { return chart_; }
    DetailsPanel* details() const { return details_; }
    BreadcrumbView* breadcrumb() const { return breadcrumb_; }
    TooltipView* tooltip() const { return tooltip_; }
    FDABanner* banner() const { return banner_; }  // null while no banner is due

    // The refresh symbol's current rotation in degrees (0 at rest).
    double refreshRotation() const;

    // True when the focused node's size exceeds the used space of `capacity` (total - rawFree,
    // taken as 0 when negative), when the info symbol is shown.
    static bool exceedsUsedSpace(int64_t focusSize, int64_t total, int64_t rawFree);

  private:
    QWidget* buildToolbar();
    QWidget* buildSizes(QWidget* parent);
    QWidget* buildChartArea();
    void wireDetails();
    QToolButton* toolButton(const char* name, const char* symbol, QWidget* parent);
    void connectState();
    void showFocus(bool animated);
    void showHovered();
    void fadeTooltip(bool visible);
    void showSizes();
    void showBanner();
    void showRefreshing();
    void placeTooltip();
    void retranslate();
    bool eventFilter(QObject* watched, QEvent* event) override;

    AppState& state_;
    LocalizationManager& loc_;
    bool animateNextFocus_ = false;
    const FileNode* tooltipNode_ = nullptr;  // compared only, never dereferenced
    int64_t bannerCount_ = 0;                // the count the shown banner was built with

    // Children, owned by this widget.
    QVBoxLayout* column_ = nullptr;
    QToolButton* newScan_ = nullptr;
    QToolButton* up_ = nullptr;
    BreadcrumbView* breadcrumb_ = nullptr;
    QToolButton* refresh_ = nullptr;
    QLabel* fileSizes_ = nullptr;
    QLabel* info_ = nullptr;
    QLabel* bullet_ = nullptr;
    QLabel* capacity_ = nullptr;
    FDABanner* banner_ = nullptr;
    QWidget* chartArea_ = nullptr;
    SunburstView* chart_ = nullptr;
    TooltipView* tooltip_ = nullptr;
    DetailsPanel* details_ = nullptr;
    SpinningSymbol* spin_ = nullptr;
    QVariantAnimation* tooltipFade_ = nullptr;
};

}  // namespace cb
