#include "app/views/DeleteConfirmDialog.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>

#include "app/disk/FileNode.h"
#include "app/localization/LocalizationManager.h"
#include "app/views/MiddleElidedLabel.h"
#include "app/views/ScreenStyle.h"

namespace cb {

namespace {

constexpr int kWidth = 460;
constexpr int kLabelWidth = 52;

}  // namespace

DeleteConfirmDialog::DeleteConfirmDialog(const FileNode& node, std::function<void()> onCancel,
                                         std::function<void()> onConfirm, LocalizationManager& loc,
                                         QWidget* parent)
    : QWidget(parent),
      facts_(factsOf(node)),
      onCancel_(std::move(onCancel)),
      onConfirm_(std::move(onConfirm)),
      loc_(loc) {
    setObjectName(QStringLiteral("DeleteConfirmDialog"));
    setFixedWidth(kWidth);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(20, 20, 20, 20);
    layout->setSpacing(14);
    layout->addWidget(buildHeader());
    layout->addWidget(buildFacts());
    layout->addWidget(buildButtons());
    style::bindDialogKeys(this, confirm_, cancel_);
    loc_.observeCurrent(this, [this](Language) { retranslate(); });
}

DeleteConfirmDialog::Facts DeleteConfirmDialog::factsOf(const FileNode& node) {
    return Facts{QString::fromStdString(node.name()), QString::fromStdString(node.path()),
                 node.isDirectory(), node.size(), node.fileCount()};
}

QWidget* DeleteConfirmDialog::buildHeader() {
    const style::DialogHeader header = style::dialogHeader("trash.fill", 30, style::systemRed(),
                                                           true, QStringLiteral("body"), this);
    title_ = header.title;
    body_ = header.body;
    return header.widget;
}

QWidget* DeleteConfirmDialog::buildFacts() {
    auto* box = new style::RoundedBox(this);
    box->setObjectName(QStringLiteral("facts"));
    auto* column = new QVBoxLayout(box);
    column->setContentsMargins(10, 10, 10, 10);
    column->setSpacing(6);
    addFactRow(box, "delete.name", facts_.name, false);
    addFactRow(box, "delete.path", facts_.path, true);
    addFactRow(box, "delete.size", style::byteText(facts_.size), false);
    if (facts_.isDirectory) {
        addFactRow(box, "delete.count", QString::number(facts_.fileCount), false);
    }
    return box;
}

void DeleteConfirmDialog::addFactRow(QWidget* box, const char* key, const QString& value,
                                     bool monospaced) {
    auto* label = new QLabel(box);
    label->setObjectName(QStringLiteral("label:") + QLatin1String(key));
    label->setFont(style::systemFont(11));
    label->setFixedWidth(kLabelWidth);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    style::setTextColor(label, style::secondaryText(palette()));

    auto* shown = new MiddleElidedLabel(2, /*selectable=*/true, box);
    shown->setObjectName(QStringLiteral("value:") + QLatin1String(key));
    shown->setFont(monospaced ? style::monospacedFont(11) : style::systemFont(12));
    shown->setFullText(value);
    // The row aligns the first baselines: lower the smaller label by the difference of ascents.
    const int drop = QFontMetrics(shown->font()).ascent() - QFontMetrics(label->font()).ascent();
    label->setContentsMargins(0, std::max(drop, 0), 0, 0);

    auto* row = new QHBoxLayout;
    row->setSpacing(10);
    row->addWidget(label, 0, Qt::AlignTop);
    row->addWidget(shown, 0, Qt::AlignTop);
    row->addStretch(1);
    static_cast<QVBoxLayout*>(box->layout())->addLayout(row);
    rows_.append(FactRow{key, label, shown});
}

QWidget* DeleteConfirmDialog::buildButtons() {
    auto* buttons = new QWidget(this);
    auto* row = new QHBoxLayout(buttons);
    row->setContentsMargins(0, 0, 0, 0);
    row->addStretch(1);
    cancel_ = new QPushButton(buttons);
    cancel_->setObjectName(QStringLiteral("cancel"));
    style::styleButton(cancel_, style::ButtonLook::standard, style::ControlSize::regular);
    confirm_ = new QPushButton(buttons);
    confirm_->setObjectName(QStringLiteral("confirm"));
    style::styleButton(confirm_, style::ButtonLook::destructive, style::ControlSize::regular);
    row->addWidget(cancel_);
    row->addWidget(confirm_);
    QObject::connect(cancel_, &QPushButton::clicked, this, [this] { onCancel_(); });
    QObject::connect(confirm_, &QPushButton::clicked, this, [this] { onConfirm_(); });
    return buttons;
}

void DeleteConfirmDialog::retranslate() {
    title_->setText(loc_.qtext("delete.title"));
    body_->setText(loc_.qtext(facts_.isDirectory ? "delete.bodyDir" : "delete.bodyFile"));
    for (const FactRow& row : rows_) {
        row.label->setText(loc_.qtext(row.key));
    }
    cancel_->setText(loc_.qtext("common.cancel"));
    confirm_->setText(loc_.qtext("delete.confirm"));
}

}  // namespace cb
