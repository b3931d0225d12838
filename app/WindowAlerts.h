#pragma once

#include <QMessageBox>
#include <QObject>
#include <QPointer>
#include <QPushButton>

class QWidget;

namespace cb {

class AppState;
class LocalizationManager;

// The window's three alerts, each a window-modal message box opened while its AppState field
// is set and closed when it is cleared:
//   - delete failure ("delete.failed"), while errorMessage is set; "OK" clears it;
//   - snapshot confirmation ("snapshots.confirm.title"), while confirmThinSnapshots is true;
//     "common.cancel" clears it, "snapshots.confirm.action" calls thinSnapshots();
//   - snapshot result ("snapshots.result.title"), while thinResultMessage is set; "OK" clears it.
// However an alert is closed (a button, Escape, closing it), its field is cleared, so it does
// not come back. Titles, messages and keyed buttons follow the interface language while shown;
// each box is wide enough for its whole title.
class WindowAlerts : public QObject {
    Q_OBJECT

  public:
    // Watches `state`; the boxes are children of `host`, modal to its window. `state`, `loc`
    // and `host` must outlive this object.
    WindowAlerts(AppState& state, LocalizationManager& loc, QWidget* host);

    // The open boxes, or null.
    QMessageBox* errorAlert() const { return error_; }
    QMessageBox* confirmAlert() const { return confirm_; }
    QMessageBox* resultAlert() const { return result_; }

    // The "Reclaim" button of the open confirmation, or null.
    QPushButton* reclaimButton() const { return reclaim_; }
    QPushButton* cancelButton() const { return cancel_; }

    // Room a title bar takes besides its title: margins and the window buttons.
    static constexpr int kTitleBarControls = 120;

  private:
    static void setTitle(QMessageBox* box, const QString& title);
    QMessageBox* openBox(const char* name);
    static void closeBox(QPointer<QMessageBox>& box);
    void showError();
    void showConfirm();
    void showResult();
    void retranslate();

    AppState& state_;
    LocalizationManager& loc_;
    QWidget* host_;
    QPointer<QMessageBox> error_;
    QPointer<QMessageBox> confirm_;
    QPointer<QMessageBox> result_;
    QPointer<QPushButton> reclaim_;
    QPointer<QPushButton> cancel_;
};

}  // namespace cb
