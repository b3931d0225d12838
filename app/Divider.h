#pragma once

#include <QWidget>

namespace cb {

// A thin horizontal separator line in the separator colour at opacity 0.4, as the window draws
// below its top bar and below the chart's toolbar.
class Divider : public QWidget {
  public:
    // REQUIRES: called on the UI thread.
    explicit Divider(QWidget* parent = nullptr);

  protected:
    void paintEvent(QPaintEvent* event) override;
};

}  // namespace cb
