#pragma once

#include <QWidget>

#include <filesystem>
#include <functional>

class QLabel;
class QPushButton;

namespace cb {

class LocalizationManager;
class MiddleElidedLabel;

// The question asked before scanning a location that needs Full Disk Access the program lacks:
// what is wrong, three numbered steps, the held path, and Cancel (Escape), "Continue without
// access" and "Open Settings" (Return). It draws no card of its own and owns no state; the
// window shows it while AppState.fdaPromptForURL is set and wires the actions. "Open Settings"
// never closes it.
class FullDiskAccessPrompt : public QWidget {
  public:
    // Builds the prompt for the held location `url`. The actions run on the UI thread, once per
    // press. `loc` must outlive the prompt; its language changes relabel it.
    FullDiskAccessPrompt(std::filesystem::path url, std::function<void()> onOpenSettings,
                         std::function<void()> onContinueAnyway, std::function<void()> onCancel,
                         LocalizationManager& loc, QWidget* parent = nullptr);

  private:
    QWidget* buildHeader();
    QWidget* buildSteps();
    QWidget* buildButtons();
    void retranslate();

    const std::filesystem::path url_;
    std::function<void()> onOpenSettings_;
    std::function<void()> onContinueAnyway_;
    std::function<void()> onCancel_;
    LocalizationManager& loc_;

    // Children, owned by this widget.
    QLabel* title_ = nullptr;
    QLabel* body_ = nullptr;
    QList<QLabel*> steps_;
    MiddleElidedLabel* path_ = nullptr;
    QPushButton* cancel_ = nullptr;
    QPushButton* continueAnyway_ = nullptr;
    QPushButton* openSettings_ = nullptr;
};

}  // namespace cb
