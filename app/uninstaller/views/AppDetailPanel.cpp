#include "app/uninstaller/views/AppDetailPanel.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>

#include "app/localization/LocalizationManager.h"
#include "app/uninstaller/RelatedFileGroups.h"
#include "app/uninstaller/views/AppsDivider.h"
#include "app/views/MiddleElidedLabel.h"
#include "app/views/ScreenStyle.h"
#include "app/views/SymbolIcons.h"

namespace cb {

namespace {

constexpr int kRadius = 14;
constexpr int kIconSize = 56;
// The thin material: the window colour, a little translucent.
constexpr double kMaterialOpacity = 0.85;

// A box with a rounded background of radius 6 in the secondary colour at 6 %.
class BreakdownRow : public QWidget {
  public:
    using QWidget::QWidget;

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(style::withOpacity(style::secondaryText(palette()), 0.06));
        painter.drawRoundedRect(QRectF(rect()), 6, 6);
    }
};

// style::textLabel() with an object name, by which tests find it.
QLabel* textLabel(const QString& text, const QFont& font, const QColor& color, const QString& name,
                  QWidget* parent) {
    QLabel* label = style::textLabel(font, color, parent, text);
    label->setObjectName(name);
    return label;
}

}  // namespace

AppDetailPanel::AppDetailPanel(std::shared_ptr<InstalledApp> app, LocalizationManager& loc,
                               QWidget* parent)
    : QWidget(parent), loc_(loc) {
    setObjectName(QStringLiteral("AppDetailPanel"));
    setFixedWidth(kWidth);
    setAttribute(Qt::WA_TranslucentBackground);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    buildHeader(column);
    column->addWidget(new AppsDivider(1.0, this));
    scroll_ = new QScrollArea(this);
    scroll_->setObjectName(QStringLiteral("breakdown"));
    scroll_->setFrameShape(QFrame::NoFrame);
    scroll_->setWidgetResizable(true);
    scroll_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll_->viewport()->setAutoFillBackground(false);
    column->addWidget(scroll_, 1);
    column->addWidget(new AppsDivider(1.0, this));
    buildFooter(column);
    setApp(std::move(app));
    loc_.observeCurrent(this, [this](Language) { refresh(); });
}

void AppDetailPanel::buildHeader(QVBoxLayout* column) {
    auto* header = new QWidget(this);
    auto* row = new QHBoxLayout(header);
    row->setContentsMargins(14, 14, 14, 14);
    row->setSpacing(12);
    icon_ = new QLabel(header);
    icon_->setObjectName(QStringLiteral("icon"));
    icon_->setFixedSize(kIconSize, kIconSize);
    icon_->setScaledContents(true);
    row->addWidget(icon_);
    auto* texts = new QVBoxLayout;
    texts->setSpacing(2);
    const QColor secondary = style::secondaryText(palette());
    name_ = textLabel({}, style::systemFont(15, QFont::DemiBold),
                      palette().color(QPalette::WindowText), QStringLiteral("name"), header);
    version_ = textLabel({}, style::systemFont(11), secondary, QStringLiteral("version"), header);
    bundleID_ = new MiddleElidedLabel(1, false, header);
    bundleID_->setObjectName(QStringLiteral("bundleID"));
    bundleID_->setFont(style::monospacedFont(10));
    style::setTextColor(bundleID_, secondary);
    texts->addWidget(name_);
    texts->addWidget(version_);
    texts->addWidget(bundleID_);
    row->addLayout(texts, 1);
    column->addWidget(header);
}

void AppDetailPanel::buildFooter(QVBoxLayout* column) {
    auto* footer = new QWidget(this);
    auto* row = new QHBoxLayout(footer);
    row->setContentsMargins(12, 12, 12, 12);
    reveal_ = new QPushButton(footer);
    reveal_->setObjectName(QStringLiteral("reveal"));
    reveal_->setIcon(symbolIcon("folder", 14, palette().color(QPalette::ButtonText)));
    style::styleButton(reveal_, style::ButtonLook::standard, style::ControlSize::regular);
    uninstall_ = new QPushButton(footer);
    uninstall_->setObjectName(QStringLiteral("uninstall"));
    uninstall_->setIcon(symbolIcon("trash", 14, Qt::white));
    style::styleButton(uninstall_, style::ButtonLook::destructive, style::ControlSize::regular);
    row->addWidget(reveal_);
    row->addStretch(1);
    row->addWidget(uninstall_);
    connect(reveal_, &QPushButton::clicked, this, [this] {
        if (onReveal_) {
            onReveal_();
        }
    });
    connect(uninstall_, &QPushButton::clicked, this, [this] {
        if (onDelete_) {
            onDelete_();
        }
    });
    column->addWidget(footer);
}

void AppDetailPanel::setApp(std::shared_ptr<InstalledApp> app) {
    for (const QMetaObject::Connection& connection : appConnections_) {
        disconnect(connection);
    }
    appConnections_.clear();
    app_ = std::move(app);
    const InstalledApp* shown = app_.get();
    for (auto signal : {&InstalledApp::bundleSizeChanged, &InstalledApp::relatedChanged,
                        &InstalledApp::relatedLoadedChanged}) {
        appConnections_ << connect(shown, signal, this, &AppDetailPanel::rebuildBreakdown);
    }
    const QImage& image = app_->icon();
    icon_->setPixmap(
        image.isNull()
            ? symbolPixmap("app", kIconSize, style::secondaryText(palette()), devicePixelRatioF())
            : QPixmap::fromImage(image));
    name_->setText(QString::fromStdString(app_->name()));
    version_->setVisible(app_->version().has_value());
    version_->setText(app_->version()
                          ? QStringLiteral("v") + QString::fromStdString(*app_->version())
                          : QString());
    bundleID_->setFullText(QString::fromStdString(app_->bundleID()));
    refresh();
}

void AppDetailPanel::refresh() {
    refreshTexts();
    rebuildBreakdown();
}

void AppDetailPanel::refreshTexts() {
    reveal_->setText(loc_.qtext("menu.revealInFinderShort"));
    uninstall_->setText(loc_.qtext("menu.uninstallEllipsis"));
}

void AppDetailPanel::rebuildBreakdown() {
    auto* content = new QWidget;
    content->setObjectName(QStringLiteral("breakdownContent"));
    content->setAutoFillBackground(false);
    auto* list = new QVBoxLayout(content);
    list->setContentsMargins(10, 10, 10, 10);
    list->setSpacing(6);
    const QColor secondary = style::secondaryText(palette());

    auto* header = new QWidget(content);
    auto* headerRow = new QHBoxLayout(header);
    headerRow->setContentsMargins(10, 4, 10, 2);
    headerRow->addWidget(textLabel(loc_.qtext("apps.breakdown"),
                                   style::systemFont(11, QFont::DemiBold), secondary,
                                   QStringLiteral("breakdownTitle"), header));
    headerRow->addStretch(1);
    headerRow->addWidget(textLabel(style::byteText(app_->totalSize()),
                                   style::roundedFont(11, QFont::DemiBold), secondary,
                                   QStringLiteral("total"), header));
    list->addWidget(header);
    list->addWidget(breakdownRow("app", loc_.qtext("apps.application"), std::nullopt,
                                 app_->bundleSize(), content));

    addRelatedRows(list, content);
    list->addStretch(1);
    scroll_->setWidget(content);  // the old content is deleted
}

void AppDetailPanel::addRelatedRows(QVBoxLayout* list, QWidget* content) const {
    const QColor secondary = style::secondaryText(palette());
    if (!app_->relatedLoaded()) {
        auto* looking = new QWidget(content);
        looking->setObjectName(QStringLiteral("lookingRelated"));
        auto* row = new QHBoxLayout(looking);
        row->setContentsMargins(10, 6, 10, 6);
        row->setSpacing(6);
        auto* spinner = new QProgressBar(looking);
        spinner->setRange(0, 0);
        spinner->setTextVisible(false);
        spinner->setFixedSize(16, 16);
        row->addWidget(spinner);
        row->addWidget(textLabel(loc_.qtext("apps.lookingRelated"), style::systemFont(11),
                                 secondary, QStringLiteral("lookingText"), looking));
        row->addStretch(1);
        list->addWidget(looking);
    } else if (app_->related().empty()) {
        auto* none = textLabel(loc_.qtext("apps.noRelated"), style::systemFont(11), secondary,
                               QStringLiteral("noRelated"), content);
        none->setContentsMargins(10, 6, 10, 6);
        list->addWidget(none);
    } else {
        for (const auto& [category, files] : groupRelatedFilesByCategory(app_->related())) {
            int64_t size = 0;
            for (const RelatedFile& file : files) {
                size = __builtin_add_overflow(size, file.size, &size) ? INT64_MAX : size;
            }
            list->addWidget(breakdownRow(std::string(icon(category)).c_str(),
                                         QString::fromUtf8(rawValue(category)),
                                         static_cast<int64_t>(files.size()), size, content));
        }
    }
}

QWidget* AppDetailPanel::breakdownRow(const char* symbol, const QString& title,
                                      std::optional<int64_t> count, int64_t size,
                                      QWidget* parent) const {
    auto* box = new BreakdownRow(parent);
    box->setObjectName(QStringLiteral("breakdownRow"));
    auto* row = new QHBoxLayout(box);
    row->setContentsMargins(10, 6, 10, 6);
    row->setSpacing(10);
    const QColor secondary = style::secondaryText(palette());
    auto* image =
        style::symbolLabel(symbol, 18, style::withOpacity(style::accent(palette()), 0.8), box);
    row->addWidget(image);
    auto* texts = new QVBoxLayout;
    texts->setSpacing(1);
    texts->addWidget(textLabel(title, style::systemFont(12, QFont::Medium),
                               palette().color(QPalette::WindowText), QStringLiteral("title"),
                               box));
    if (count) {
        const QString word = loc_.qtext(*count == 1 ? "apps.itemOne" : "apps.itemMany");
        texts->addWidget(textLabel(QStringLiteral("%1 %2").arg(*count).arg(word),
                                   style::systemFont(10), secondary, QStringLiteral("count"), box));
    }
    row->addLayout(texts, 1);
    row->addWidget(textLabel(style::byteText(size), style::roundedFont(11, QFont::Medium),
                             secondary, QStringLiteral("size"), box));
    return box;
}

void AppDetailPanel::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF box = QRectF(rect()).adjusted(0.25, 0.25, -0.25, -0.25);
    painter.setPen(QPen(QColor(255, 255, 255, 20), 0.5));
    painter.setBrush(style::withOpacity(palette().color(QPalette::Window), kMaterialOpacity));
    painter.drawRoundedRect(box, kRadius, kRadius);
}

}  // namespace cb
