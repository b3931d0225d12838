#include "app/TopBar.h"

#include <QActionGroup>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QToolButton>

#include "app/AppState.h"
#include "app/ModePicker.h"
#include "app/localization/LocalizationManager.h"
#include "app/views/ScreenStyle.h"
#include "app/views/SymbolIcons.h"
#include "app/views/ViewStyle.h"

namespace cb {

namespace {

constexpr int kPickerWidth = 280;

QString qstring(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// A symbol on the language button; clicks go through to the button.
QLabel* buttonSymbol(const char* symbol, int size, const QColor& tint, QWidget* parent) {
    QLabel* label = style::symbolLabel(symbol, size, tint, parent);
    label->setAttribute(Qt::WA_TransparentForMouseEvents);
    return label;
}

}  // namespace

TopBar::TopBar(AppState& state, LocalizationManager& loc, QWidget* parent)
    : QWidget(parent), state_(state), loc_(loc), picker_(new ModePicker(this)) {
    setObjectName(QStringLiteral("TopBar"));
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(18, 10, 18, 10);
    picker_->setFixedWidth(kPickerWidth);
    picker_->setOnSelect(
        [this](int index) { state_.setMode(AppState::kAllModes[static_cast<size_t>(index)]); });
    row->addWidget(picker_, 0, Qt::AlignVCenter);
    row->addStretch(1);
    language_ = buildLanguageButton();
    row->addWidget(language_, 0, Qt::AlignVCenter);

    connect(&state_, &AppState::modeChanged, this, &TopBar::showMode);
    loc_.observeCurrent(this, [this](Language) { retranslate(); });
    showMode();
}

QToolButton* TopBar::buildLanguageButton() {
    auto* button = new QToolButton(this);
    button->setObjectName(QStringLiteral("languageMenu"));
    button->setAutoRaise(true);
    button->setPopupMode(QToolButton::InstantPopup);
    button->setStyleSheet(QStringLiteral(
        "QToolButton { border: none; } QToolButton::menu-indicator { image: none; width: 0; }"));
    const QColor primary = style::primaryText(palette());
    auto* label = new QHBoxLayout(button);
    label->setContentsMargins(8, 4, 8, 4);
    label->setSpacing(4);
    label->addWidget(buttonSymbol("globe", 12, primary, button));
    languageCode_ = new QLabel(button);
    languageCode_->setObjectName(QStringLiteral("languageCode"));
    languageCode_->setFont(style::systemFont(12, QFont::Medium));
    languageCode_->setAttribute(Qt::WA_TransparentForMouseEvents);
    label->addWidget(languageCode_);
    label->addWidget(buttonSymbol("chevron.down", 9, style::secondaryText(palette()), button));
    menu_ = new QMenu(button);
    menu_->setObjectName(QStringLiteral("languageItems"));
    group_ = new QActionGroup(menu_);
    for (Language language : kAllLanguages) {
        QAction* item = menu_->addAction(qstring(nativeName(language)));
        item->setCheckable(true);
        item->setData(qstring(rawValue(language)));
        group_->addAction(item);
        connect(item, &QAction::triggered, this, [this, language] { loc_.setCurrent(language); });
    }
    button->setMenu(menu_);
    return button;
}

void TopBar::showMode() {
    const auto* found =
        std::find(AppState::kAllModes.begin(), AppState::kAllModes.end(), state_.mode());
    picker_->setSelectedIndex(static_cast<int>(found - AppState::kAllModes.begin()));
}

void TopBar::retranslate() {
    picker_->setLabels({loc_.qtext("mode.folder"), loc_.qtext("mode.apps")});
    const Language current = loc_.current();
    languageCode_->setText(qstring(rawValue(current)).toUpper());
    language_->setToolTip(loc_.qtext("language.picker"));
    language_->setMinimumSize(language_->layout()->sizeHint());
    // Only the checkmark moves: the items may be in the middle of their own trigger.
    for (QAction* item : group_->actions()) {
        item->setChecked(item->data().toString() == qstring(rawValue(current)));
    }
}

}  // namespace cb
