#include "app/views/FullDiskAccessPrompt.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/localization/LocalizationManager.h"
#include "app/views/MiddleElidedLabel.h"
#include "app/views/ScreenStyle.h"
#include "app/views/SymbolIcons.h"

namespace cb {

namespace {

constexpr int kWidth = 500;
constexpr const char* kStepKeys[] = {"fda.step.open", "fda.step.toggle", "fda.step.continue"};

// The round badge with a step's number, the icon of each step.
class StepBadge : public QWidget {
  public:
    StepBadge(int number, QWidget* parent) : QWidget(parent), number_(number) {
        setObjectName(QStringLiteral("badge%1").arg(number));
        setFixedSize(18, 18);
    }

    int number() const { return number_; }

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const QColor accent = style::accent(palette());
        painter.setPen(Qt::NoPen);
        painter.setBrush(style::withOpacity(accent, 0.18));
        painter.drawEllipse(QRectF(rect()));
        painter.setPen(accent);
        painter.setFont(style::roundedFont(10, QFont::DemiBold));
        painter.drawText(rect(), Qt::AlignCenter, QString::number(number_));
    }

  private:
    const int number_;
};

}  // namespace

FullDiskAccessPrompt::FullDiskAccessPrompt(std::filesystem::path url,
                                           std::function<void()> onOpenSettings,
                                           std::function<void()> onContinueAnyway,
                                           std::function<void()> onCancel, LocalizationManager& loc,
                                           QWidget* parent)
    : QWidget(parent),
      url_(std::move(url)),
      onOpenSettings_(std::move(onOpenSettings)),
      onContinueAnyway_(std::move(onContinueAnyway)),
      onCancel_(std::move(onCancel)),
      loc_(loc) {
    setObjectName(QStringLiteral("FullDiskAccessPrompt"));
    setFixedWidth(kWidth);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(20, 20, 20, 20);
    column->setSpacing(14);
    column->addWidget(buildHeader());
    column->addWidget(buildSteps());
    path_ = new MiddleElidedLabel(2, /*selectable=*/false, this);
    path_->setObjectName(QStringLiteral("path"));
    path_->setFont(style::monospacedFont(10));
    style::setTextColor(path_, style::secondaryText(palette()));
    column->addWidget(path_);
    column->addWidget(buildButtons());
    style::bindDialogKeys(this, openSettings_, cancel_);
    loc_.observeCurrent(this, [this](Language) { retranslate(); });
}

QWidget* FullDiskAccessPrompt::buildHeader() {
    const style::DialogHeader header = style::dialogHeader(
        "lock.shield.fill", 30, style::accent(palette()), true, QStringLiteral("body"), this);
    title_ = header.title;
    body_ = header.body;
    return header.widget;
}

QWidget* FullDiskAccessPrompt::buildSteps() {
    auto* box = new style::RoundedBox(this);
    box->setObjectName(QStringLiteral("steps"));
    auto* column = new QVBoxLayout(box);
    column->setContentsMargins(10, 10, 10, 10);
    column->setSpacing(8);
    for (int number = 1; number <= 3; ++number) {
        auto* row = new QHBoxLayout;
        row->setSpacing(8);
        row->addWidget(new StepBadge(number, box), 0, Qt::AlignTop);
        auto* text = new QLabel(box);
        text->setObjectName(QStringLiteral("step%1").arg(number));
        text->setFont(style::systemFont(12));
        text->setWordWrap(true);
        steps_.append(text);
        row->addWidget(text, 1);
        column->addLayout(row);
    }
    return box;
}

QWidget* FullDiskAccessPrompt::buildButtons() {
    auto* buttons = new QWidget(this);
    auto* row = new QHBoxLayout(buttons);
    row->setContentsMargins(0, 0, 0, 0);
    cancel_ = new QPushButton(buttons);
    cancel_->setObjectName(QStringLiteral("cancel"));
    style::styleButton(cancel_, style::ButtonLook::standard, style::ControlSize::regular);
    continueAnyway_ = new QPushButton(buttons);
    continueAnyway_->setObjectName(QStringLiteral("continueAnyway"));
    style::styleButton(continueAnyway_, style::ButtonLook::standard, style::ControlSize::regular);
    openSettings_ = new QPushButton(buttons);
    openSettings_->setObjectName(QStringLiteral("openSettings"));
    style::styleButton(openSettings_, style::ButtonLook::prominent, style::ControlSize::regular);
    openSettings_->setIcon(symbolIcon("gearshape", 14, Qt::white));
    row->addWidget(cancel_);
    row->addStretch(1);
    row->addWidget(continueAnyway_);
    row->addWidget(openSettings_);
    connect(cancel_, &QPushButton::clicked, this, [this] { onCancel_(); });
    connect(continueAnyway_, &QPushButton::clicked, this, [this] { onContinueAnyway_(); });
    connect(openSettings_, &QPushButton::clicked, this, [this] { onOpenSettings_(); });
    return buttons;
}

void FullDiskAccessPrompt::retranslate() {
    title_->setText(loc_.qtext("fda.prompt.title"));
    body_->setText(loc_.qtext("fda.prompt.body"));
    for (qsizetype i = 0; i < steps_.size(); ++i) {
        steps_[i]->setText(loc_.qtext(kStepKeys[i]));
    }
    path_->setFullText(loc_.qformat("fda.pathLabel", {url_.string()}));
    cancel_->setText(loc_.qtext("common.cancel"));
    continueAnyway_->setText(loc_.qtext("fda.continueAnyway"));
    openSettings_->setText(loc_.qtext("fda.openSettings"));
}

}  // namespace cb
