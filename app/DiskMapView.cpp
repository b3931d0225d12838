#include "app/DiskMapView.h"

#include <QEvent>
#include <QFrame>
#include <QGraphicsOpacityEffect>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QToolButton>
#include <QVBoxLayout>
#include <QVariantAnimation>
#include <algorithm>

#include "app/AppState.h"
#include "app/Divider.h"
#include "app/disk/FullDiskAccess.h"
#include "app/localization/LocalizationManager.h"
#include "app/views/BreadcrumbView.h"
#include "app/views/DetailsPanel.h"
#include "app/views/FDABanner.h"
#include "app/views/ScreenStyle.h"
#include "app/views/SpinningSymbol.h"
#include "app/views/SunburstView.h"
#include "app/views/SymbolIcons.h"
#include "app/views/TooltipView.h"
#include "app/views/ViewStyle.h"

namespace cb {

namespace {

constexpr int kSymbolSize = 16;
constexpr int kTooltipFadeMs = 200;
constexpr int kTooltipPadding = 16;

}  // namespace

DiskMapView::DiskMapView(AppState& state, LocalizationManager& loc, QWidget* parent)
    : QWidget(parent), state_(state), loc_(loc) {
    setObjectName(QStringLiteral("DiskMapView"));
    column_ = new QVBoxLayout(this);
    column_->setContentsMargins(0, 0, 0, 0);
    column_->setSpacing(0);
    column_->addWidget(buildToolbar());
    // The banner, when due, goes in at index 1, between the toolbar and the divider.
    column_->addWidget(new Divider(this));
    auto* body = new QHBoxLayout;
    body->setSpacing(14);
    body->addWidget(buildChartArea(), 1);
    details_ = new DetailsPanel(loc_, this);
    wireDetails();
    auto* panel = new QVBoxLayout;
    panel->setContentsMargins(0, 14, 14, 14);
    panel->addWidget(details_);
    body->addLayout(panel);
    column_->addLayout(body, 1);

    connectState();
    loc_.observeCurrent(this, [this](Language) { retranslate(); });
    showFocus(false);
    showBanner();
    showRefreshing();
}

QToolButton* DiskMapView::toolButton(const char* name, const char* symbol, QWidget* parent) {
    auto* button = new QToolButton(parent);
    button->setObjectName(QLatin1String(name));
    button->setAutoRaise(true);
    button->setIcon(symbolIcon(symbol, kSymbolSize, style::primaryText(palette())));
    button->setIconSize(QSize(kSymbolSize, kSymbolSize));
    return button;
}

QWidget* DiskMapView::buildToolbar() {
    auto* bar = new QWidget(this);
    bar->setObjectName(QStringLiteral("toolbar"));
    auto* row = new QHBoxLayout(bar);
    row->setContentsMargins(18, 12, 18, 12);
    row->setSpacing(10);
    newScan_ = toolButton("newScan", "sidebar.left", bar);
    connect(newScan_, &QToolButton::clicked, this, [this] { startOver(); });
    up_ = toolButton("up", "chevron.left", bar);
    connect(up_, &QToolButton::clicked, this, [this] {
        if (state_.focus() != nullptr && state_.focus()->parent() != nullptr) {
            changeFocusAnimated(state_.focus()->parent());
        }
    });
    breadcrumb_ = new BreadcrumbView(bar);
    breadcrumb_->setOnSelect([this](FileNode* node) { changeFocusAnimated(node); });
    refresh_ = toolButton("refresh", "arrow.clockwise", bar);
    refresh_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_R));
    connect(refresh_, &QToolButton::clicked, this, [this] { state_.refresh(); });
    spin_ = new SpinningSymbol(refresh_, "arrow.clockwise", kSymbolSize);
    row->addWidget(newScan_);
    row->addWidget(up_);
    row->addWidget(breadcrumb_, 0);
    row->addStretch(1);
    row->addWidget(refresh_);
    row->addWidget(buildSizes(bar));
    return bar;
}

QWidget* DiskMapView::buildSizes(QWidget* parent) {
    auto* group = new QWidget(parent);
    group->setObjectName(QStringLiteral("sizes"));
    auto* row = new QHBoxLayout(group);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(8);
    const QColor secondary = style::secondaryText(palette());
    fileSizes_ = new QLabel(group);
    fileSizes_->setObjectName(QStringLiteral("fileSizes"));
    fileSizes_->setFont(style::roundedFont(13, QFont::DemiBold));
    style::setTextColor(fileSizes_, secondary);
    info_ = new QLabel(group);
    info_->setObjectName(QStringLiteral("infoSymbol"));
    info_->setPixmap(symbolPixmap("info.circle", 13, secondary, devicePixelRatioF()));
    bullet_ = new QLabel(QStringLiteral("\u2022"), group);
    style::setTextColor(bullet_, style::withOpacity(secondary, 0.5));
    capacity_ = new QLabel(group);
    capacity_->setObjectName(QStringLiteral("capacity"));
    capacity_->setFont(style::systemFont(12));
    style::setTextColor(capacity_, secondary);
    for (QWidget* item : {static_cast<QWidget*>(fileSizes_), static_cast<QWidget*>(info_),
                          static_cast<QWidget*>(bullet_), static_cast<QWidget*>(capacity_)}) {
        row->addWidget(item, 0, Qt::AlignVCenter);
    }
    return group;
}

QWidget* DiskMapView::buildChartArea() {
    chartArea_ = new QWidget(this);
    chartArea_->setObjectName(QStringLiteral("chartArea"));
    chartArea_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    auto* layout = new QVBoxLayout(chartArea_);
    layout->setContentsMargins(12, 12, 12, 12);
    chart_ = new SunburstView(loc_, chartArea_);
    layout->addWidget(chart_);
    chart_->setOnHover([this](FileNode* node) { state_.setHovered(node); });
    chart_->setOnDrillIn([this](FileNode* node) { changeFocusAnimated(node); });
    chart_->setOnRequestDelete([this](FileNode* node) { state_.setDeleteCandidate(node); });
    chart_->setOnReveal([this](FileNode* node) {
        if (node != nullptr) {
            state_.revealInFinder(*node);
        }
    });
    tooltip_ = new TooltipView(chartArea_);
    tooltip_->setAttribute(Qt::WA_TransparentForMouseEvents);
    auto* opacity = new QGraphicsOpacityEffect(tooltip_);
    opacity->setOpacity(0);
    tooltip_->setGraphicsEffect(opacity);
    tooltip_->hide();
    tooltipFade_ = new QVariantAnimation(this);
    tooltipFade_->setDuration(kTooltipFadeMs);
    connect(tooltipFade_, &QVariantAnimation::valueChanged, this,
            [opacity](const QVariant& v) { opacity->setOpacity(v.toDouble()); });
    connect(tooltipFade_, &QVariantAnimation::finished, this, [this, opacity] {
        if (opacity->opacity() <= 0) {
            tooltip_->hide();
        }
    });
    chartArea_->installEventFilter(this);
    return chartArea_;
}

void DiskMapView::wireDetails() {
    details_->setOnHover([this](FileNode* node) { state_.setHovered(node); });
    details_->setOnDrillIn([this](FileNode* node) { changeFocusAnimated(node); });
    details_->setOnRequestDelete([this](FileNode* node) { state_.setDeleteCandidate(node); });
    details_->setOnReveal([this](FileNode* node) {
        if (node != nullptr) {
            state_.revealInFinder(*node);
        }
    });
}

void DiskMapView::connectState() {
    connect(&state_, &AppState::focusChanged, this, [this] { showFocus(animateNextFocus_); });
    connect(&state_, &AppState::rootChanged, this, [this] {
        showFocus(false);
        showBanner();
    });
    connect(&state_, &AppState::hoveredChanged, this, &DiskMapView::showHovered);
    connect(&state_, &AppState::volumeCapacityChanged, this, &DiskMapView::showSizes);
    connect(&state_, &AppState::needsFullDiskAccessChanged, this, &DiskMapView::showBanner);
    connect(&state_, &AppState::isRefreshingChanged, this, &DiskMapView::showRefreshing);
}

void DiskMapView::startOver() {
    state_.resetToWelcome();
}

void DiskMapView::changeFocusAnimated(FileNode* node) {
    animateNextFocus_ = true;
    state_.setFocus(node);
    animateNextFocus_ = false;
}

void DiskMapView::showFocus(bool animated) {
    FileNode* focus = state_.focus();
    chart_->setFocusNode(focus, animated ? SunburstView::FocusChange::animated
                                         : SunburstView::FocusChange::immediate);
    details_->setFocusNode(focus);
    breadcrumb_->setFocusNode(focus);
    up_->setEnabled(focus != nullptr && focus->parent() != nullptr);
    tooltipNode_ = nullptr;  // the tree may have changed under the shown node
    showHovered();
    showSizes();
}

void DiskMapView::showHovered() {
    FileNode* hovered = state_.hovered();
    chart_->setHovered(hovered);
    details_->setHovered(hovered);
    if (hovered != nullptr && hovered != tooltipNode_) {
        const FileNode* focus = state_.focus();
        tooltip_->setNode(*hovered, focus != nullptr ? focus->size() : 0);
        placeTooltip();
    }
    tooltipNode_ = hovered;
    fadeTooltip(hovered != nullptr);
}

void DiskMapView::fadeTooltip(bool visible) {
    auto* effect = static_cast<QGraphicsOpacityEffect*>(tooltip_->graphicsEffect());
    const double target = visible ? 1.0 : 0.0;
    if (visible) {
        tooltip_->show();
        tooltip_->raise();
    }
    const bool running = tooltipFade_->state() == QAbstractAnimation::Running;
    if (running && tooltipFade_->endValue().toDouble() == target) {
        return;
    }
    tooltipFade_->stop();
    if (effect->opacity() == target) {
        tooltip_->setVisible(visible);
        return;
    }
    tooltipFade_->setStartValue(effect->opacity());
    tooltipFade_->setEndValue(target);
    tooltipFade_->start();
}

void DiskMapView::placeTooltip() {
    const QMargins shadow = TooltipView::shadowMargins();
    tooltip_->adjustSize();
    tooltip_->move(kTooltipPadding - shadow.left(), kTooltipPadding - shadow.top());
}

bool DiskMapView::exceedsUsedSpace(int64_t focusSize, int64_t total, int64_t rawFree) {
    const int64_t used = std::max<int64_t>(total - rawFree, 0);
    return focusSize > used;
}

void DiskMapView::showSizes() {
    const FileNode* focus = state_.focus();
    const int64_t size = focus != nullptr ? focus->size() : 0;
    fileSizes_->setText(loc_.qformat("toolbar.fileSizes", {style::byteText(size).toStdString()}));
    const auto& capacity = state_.volumeCapacity();
    info_->setVisible(capacity && exceedsUsedSpace(size, capacity->total, capacity->rawFree));
    bullet_->setVisible(capacity.has_value());
    capacity_->setVisible(capacity.has_value());
    if (capacity) {
        capacity_->setText(style::byteText(capacity->free) + QStringLiteral(" / ") +
                           style::byteText(capacity->total));
    }
}

void DiskMapView::showBanner() {
    const bool due = state_.needsFullDiskAccess();
    // Asked only while a banner is due: nothing else on this screen needs the count.
    const int64_t count = due && state_.root() != nullptr ? state_.root()->inaccessibleCount() : 0;
    if (banner_ != nullptr && (!due || bannerCount_ != count)) {
        delete banner_;
        banner_ = nullptr;
    }
    if (due && banner_ == nullptr) {
        banner_ = new FDABanner(
            count, [] { openFullDiskAccessSettings(); },
            [this] { state_.setNeedsFullDiskAccess(false); }, loc_, this);
        bannerCount_ = count;
        column_->insertWidget(1, banner_);
        banner_->show();
    }
}

void DiskMapView::showRefreshing() {
    const bool refreshing = state_.isRefreshing();
    refresh_->setEnabled(!refreshing);
    spin_->setSpinning(refreshing);
}

double DiskMapView::refreshRotation() const {
    return spin_->rotation();
}

bool DiskMapView::eventFilter(QObject* watched, QEvent* event) {
    if (watched == chartArea_ && event->type() == QEvent::Resize && tooltip_->isVisible()) {
        placeTooltip();
    }
    return QWidget::eventFilter(watched, event);
}

void DiskMapView::retranslate() {
    newScan_->setToolTip(loc_.qtext("toolbar.newScan"));
    up_->setToolTip(loc_.qtext("toolbar.up"));
    refresh_->setToolTip(loc_.qtext("toolbar.refresh"));
    const QString help = style::paragraphToolTip(loc_.qtext("toolbar.fileSizesHelp"));
    fileSizes_->setToolTip(help);
    info_->setToolTip(help);
    capacity_->setToolTip(loc_.qtext("toolbar.volumeCapacity"));
    showSizes();
}

}  // namespace cb
