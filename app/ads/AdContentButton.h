#pragma once

#include <QAbstractButton>
#include <QImage>
#include <QUrl>
#include <optional>

#include "app/ads/Ad.h"

namespace cb {

// The clickable content of the ad bar: a flat button over its whole rectangle (empty parts
// included) that shows one ad, with the ad's link, fully encoded, as its tooltip. It holds the
// ad it was built for, so a click acts on the ad that was on screen, and the ad's one image once
// it has loaded. Subclasses draw the text row or the banner.
class AdContentButton : public QAbstractButton {
    Q_OBJECT

  public:
    // REQUIRES: called on the UI thread.
    explicit AdContentButton(Ad ad, QWidget* parent = nullptr);

    // The ad shown.
    const Ad& ad() const { return ad_; }

    // The address of the ad's image (the text ad's icon, the banner's picture), or none for a
    // text ad without an icon.
    std::optional<QUrl> imageURL() const;

    // The loaded image, null while loading, after a failure and without an image address.
    const QImage& image() const { return image_; }

    // Shows `image` (a null image keeps the placeholder). Drawn at once.
    void setImage(QImage image);

  private:
    const Ad ad_;
    QImage image_;
};

}  // namespace cb
