#pragma once

#include <QPixmap>
#include <QWidget>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>

class QLabel;
class QPushButton;

namespace cb {

class LocalizationManager;

// The start screen of the folder mode: the logo, the program's name and tagline, the three ways
// to start a scan (entire Mac, home folder, a chosen folder; Ctrl+O chooses a folder while the
// screen is shown), a button to reclaim local snapshots when there are any, and a privacy note.
// It holds no logic: every action is given by the window.
class WelcomeView : public QWidget {
  public:
    // Room left and right of a plain scan button's icon and label.
    static constexpr int kButtonPadding = 12;

    // Builds the screen. The actions run on the UI thread, once per press.
    // `localSnapshotCount` and `thinning` are AppState's last published values. `loc` must
    // outlive the view; its language changes relabel the screen.
    WelcomeView(std::function<void()> onScanEntireMac, std::function<void()> onScanHome,
                std::function<void()> onPickFolder, int64_t localSnapshotCount, bool thinning,
                std::function<void()> onThinSnapshots, LocalizationManager& loc,
                QWidget* parent = nullptr);

    // Shows a newly published snapshot count: the snapshot button is present only above 0.
    void setLocalSnapshotCount(int64_t count);

    // Disables the snapshot button while snapshots are being thinned.
    void setThinning(bool thinning);

    // The logo image: "main_logo.png" in `resourcesFolder` when it exists and loads as an
    // image, else the application's icon (a null pixmap when the application has none).
    static QPixmap logoFrom(const std::optional<std::filesystem::path>& resourcesFolder);

  private:
    QWidget* buildScanButtons();
    void showSnapshotState();
    void retranslate();

    std::function<void()> onScanEntireMac_;
    std::function<void()> onScanHome_;
    std::function<void()> onPickFolder_;
    int64_t localSnapshotCount_;
    bool thinning_;
    std::function<void()> onThinSnapshots_;
    LocalizationManager& loc_;

    // Children, owned by this widget.
    QLabel* tagline_ = nullptr;
    QPushButton* scanMac_ = nullptr;
    QPushButton* scanHome_ = nullptr;
    QPushButton* pick_ = nullptr;
    QPushButton* thinSnapshots_ = nullptr;
    QLabel* privacy_ = nullptr;
};

}  // namespace cb
