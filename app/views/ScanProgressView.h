#pragma once

#include <QWidget>

#include <functional>

#include "app/disk/ScanProgress.h"

class QLabel;
class QPushButton;

namespace cb {

class LocalizationManager;
class MiddleElidedLabel;

// The screen the folder mode shows while a scan runs: a spinning indicator, the bytes and items
// counted so far, the rate, the path being read and a Cancel button. It keeps no state of its
// own: it shows the last report it was given.
class ScanProgressView : public QWidget {
  public:
    // Builds the screen for `progress`. `onCancel` runs on the UI thread once per press of
    // Cancel. `loc` must outlive the view; its language changes relabel the screen.
    ScanProgressView(ScanProgress progress, std::function<void()> onCancel,
                     LocalizationManager& loc, QWidget* parent = nullptr);

    // Shows `progress` in place of the last report (the window calls this for each report it
    // accepts, at most every 0.08 s).
    void setProgress(ScanProgress progress);

    // The rate line for `filesPerSecond`: the rate rounded half away from zero, then
    // " files/s" ("3 files/s" for 2.5); empty below 1 (and for NaN), when the line is absent.
    static QString rateText(double filesPerSecond);

  private:
    void showProgress();
    void retranslate();

    ScanProgress progress_;
    std::function<void()> onCancel_;
    LocalizationManager& loc_;

    // Children, owned by this widget.
    QLabel* title_ = nullptr;
    QLabel* summary_ = nullptr;
    QLabel* rate_ = nullptr;
    MiddleElidedLabel* path_ = nullptr;
    QPushButton* cancel_ = nullptr;
};

}  // namespace cb
