#include "app/views/WelcomeView.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QImageReader>
#include <QLabel>
#include <QPushButton>
#include <QShortcut>
#include <QVBoxLayout>
#include <algorithm>

#include "app/localization/LocalizationManager.h"
#include "app/views/ScreenStyle.h"
#include "app/views/SymbolIcons.h"
#include "platform/bundle/Bundle.h"

namespace cb {

namespace {

constexpr int kLogoSize = 160;
constexpr const char* kLeastWidth = "cbLeastWidth";  // a scan button's width before its label

QPushButton* scanButton(const char* name, const char* symbol, int minimumWidth,
                        style::ButtonLook look, QWidget* parent) {
    auto* button = new QPushButton(parent);
    button->setObjectName(QLatin1String(name));
    style::styleButton(button, look, style::ControlSize::large);
    const QColor tint = look == style::ButtonLook::standard
                            ? button->palette().color(QPalette::ButtonText)
                            : QColor(Qt::white);
    button->setIcon(symbolIcon(symbol, 16, tint));
    // The label's minimum width plus the button's own margins; 6 above and below the label.
    button->setProperty(kLeastWidth, minimumWidth + 16);
    button->setMinimumHeight(QFontMetrics(button->font()).height() + 2 * 6 + 8);
    return button;
}

// Gives `button` room around its current label: the platform's plain push button hugs its text,
// which a long translation leaves touching the border.
void padToLabel(QPushButton* button) {
    const int least = button->property(kLeastWidth).toInt();
    button->setMinimumWidth(least);  // so the hint below is the label's, not the last minimum
    button->setMinimumWidth(
        std::max(least, button->sizeHint().width() + 2 * WelcomeView::kButtonPadding));
}

QLabel* logoLabel(QWidget* parent) {
    auto* logo = new QLabel(parent);
    logo->setObjectName(QStringLiteral("logo"));
    logo->setFixedSize(kLogoSize, kLogoSize);
    const QPixmap image = WelcomeView::logoFrom(
        platform::Bundle::main() ? std::optional(platform::Bundle::main()->resourcesPath())
                                 : std::nullopt);
    if (!image.isNull()) {
        const qreal ratio = logo->devicePixelRatioF();
        QPixmap scaled = image.scaled(QSize(kLogoSize, kLogoSize) * ratio, Qt::IgnoreAspectRatio,
                                      Qt::SmoothTransformation);
        scaled.setDevicePixelRatio(ratio);
        logo->setPixmap(scaled);
    }
    return logo;
}

}  // namespace

WelcomeView::WelcomeView(std::function<void()> onScanEntireMac, std::function<void()> onScanHome,
                         std::function<void()> onPickFolder, int64_t localSnapshotCount,
                         bool thinning, std::function<void()> onThinSnapshots,
                         LocalizationManager& loc, QWidget* parent)
    : QWidget(parent),
      onScanEntireMac_(std::move(onScanEntireMac)),
      onScanHome_(std::move(onScanHome)),
      onPickFolder_(std::move(onPickFolder)),
      localSnapshotCount_(localSnapshotCount),
      thinning_(thinning),
      onThinSnapshots_(std::move(onThinSnapshots)),
      loc_(loc) {
    setObjectName(QStringLiteral("WelcomeView"));
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    const QColor secondary = style::secondaryText(palette());
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(40, 40, 40, 40);
    column->setSpacing(28);
    column->addStretch(1);
    column->addWidget(logoLabel(this), 0, Qt::AlignHCenter);

    auto* names = new QVBoxLayout;
    names->setSpacing(8);
    auto* name = new QLabel(QStringLiteral("Cellarbright"), this);
    name->setObjectName(QStringLiteral("name"));
    name->setFont(style::roundedFont(34, QFont::DemiBold));
    tagline_ = new QLabel(this);
    tagline_->setObjectName(QStringLiteral("tagline"));
    tagline_->setFont(style::systemFont(15));
    style::setTextColor(tagline_, secondary);
    names->addWidget(name, 0, Qt::AlignHCenter);
    names->addWidget(tagline_, 0, Qt::AlignHCenter);
    column->addLayout(names);
    column->addWidget(buildScanButtons(), 0, Qt::AlignHCenter);

    thinSnapshots_ = new QPushButton(this);
    thinSnapshots_->setObjectName(QStringLiteral("thinSnapshots"));
    style::styleButton(thinSnapshots_, style::ButtonLook::standard, style::ControlSize::regular);
    thinSnapshots_->setIcon(symbolIcon("clock.arrow.circlepath", 14,
                                       thinSnapshots_->palette().color(QPalette::ButtonText)));
    connect(thinSnapshots_, &QPushButton::clicked, this, [this] { onThinSnapshots_(); });
    column->addWidget(thinSnapshots_, 0, Qt::AlignHCenter);

    privacy_ = new QLabel(this);
    privacy_->setObjectName(QStringLiteral("privacy"));
    privacy_->setFont(style::systemFont(11));
    style::setTextColor(privacy_, style::withOpacity(secondary, 0.7));
    column->addWidget(privacy_, 0, Qt::AlignHCenter);
    column->addStretch(1);

    loc_.observeCurrent(this, [this](Language) { retranslate(); });
}

QWidget* WelcomeView::buildScanButtons() {
    auto* buttons = new QWidget(this);
    auto* row = new QHBoxLayout(buttons);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(12);
    scanMac_ = scanButton("scanMac", "internaldrive", 200, style::ButtonLook::prominent, buttons);
    scanHome_ = scanButton("scanHome", "house", 200, style::ButtonLook::standard, buttons);
    pick_ = scanButton("pick", "folder", 160, style::ButtonLook::standard, buttons);
    // Window-wide, but a shortcut only acts while its widget is shown, that is while the
    // welcome screen is on screen. A QShortcut, because a button's own shortcut is reset by
    // every setText().
    auto* chooseFolder = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_O), this);
    chooseFolder->setContext(Qt::WindowShortcut);
    connect(chooseFolder, &QShortcut::activated, pick_, [this] { pick_->animateClick(); });
    connect(scanMac_, &QPushButton::clicked, this, [this] { onScanEntireMac_(); });
    connect(scanHome_, &QPushButton::clicked, this, [this] { onScanHome_(); });
    connect(pick_, &QPushButton::clicked, this, [this] { onPickFolder_(); });
    for (QPushButton* button : {scanMac_, scanHome_, pick_}) {
        row->addWidget(button, 0, Qt::AlignVCenter);
    }
    return buttons;
}

void WelcomeView::setLocalSnapshotCount(int64_t count) {
    localSnapshotCount_ = count;
    showSnapshotState();
}

void WelcomeView::setThinning(bool thinning) {
    thinning_ = thinning;
    showSnapshotState();
}

QPixmap WelcomeView::logoFrom(const std::optional<std::filesystem::path>& resourcesFolder) {
    if (resourcesFolder) {
        const auto file = *resourcesFolder / "main_logo.png";
        QImageReader reader(QString::fromStdString(file.string()), "png");
        const QImage image = reader.read();
        if (!image.isNull()) {
            return QPixmap::fromImage(image);
        }
    }
    const QIcon icon = QApplication::windowIcon();
    return icon.isNull() ? QPixmap() : icon.pixmap(QSize(kLogoSize, kLogoSize) * 2);
}

void WelcomeView::showSnapshotState() {
    thinSnapshots_->setText(loc_.qformat("welcome.thinSnapshots", {localSnapshotCount_}));
    thinSnapshots_->setEnabled(!thinning_);
    thinSnapshots_->setVisible(localSnapshotCount_ > 0);
}

void WelcomeView::retranslate() {
    tagline_->setText(loc_.qtext("welcome.title"));
    scanMac_->setText(loc_.qtext("welcome.scanMac"));
    scanHome_->setText(loc_.qtext("welcome.scanHome"));
    pick_->setText(loc_.qtext("welcome.pick"));
    // The prominent button's style sheet has its own padding.
    padToLabel(scanHome_);
    padToLabel(pick_);
    thinSnapshots_->setToolTip(loc_.qtext("welcome.thinSnapshots.help"));
    privacy_->setText(loc_.qtext("welcome.privacy"));
    showSnapshotState();
}

}  // namespace cb
