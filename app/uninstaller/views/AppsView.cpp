#include "app/uninstaller/views/AppsView.h"

#include <QComboBox>
#include <QGraphicsOpacityEffect>
#include <QHBoxLayout>
#include <QHelpEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QMouseEvent>
#include <QProgressBar>
#include <QStackedWidget>
#include <QToolButton>
#include <QToolTip>
#include <QVBoxLayout>
#include <QVariantAnimation>

#include "app/AppState.h"
#include "app/localization/LocalizationManager.h"
#include "app/uninstaller/views/AppDetailPanel.h"
#include "app/uninstaller/views/AppListModel.h"
#include "app/uninstaller/views/AppsDivider.h"
#include "app/views/ScreenStyle.h"
#include "app/views/SpinningSymbol.h"

namespace cb {

namespace {

constexpr int kPanelTrailingPadding = 14;
constexpr int kPanelSlideMs = 200;
constexpr int kLoadingBarWidth = 112;
constexpr int kLoadingBarHeight = 10;

// The sort menu's text key of each order.
const char* sortKey(AppSort sort) {
    switch (sort) {
        case AppSort::sizeDesc:
            return "apps.sizeDesc";
        case AppSort::sizeAsc:
            return "apps.sizeAsc";
        case AppSort::nameAsc:
            return "apps.nameAsc";
        case AppSort::nameDesc:
            return "apps.nameDesc";
        case AppSort::lastOpened:
            return "apps.lastOpened";
    }
    return "apps.sizeDesc";
}

// Spaces and tabs count as the space around a search; line breaks do not.
bool isBlank(QChar c) {
    return c == u'\t' || c.category() == QChar::Separator_Space;
}

QString trimmedQuery(const QString& search) {
    qsizetype begin = 0;
    qsizetype end = search.size();
    while (begin < end && isBlank(search[begin])) {
        ++begin;
    }
    while (end > begin && isBlank(search[end - 1])) {
        --end;
    }
    return search.mid(begin, end - begin).toLower();
}

}  // namespace

AppsView::AppsView(AppState& state, LocalizationManager& loc, QWidget* parent)
    : QWidget(parent), state_(state), loc_(loc) {
    setObjectName(QStringLiteral("AppsView"));
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(14);
    row->setAlignment(Qt::AlignTop);

    row->addWidget(buildListColumn(), 1);
    row->addWidget(buildPanelArea());
    panelArea_->hide();
    connectState();
    refreshList();
    refreshBody();
}

QWidget* AppsView::buildListColumn() {
    auto* listColumn = new QWidget(this);
    auto* column = new QVBoxLayout(listColumn);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    column->addWidget(buildHeader());
    column->addWidget(new AppsDivider(0.4, listColumn));
    body_ = new QStackedWidget(listColumn);
    body_->addWidget(buildLoadingView());
    body_->addWidget(buildList());
    column->addWidget(body_, 1);
    return listColumn;
}

QListView* AppsView::buildList() {
    model_ = new AppListModel(this);
    rows_ = new AppRowView(
        loc_, [] { return std::chrono::system_clock::now(); }, this);
    list_ = new QListView(body_);
    list_->setObjectName(QStringLiteral("appList"));
    list_->setModel(model_);
    list_->setItemDelegate(rows_);
    list_->setFrameShape(QFrame::NoFrame);
    list_->setUniformItemSizes(true);
    list_->setResizeMode(QListView::Adjust);
    list_->setSelectionMode(QAbstractItemView::NoSelection);
    list_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    list_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    list_->setMouseTracking(true);
    list_->setContextMenuPolicy(Qt::CustomContextMenu);
    list_->viewport()->installEventFilter(this);
    list_->viewport()->setAutoFillBackground(false);
    connect(list_, &QListView::customContextMenuRequested, this, [this](const QPoint& at) {
        if (std::shared_ptr<InstalledApp> app = model_->sharedAppAt(list_->indexAt(at))) {
            contextMenu(app)->exec(list_->viewport()->mapToGlobal(at));
        }
    });
    return list_;
}

QWidget* AppsView::buildPanelArea() {
    panelArea_ = new QWidget(this);
    auto* panelLayout = new QVBoxLayout(panelArea_);
    panelLayout->setContentsMargins(0, 14, kPanelTrailingPadding, 14);
    // The panel enters from the trailing edge and fades in (and the reverse), while the list
    // column gives up its width, over 0.2 s.
    panelFade_ = new QGraphicsOpacityEffect(panelArea_);
    panelArea_->setGraphicsEffect(panelFade_);
    panelSlide_ = new QVariantAnimation(this);
    panelSlide_->setDuration(kPanelSlideMs);
    panelSlide_->setEasingCurve(QEasingCurve::InOutQuad);
    connect(panelSlide_, &QVariantAnimation::valueChanged, this,
            [this](const QVariant& value) { applyPanelSlide(value.toDouble()); });
    connect(panelSlide_, &QVariantAnimation::finished, this, &AppsView::finishPanelSlide);
    return panelArea_;
}

void AppsView::connectState() {
    connect(&state_, &AppState::appsChanged, this, [this] {
        keepSelectionValid();
        refreshList();
        refreshBody();
    });
    connect(&state_, &AppState::appsLoadingChanged, this, &AppsView::refreshBody);
    connect(&state_, &AppState::changed, this, &AppsView::refreshList);
    loc_.observeCurrent(this, [this](Language) { refreshTexts(); });
}

AppsView::~AppsView() = default;

QWidget* AppsView::buildHeader() {
    auto* header = new QWidget(this);
    auto* row = new QHBoxLayout(header);
    row->setContentsMargins(18, 10, 18, 10);
    row->setSpacing(10);
    row->addWidget(
        style::symbolLabel("magnifyingglass", 14, style::secondaryText(palette()), header));
    searchField_ = new QLineEdit(header);
    searchField_->setObjectName(QStringLiteral("search"));
    searchField_->setFrame(false);
    searchField_->setFont(style::systemFont(13));
    searchField_->setAttribute(Qt::WA_MacShowFocusRect, false);
    searchField_->setStyleSheet(QStringLiteral("QLineEdit { background: transparent; }"));
    connect(searchField_, &QLineEdit::textChanged, this, &AppsView::refreshList);
    row->addWidget(searchField_, 1);
    sortMenu_ = new QComboBox(header);
    sortMenu_->setObjectName(QStringLiteral("sort"));
    sortMenu_->setFixedWidth(kSortMenuWidth);
    connect(sortMenu_, &QComboBox::activated, this, [this](int index) {
        if (index >= 0 && static_cast<size_t>(index) < kAllAppSorts.size()) {
            setSort(kAllAppSorts[static_cast<size_t>(index)]);
        }
    });
    row->addWidget(sortMenu_);
    reload_ = new QToolButton(header);
    reload_->setObjectName(QStringLiteral("reload"));
    reload_->setAutoRaise(true);
    spin_ = new SpinningSymbol(reload_, "arrow.clockwise", 16);
    connect(reload_, &QToolButton::clicked, this, &AppsView::reload);
    row->addWidget(reload_);
    return header;
}

QWidget* AppsView::buildLoadingView() {
    loadingView_ = new QWidget(this);
    loadingView_->setObjectName(QStringLiteral("loadingView"));
    auto* column = new QVBoxLayout(loadingView_);
    column->setSpacing(10);
    column->addStretch(1);
    // The platform's indeterminate indicator, at 1.2 times its usual size.
    auto* progress = new QProgressBar(loadingView_);
    progress->setRange(0, 0);
    progress->setTextVisible(false);
    progress->setFixedSize(kLoadingBarWidth, kLoadingBarHeight);
    column->addWidget(progress, 0, Qt::AlignHCenter);
    loadingText_ = new QLabel(loadingView_);
    loadingText_->setObjectName(QStringLiteral("loadingText"));
    loadingText_->setFont(style::systemFont(12));
    style::setTextColor(loadingText_, style::secondaryText(palette()));
    column->addWidget(loadingText_, 0, Qt::AlignHCenter);
    column->addStretch(1);
    return loadingView_;
}

void AppsView::refreshTexts() {
    searchField_->setPlaceholderText(loc_.qtext("apps.search"));
    reload_->setToolTip(loc_.qtext("apps.reload"));
    loadingText_->setText(loc_.qtext("apps.loading"));
    refillSortMenu();
    list_->viewport()->update();  // the last-opened texts
}

void AppsView::refillSortMenu() {
    sortMenu_->clear();
    for (AppSort sort : kAllAppSorts) {
        sortMenu_->addItem(loc_.qtext(sortKey(sort)), QString::fromUtf8(rawValue(sort)));
    }
    sortMenu_->setCurrentIndex(static_cast<int>(sort_));
}

std::vector<std::shared_ptr<InstalledApp>> AppsView::visibleApps(
    const std::vector<std::shared_ptr<InstalledApp>>& apps, const QString& search, AppSort sort) {
    const QString query = trimmedQuery(search);
    if (query.isEmpty()) {
        return sortedApps(apps, sort);
    }
    std::vector<std::shared_ptr<InstalledApp>> candidates;
    for (const std::shared_ptr<InstalledApp>& app : apps) {
        if (QString::fromStdString(app->name()).toLower().contains(query) ||
            QString::fromStdString(app->bundleID()).toLower().contains(query)) {
            candidates.push_back(app);
        }
    }
    return sortedApps(candidates, sort);
}

QString AppsView::search() const {
    return searchField_->text();
}

void AppsView::setSearch(const QString& text) {
    searchField_->setText(text);
}

void AppsView::setSort(AppSort sort) {
    sort_ = sort;
    sortMenu_->setCurrentIndex(static_cast<int>(sort));
    refreshList();
}

void AppsView::setClock(AppRowView::Clock now) {
    auto* rows = new AppRowView(loc_, std::move(now), this);
    rows->setHovered(rows_->hovered());
    list_->setItemDelegate(rows);
    rows_->deleteLater();
    rows_ = rows;
    rows_->setSelected(selected_ ? selected_->id() : QUuid());
}

void AppsView::refreshList() {
    model_->setApps(visibleApps(state_.apps(), searchField_->text(), sort_));
}

void AppsView::refreshBody() {
    const bool loading = state_.appsLoading();
    body_->setCurrentWidget(loading && state_.apps().empty() ? loadingView_
                                                             : static_cast<QWidget*>(list_));
    reload_->setEnabled(!loading);
    spin_->setSpinning(loading);
}

bool AppsView::isSpinning() const {
    return spin_->isSpinning();
}

bool AppsView::isLoadingViewShown() const {
    return body_->currentWidget() == loadingView_;
}

void AppsView::keepSelectionValid() {
    if (!selected_) {
        return;
    }
    const auto& apps = state_.apps();
    const bool present = std::any_of(
        apps.begin(), apps.end(), [this](const auto& app) { return app->id() == selected_->id(); });
    if (!present) {
        selected_.reset();
        showPanel();
    }
}

void AppsView::select(const std::shared_ptr<InstalledApp>& app) {
    selected_ = app;
    showPanel();
    state_.loadRelated(app);
}

void AppsView::requestUninstall(const std::shared_ptr<InstalledApp>& app) {
    state_.requestUninstall(app);
}

void AppsView::reveal(const std::shared_ptr<InstalledApp>& app) {
    state_.revealApp(*app);
}

void AppsView::open(const std::shared_ptr<InstalledApp>& app) {
    state_.openApp(*app);
}

void AppsView::reload() {
    if (state_.appsTask()) {
        state_.appsTask()->cancel();
    }
    state_.setApps({});
    state_.setAppsLoading(false);
    state_.loadApps();
}

std::unique_ptr<QMenu> AppsView::contextMenu(const std::shared_ptr<InstalledApp>& app) {
    auto menu = std::make_unique<QMenu>(this);
    menu->addAction(loc_.qtext("menu.revealInFinder"), this, [this, app] { reveal(app); });
    menu->addAction(loc_.qtext("menu.open"), this, [this, app] { open(app); });
    menu->addSeparator();
    QAction* uninstall = menu->addAction(loc_.qtext("menu.uninstallEllipsis"), this,
                                         [this, app] { requestUninstall(app); });
    uninstall->setObjectName(QStringLiteral("uninstall"));
    return menu;
}

void AppsView::showPanel() {
    rows_->setSelected(selected_ ? selected_->id() : QUuid());
    list_->viewport()->update();
    if (!selected_) {
        if (panel_ != nullptr) {
            // The leaving panel slides out; it is dropped once the area is closed.
            leavingPanel_ = panel_;
            panel_ = nullptr;
            slidePanel(false);
        }
        return;
    }
    if (panel_ != nullptr) {
        panel_->setApp(selected_);
        return;
    }
    delete leavingPanel_;
    panel_ = new AppDetailPanel(selected_, loc_, panelArea_);
    panelArea_->layout()->addWidget(panel_);
    panel_->setOnDelete([this] {
        if (selected_) {
            requestUninstall(selected_);
        }
    });
    panel_->setOnReveal([this] {
        if (selected_) {
            reveal(selected_);
        }
    });
    panelArea_->show();
    slidePanel(true);
}

void AppsView::slidePanel(bool in) {
    const int full = AppDetailPanel::kWidth + kPanelTrailingPadding;
    const double from = panelSlide_->state() == QAbstractAnimation::Running
                            ? panelSlide_->currentValue().toDouble()
                            : (in ? 0.0 : 1.0);
    panelSlide_->stop();
    panelArea_->setMaximumWidth(static_cast<int>(from * full));
    panelSlide_->setStartValue(from);
    panelSlide_->setEndValue(in ? 1.0 : 0.0);
    panelSlide_->start();
}

void AppsView::applyPanelSlide(double progress) {
    const int full = AppDetailPanel::kWidth + kPanelTrailingPadding;
    panelArea_->setMaximumWidth(static_cast<int>(progress * full));
    panelFade_->setOpacity(progress);
}

void AppsView::finishPanelSlide() {
    if (panel_ == nullptr) {
        delete leavingPanel_;
        panelArea_->hide();
    }
}

bool AppsView::isPanelMoving() const {
    return panelSlide_->state() == QAbstractAnimation::Running;
}

void AppsView::setHovered(const QUuid& id) {
    if (rows_->hovered() == id) {
        return;
    }
    rows_->setHovered(id);
    list_->viewport()->update();
}

void AppsView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (state_.apps().empty() && !state_.appsLoading()) {
        state_.loadApps();
    }
}

bool AppsView::eventFilter(QObject* watched, QEvent* event) {
    if (watched == list_->viewport() && handleListMouse(event)) {
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

QString AppsView::toolTipAt(const QPoint& at) const {
    const QModelIndex index = list_->indexAt(at);
    const InstalledApp* app = model_->appAt(index);
    if (app == nullptr || rows_->hovered() != app->id() ||
        !AppRowView::trashRect(list_->visualRect(index)).contains(at)) {
        return {};
    }
    return loc_.qtext("apps.deleteHelp");
}

bool AppsView::handleListMouse(QEvent* event) {
    switch (event->type()) {
        case QEvent::MouseMove: {
            const QPoint at = static_cast<QMouseEvent*>(event)->position().toPoint();
            InstalledApp* app = model_->appAt(list_->indexAt(at));
            setHovered(app != nullptr ? app->id() : QUuid());
            return false;
        }
        case QEvent::Leave:
            setHovered({});
            return false;
        case QEvent::ToolTip: {
            auto* help = static_cast<QHelpEvent*>(event);
            const QString text = toolTipAt(help->pos());
            if (text.isEmpty()) {
                QToolTip::hideText();
            } else {
                QToolTip::showText(help->globalPos(), text, list_->viewport());
            }
            return true;
        }
        case QEvent::MouseButtonRelease: {
            auto* mouse = static_cast<QMouseEvent*>(event);
            if (mouse->button() != Qt::LeftButton) {
                return false;
            }
            const QPoint at = mouse->position().toPoint();
            const QModelIndex index = list_->indexAt(at);
            std::shared_ptr<InstalledApp> app = model_->sharedAppAt(index);
            if (!app) {
                return false;
            }
            const bool onTrash = rows_->hovered() == app->id() &&
                                 AppRowView::trashRect(list_->visualRect(index)).contains(at);
            if (onTrash) {
                requestUninstall(app);
            } else {
                select(app);
            }
            return true;
        }
        default:
            return false;
    }
}

}  // namespace cb
