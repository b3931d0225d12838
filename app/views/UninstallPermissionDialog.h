#pragma once

#include <QWidget>

#include <functional>

#include "app/AppState.h"

class QLabel;
class QPushButton;
class QScrollArea;
class QToolButton;

namespace cb {

class LocalizationManager;

// Shown after an uninstall could not move some items to the Trash because the system refused:
// how many items went and how many remain, a card per missing permission (App Management, then
// Full Disk Access) with a button that opens its settings pane, the paths that could not be
// deleted in a collapsible list, a hint to restart, and "Close" (Return). It draws no card of
// its own. Its only own state is whether the list is open; it starts closed.
class UninstallPermissionDialog : public QWidget {
  public:
    // Builds the dialog for `prompt`. The actions run on the UI thread, once per press; the
    // settings buttons never close the dialog, `onDismiss` is for the window to clear
    // AppState.permissionPrompt. `loc` must outlive the dialog; its language changes relabel it.
    UninstallPermissionDialog(AppState::UninstallPermissionPrompt prompt,
                              std::function<void()> onOpenAppManagement,
                              std::function<void()> onOpenFullDiskAccess,
                              std::function<void()> onDismiss, LocalizationManager& loc,
                              QWidget* parent = nullptr);

    // True while the list of failed paths is open.
    bool isListOpen() const;

  private:
    // The texts of one permission card and the label and button showing them.
    struct Card {
        const char* titleKey;
        const char* bodyKey;
        const char* buttonKey;
        QLabel* title;
        QLabel* body;
        QPushButton* button;
    };

    QWidget* buildHeader();
    QWidget* buildCards();
    void addCard(QWidget* cards, const char* name, Card card, std::function<void()>* action);
    QWidget* buildFailedList();
    QWidget* buildButtons();
    void setListOpen(bool open);
    void retranslate();

    const AppState::UninstallPermissionPrompt prompt_;
    std::function<void()> onOpenAppManagement_;
    std::function<void()> onOpenFullDiskAccess_;
    std::function<void()> onDismiss_;
    LocalizationManager& loc_;

    // Children, owned by this widget; summary_ is null when nothing was deleted.
    QLabel* title_ = nullptr;
    QLabel* subtitle_ = nullptr;
    QLabel* summary_ = nullptr;
    QList<Card> cards_;
    QToolButton* listToggle_ = nullptr;
    QScrollArea* list_ = nullptr;
    QLabel* hint_ = nullptr;
    QPushButton* close_ = nullptr;
};

}  // namespace cb
