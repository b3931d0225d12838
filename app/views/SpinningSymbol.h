#pragma once

#include <QObject>

class QAbstractButton;
class QVariantAnimation;

namespace cb {

// Turns a button's symbol about its centre: once per 0.9 s, linearly and without end, while
// spinning; back to rest with a short ease when stopped, ending upright and in the enabled text
// colour however short the turn was. The button's icon is redrawn for every step from the symbol
// table in the button's enabled text colour (the icon itself dims while the button is disabled).
class SpinningSymbol : public QObject {
    Q_OBJECT

  public:
    // `button` owns this object's lifetime through its parent chain. REQUIRES: UI thread.
    SpinningSymbol(QAbstractButton* button, const char* symbol, int size);

    // Starts or stops the turning; the same value again restarts nothing.
    void setSpinning(bool spinning);
    bool isSpinning() const { return spinning_; }

    // The current angle, in degrees (0 at rest).
    double rotation() const { return rotation_; }

  private:
    void setRotation(double degrees);

    QAbstractButton* button_;
    const char* symbol_;
    int size_;
    QVariantAnimation* animation_;
    bool spinning_ = false;
    double rotation_ = 0;
};

}  // namespace cb
