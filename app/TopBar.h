#pragma once

#include <QWidget>

class QActionGroup;
class QLabel;
class QMenu;
class QToolButton;

namespace cb {

class AppState;
class LocalizationManager;
class ModePicker;

// The bar at the top of the window: the mode picker bound to AppState::mode on the left and the
// interface-language menu on the right. Both follow the current language at once.
class TopBar : public QWidget {
    Q_OBJECT

  public:
    // `state` and `loc` must outlive the bar. REQUIRES: called on the UI thread.
    TopBar(AppState& state, LocalizationManager& loc, QWidget* parent = nullptr);

    // The bar's controls, owned by it.
    ModePicker* modePicker() const { return picker_; }
    QToolButton* languageButton() const { return language_; }
    QMenu* languageMenu() const { return menu_; }

  private:
    QToolButton* buildLanguageButton();
    void showMode();
    void retranslate();

    AppState& state_;
    LocalizationManager& loc_;

    // Children, owned by this widget.
    ModePicker* picker_;
    QToolButton* language_ = nullptr;
    QLabel* languageCode_ = nullptr;
    QMenu* menu_ = nullptr;
    QActionGroup* group_ = nullptr;  // the items of menu_, one per language
};

}  // namespace cb
