#include "app/views/FDABanner.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

#include "app/localization/LocalizationManager.h"
#include "app/views/ScreenStyle.h"
#include "app/views/SymbolIcons.h"

namespace cb {

FDABanner::FDABanner(int64_t inaccessibleCount, std::function<void()> onOpenSettings,
                     std::function<void()> onDismiss, LocalizationManager& loc, QWidget* parent)
    : QWidget(parent),
      inaccessibleCount_(inaccessibleCount),
      onOpenSettings_(std::move(onOpenSettings)),
      onDismiss_(std::move(onDismiss)),
      loc_(loc) {
    setObjectName(QStringLiteral("FDABanner"));
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(14, 8, 14, 8);
    row->setSpacing(12);
    const int iconPixels = QFontMetrics(style::systemFont(13)).height();
    row->addWidget(
        style::symbolLabel("exclamationmark.lock.fill", iconPixels, style::systemOrange(), this), 0,
        Qt::AlignVCenter);

    auto* texts = new QVBoxLayout;
    texts->setSpacing(1);
    title_ = new QLabel(this);
    title_->setObjectName(QStringLiteral("title"));
    title_->setFont(style::systemFont(12, QFont::DemiBold));
    body_ = new QLabel(this);
    body_->setObjectName(QStringLiteral("body"));
    body_->setFont(style::systemFont(11));
    style::setTextColor(body_, style::secondaryText(palette()));
    texts->addWidget(title_);
    texts->addWidget(body_);
    row->addLayout(texts);
    row->addStretch(1);

    openSettings_ = new QPushButton(this);
    openSettings_->setObjectName(QStringLiteral("openSettings"));
    style::styleButton(openSettings_, style::ButtonLook::standard, style::ControlSize::small);
    connect(openSettings_, &QPushButton::clicked, this, [this] { onOpenSettings_(); });
    row->addWidget(openSettings_, 0, Qt::AlignVCenter);

    auto* close = new QToolButton(this);
    close->setObjectName(QStringLiteral("dismiss"));
    close->setAutoRaise(true);
    close->setIcon(symbolIcon("xmark", 10, style::secondaryText(palette())));
    close->setIconSize(QSize(10, 10));
    close->setStyleSheet(QStringLiteral("QToolButton { border: none; padding: 2px; }"));
    connect(close, &QToolButton::clicked, this, [this] { onDismiss_(); });
    row->addWidget(close, 0, Qt::AlignVCenter);

    loc_.observeCurrent(this, [this](Language) { retranslate(); });
}

void FDABanner::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), style::withOpacity(style::systemOrange(), 0.12));
}

void FDABanner::retranslate() {
    title_->setText(loc_.qformat("fda.banner.title", {inaccessibleCount_}));
    body_->setText(loc_.qtext("fda.banner.body"));
    openSettings_->setText(loc_.qtext("fda.openSettings"));
}

}  // namespace cb
