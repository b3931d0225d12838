#pragma once

#include <QWidget>

#include <cstdint>
#include <functional>

class QLabel;
class QPushButton;

namespace cb {

class LocalizationManager;

// The strip above the disk map after a scan skipped folders it could not read: how many, a hint
// to grant Full Disk Access, "Open Settings" and a close button. It owns no state; the window
// shows it while AppState.needsFullDiskAccess is true and wires the actions.
class FDABanner : public QWidget {
  public:
    // Builds the banner for `inaccessibleCount` skipped folders (the window passes 0 when there
    // is no tree). `onOpenSettings` and `onDismiss` run on the UI thread, once per press.
    // `loc` must outlive the banner; its language changes relabel it.
    FDABanner(int64_t inaccessibleCount, std::function<void()> onOpenSettings,
              std::function<void()> onDismiss, LocalizationManager& loc, QWidget* parent = nullptr);

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    void retranslate();

    const int64_t inaccessibleCount_;
    std::function<void()> onOpenSettings_;
    std::function<void()> onDismiss_;
    LocalizationManager& loc_;

    // Children, owned by this widget.
    QLabel* title_ = nullptr;
    QLabel* body_ = nullptr;
    QPushButton* openSettings_ = nullptr;
};

}  // namespace cb
