#pragma once

#include <QWidget>

namespace cb {

// A one-pixel line across its parent in the separator colour (the text colour at low strength),
// drawn at `opacity` of it: the apps screen uses 0.4 under its header, the panel 1.
class AppsDivider : public QWidget {
  public:
    AppsDivider(double opacity, QWidget* parent = nullptr);

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    double opacity_;
};

}  // namespace cb
