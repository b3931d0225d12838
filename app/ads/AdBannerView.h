#pragma once

#include "app/ads/AdContentButton.h"

namespace cb {

// A banner ad: the full width and exactly kHeight high, whatever size the ad declares. It fills
// with the secondary colour at 0.06 and, once loaded, draws the image scaled to fit inside (its
// proportions kept, never cropped), centred. Its accessible name is the ad's "alt", or "".
class AdBannerView : public AdContentButton {
    Q_OBJECT

  public:
    static constexpr int kHeight = 128;
    static constexpr double kFillOpacity = 0.06;

    // REQUIRES: `ad` is a banner ad; called on the UI thread.
    explicit AdBannerView(Ad ad, QWidget* parent = nullptr);

    // Where the image is drawn at the current size; empty while there is none.
    QRectF imageRect() const;

    QSize sizeHint() const override;

  protected:
    void paintEvent(QPaintEvent* event) override;
};

}  // namespace cb
