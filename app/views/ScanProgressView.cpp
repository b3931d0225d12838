#include "app/views/ScanProgressView.h"

#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include <cmath>
#include <cstdint>
#include <limits>

#include "app/localization/LocalizationManager.h"
#include "app/views/MiddleElidedLabel.h"
#include "app/views/ScreenStyle.h"

namespace cb {

namespace {

constexpr int kPathMaxWidth = 520;

// An indeterminate circular progress indicator: twelve spokes fading round, turning while shown.
class Spinner : public QWidget {
  public:
    Spinner(int diameter, QWidget* parent) : QWidget(parent) {
        setFixedSize(diameter, diameter);
        timer_.setInterval(80);
        connect(&timer_, &QTimer::timeout, this, [this] {
            step_ = (step_ + 1) % kSpokes;
            update();
        });
    }

  protected:
    void showEvent(QShowEvent*) override { timer_.start(); }
    void hideEvent(QHideEvent*) override { timer_.stop(); }

    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.translate(width() / 2.0, height() / 2.0);
        const double radius = width() / 2.0;
        const QColor base = palette().color(QPalette::WindowText);
        for (int i = 0; i < kSpokes; ++i) {
            const int age = (kSpokes + step_ - i) % kSpokes;
            QPen pen(style::withOpacity(base, 0.85 - 0.06 * age));
            pen.setWidthF(radius * 0.16);
            pen.setCapStyle(Qt::RoundCap);
            painter.setPen(pen);
            painter.save();
            painter.rotate(i * 360.0 / kSpokes);
            painter.drawLine(QPointF(0, -radius * 0.45), QPointF(0, -radius * 0.85));
            painter.restore();
        }
    }

  private:
    static constexpr int kSpokes = 12;
    QTimer timer_;
    int step_ = 0;
};

// Rounds half away from zero into a signed 64-bit count, saturating (NaN gives 0).
int64_t saturatingRound(double value) {
    if (std::isnan(value)) {
        return 0;
    }
    constexpr double kMax = 9.2e18;
    if (value >= kMax) {
        return std::numeric_limits<int64_t>::max();
    }
    if (value <= -kMax) {
        return std::numeric_limits<int64_t>::min();
    }
    return std::llround(value);
}

}  // namespace

ScanProgressView::ScanProgressView(ScanProgress progress, std::function<void()> onCancel,
                                   LocalizationManager& loc, QWidget* parent)
    : QWidget(parent), progress_(std::move(progress)), onCancel_(std::move(onCancel)), loc_(loc) {
    setObjectName(QStringLiteral("ScanProgressView"));
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    const QColor secondary = style::secondaryText(palette());
    const QColor faint = style::withOpacity(secondary, 0.7);

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(30, 30, 30, 30);
    column->setSpacing(18);
    column->addStretch(1);
    // The platform's small circular indicator is 32 across; the screen shows it at 1.4 times.
    column->addWidget(new Spinner(45, this), 0, Qt::AlignHCenter);

    auto* lines = new QVBoxLayout;
    lines->setSpacing(6);
    title_ = style::textLabel(style::roundedFont(17, QFont::DemiBold),
                              palette().color(QPalette::WindowText), this);
    title_->setObjectName(QStringLiteral("title"));
    summary_ = style::textLabel(style::systemFont(13), secondary, this);
    summary_->setObjectName(QStringLiteral("summary"));
    rate_ = style::textLabel(style::roundedFont(11), faint, this);
    rate_->setObjectName(QStringLiteral("rate"));
    for (QLabel* label : {title_, summary_, rate_}) {
        label->setAlignment(Qt::AlignHCenter);
    }
    path_ = new MiddleElidedLabel(1, /*selectable=*/false, this);
    path_->setObjectName(QStringLiteral("path"));
    path_->setFont(style::monospacedFont(11));
    path_->setAlignment(Qt::AlignHCenter);
    path_->setMaximumWidth(kPathMaxWidth);
    style::setTextColor(path_, faint);
    for (QWidget* line : {static_cast<QWidget*>(title_), static_cast<QWidget*>(summary_),
                          static_cast<QWidget*>(rate_), static_cast<QWidget*>(path_)}) {
        lines->addWidget(line, 0, Qt::AlignHCenter);
    }
    column->addLayout(lines);

    cancel_ = new QPushButton(this);
    cancel_->setObjectName(QStringLiteral("cancel"));
    style::styleButton(cancel_, style::ButtonLook::standard, style::ControlSize::regular);
    connect(cancel_, &QPushButton::clicked, this, [this] { onCancel_(); });
    column->addWidget(cancel_, 0, Qt::AlignHCenter);
    column->addStretch(1);

    loc_.observeCurrent(this, [this](Language) { retranslate(); });
}

void ScanProgressView::setProgress(ScanProgress progress) {
    progress_ = std::move(progress);
    showProgress();
}

QString ScanProgressView::rateText(double filesPerSecond) {
    if (!(filesPerSecond >= 1)) {
        return QString();
    }
    return QString::number(saturatingRound(filesPerSecond)) + QStringLiteral(" files/s");
}

void ScanProgressView::showProgress() {
    summary_->setText(style::byteText(progress_.bytesScanned) + QStringLiteral(" • ") +
                      QString::number(progress_.filesScanned) + u' ' + loc_.qtext("apps.itemMany"));
    const QString rate = rateText(progress_.filesPerSecond);
    rate_->setText(rate);
    rate_->setVisible(!rate.isEmpty());
    path_->setFullText(QString::fromStdString(progress_.currentPath));
}

void ScanProgressView::retranslate() {
    title_->setText(loc_.qtext("scan.progress"));
    cancel_->setText(loc_.qtext("common.cancel"));
    showProgress();
}

}  // namespace cb
