#pragma once

#include <QImage>
#include <QSize>

namespace cb {

// The soft shadow under a dialog card: the card's rounded rectangle in black, blurred. Qt
// widgets have no shadow of their own that can be faded and scaled with the card, so the overlay
// paints this image under the card itself.

// Returns the shadow of a card of `cardSize` with corner `cornerRadius`, blurred with a Gaussian
// of standard deviation about `blurRadius` / 2 (three box passes). The image is larger than the
// card by shadowMargin(blurRadius) on every side; its pixels are black with the shadow's alpha
// (premultiplied), fully opaque in the card's middle. An empty size gives a null image.
QImage cardShadow(QSize cardSize, double cornerRadius, double blurRadius);

// The space the blur spreads beyond the card on each side.
int shadowMargin(double blurRadius);

}  // namespace cb
