#pragma once

#include <QWidget>

namespace cb {

// The background of the main window: the platform's normal window colour behind everything the
// window shows. Linux has no under-window blur material, so the window's own colour stands in
// for the translucent effect; it follows the palette (light or dark) and never changes itself.
class WindowBackground : public QWidget {
  public:
    // REQUIRES: called on the UI thread.
    explicit WindowBackground(QWidget* parent = nullptr);

  protected:
    void paintEvent(QPaintEvent* event) override;
};

}  // namespace cb
