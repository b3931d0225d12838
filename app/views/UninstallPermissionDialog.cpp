#include "app/views/UninstallPermissionDialog.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QToolButton>
#include <QVBoxLayout>

#include "app/localization/LocalizationManager.h"
#include "app/views/MiddleElidedLabel.h"
#include "app/views/ScreenStyle.h"

namespace cb {

namespace {

constexpr int kWidth = 480;
constexpr int kListMaxHeight = 90;

// An 11 px secondary label that wraps.
QLabel* wrappingNote(QWidget* parent) {
    QLabel* label =
        style::textLabel(style::systemFont(11), style::secondaryText(parent->palette()), parent);
    label->setWordWrap(true);
    return label;
}

}  // namespace

UninstallPermissionDialog::UninstallPermissionDialog(AppState::UninstallPermissionPrompt prompt,
                                                     std::function<void()> onOpenAppManagement,
                                                     std::function<void()> onOpenFullDiskAccess,
                                                     std::function<void()> onDismiss,
                                                     LocalizationManager& loc, QWidget* parent)
    : QWidget(parent),
      prompt_(std::move(prompt)),
      onOpenAppManagement_(std::move(onOpenAppManagement)),
      onOpenFullDiskAccess_(std::move(onOpenFullDiskAccess)),
      onDismiss_(std::move(onDismiss)),
      loc_(loc) {
    setObjectName(QStringLiteral("UninstallPermissionDialog"));
    setFixedWidth(kWidth);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(20, 20, 20, 20);
    column->setSpacing(14);
    column->addWidget(buildHeader());
    if (prompt_.succeededCount > 0) {
        summary_ = wrappingNote(this);
        summary_->setObjectName(QStringLiteral("summary"));
        column->addWidget(summary_);
    }
    if (prompt_.needsAppManagement || prompt_.needsFullDiskAccess) {
        column->addWidget(buildCards());
    }
    column->addWidget(buildFailedList());
    hint_ = wrappingNote(this);
    hint_->setObjectName(QStringLiteral("hint"));
    column->addWidget(hint_);
    column->addWidget(buildButtons());
    style::bindDialogKeys(this, close_, nullptr);
    loc_.observeCurrent(this, [this](Language) { retranslate(); });
}

bool UninstallPermissionDialog::isListOpen() const {
    return !list_->isHidden();
}

QWidget* UninstallPermissionDialog::buildHeader() {
    const style::DialogHeader header = style::dialogHeader("lock.shield", 28, style::systemOrange(),
                                                           false, QStringLiteral("subtitle"), this);
    title_ = header.title;
    subtitle_ = header.body;
    return header.widget;
}

QWidget* UninstallPermissionDialog::buildCards() {
    auto* cards = new QWidget(this);
    cards->setObjectName(QStringLiteral("cards"));
    auto* column = new QVBoxLayout(cards);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(10);
    if (prompt_.needsAppManagement) {
        addCard(cards, "card:appMgmt",
                Card{"perm.appMgmt.title", "perm.appMgmt.body", "perm.appMgmt.open", nullptr,
                     nullptr, nullptr},
                &onOpenAppManagement_);
    }
    if (prompt_.needsFullDiskAccess) {
        addCard(cards, "card:fda",
                Card{"perm.fda.title", "perm.fda.body", "perm.fda.open", nullptr, nullptr, nullptr},
                &onOpenFullDiskAccess_);
    }
    return cards;
}

void UninstallPermissionDialog::addCard(QWidget* cards, const char* name, Card card,
                                        std::function<void()>* action) {
    auto* box = new style::RoundedBox(cards);
    box->setObjectName(QLatin1String(name));
    auto* column = new QVBoxLayout(box);
    column->setContentsMargins(10, 10, 10, 10);
    column->setSpacing(6);
    card.title = new QLabel(box);
    card.title->setObjectName(QStringLiteral("title"));
    card.title->setFont(style::systemFont(12, QFont::DemiBold));
    card.body = wrappingNote(box);
    card.body->setObjectName(QStringLiteral("body"));
    card.button = new QPushButton(box);
    card.button->setObjectName(QStringLiteral("open"));
    style::styleButton(card.button, style::ButtonLook::standard, style::ControlSize::small);
    connect(card.button, &QPushButton::clicked, this, [action] { (*action)(); });
    column->addWidget(card.title);
    column->addWidget(card.body);
    column->addWidget(card.button, 0, Qt::AlignLeft);
    cards->layout()->addWidget(box);
    cards_.append(card);
}

QWidget* UninstallPermissionDialog::buildFailedList() {
    auto* group = new QWidget(this);
    auto* column = new QVBoxLayout(group);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(4);
    listToggle_ = new QToolButton(group);
    listToggle_->setObjectName(QStringLiteral("listToggle"));
    listToggle_->setFont(style::systemFont(11));
    listToggle_->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    listToggle_->setAutoRaise(true);
    listToggle_->setCheckable(true);
    listToggle_->setStyleSheet(QStringLiteral("QToolButton { border: none; padding: 1px 0; }"));
    connect(listToggle_, &QToolButton::toggled, this, [this](bool open) { setListOpen(open); });
    column->addWidget(listToggle_, 0, Qt::AlignLeft);

    auto* lines = new QWidget;
    auto* stack = new QVBoxLayout(lines);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->setSpacing(3);
    for (const std::string& path : prompt_.failedPaths) {
        auto* line = new MiddleElidedLabel(1, /*selectable=*/false, lines);
        line->setObjectName(QStringLiteral("failedPath"));
        line->setFont(style::monospacedFont(10));
        style::setTextColor(line, style::secondaryText(palette()));
        line->setFullText(QString::fromStdString(path));
        stack->addWidget(line);
    }
    stack->addStretch(1);
    list_ = new QScrollArea(group);
    list_->setObjectName(QStringLiteral("failedList"));
    list_->setFrameShape(QFrame::NoFrame);
    list_->setWidgetResizable(true);
    list_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    list_->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    list_->setMaximumHeight(kListMaxHeight);
    list_->setWidget(lines);
    list_->viewport()->setAutoFillBackground(false);
    lines->setAutoFillBackground(false);
    column->addWidget(list_);
    setListOpen(false);
    return group;
}

QWidget* UninstallPermissionDialog::buildButtons() {
    auto* buttons = new QWidget(this);
    auto* row = new QHBoxLayout(buttons);
    row->setContentsMargins(0, 0, 0, 0);
    row->addStretch(1);
    close_ = new QPushButton(buttons);
    close_->setObjectName(QStringLiteral("close"));
    style::styleButton(close_, style::ButtonLook::standard, style::ControlSize::regular);
    connect(close_, &QPushButton::clicked, this, [this] { onDismiss_(); });
    row->addWidget(close_);
    return buttons;
}

void UninstallPermissionDialog::setListOpen(bool open) {
    listToggle_->setArrowType(open ? Qt::DownArrow : Qt::RightArrow);
    list_->setVisible(open);
    updateGeometry();
}

void UninstallPermissionDialog::retranslate() {
    title_->setText(loc_.qtext("perm.title"));
    subtitle_->setText(loc_.qtext("delete.failed"));
    if (summary_ != nullptr) {
        const auto remaining = static_cast<int64_t>(prompt_.failedPaths.size());
        summary_->setText(loc_.qformat("perm.summary", {prompt_.succeededCount, remaining}));
    }
    for (const Card& card : cards_) {
        card.title->setText(loc_.qtext(card.titleKey));
        card.body->setText(loc_.qtext(card.bodyKey));
        card.button->setText(loc_.qtext(card.buttonKey));
    }
    listToggle_->setText(loc_.qtext("perm.whatFailed"));
    hint_->setText(loc_.qtext("perm.restartHint"));
    close_->setText(loc_.qtext("perm.close"));
}

}  // namespace cb
