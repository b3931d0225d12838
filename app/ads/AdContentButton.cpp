#include "app/ads/AdContentButton.h"

namespace cb {

AdContentButton::AdContentButton(Ad ad, QWidget* parent)
    : QAbstractButton(parent), ad_(std::move(ad)) {
    setFocusPolicy(Qt::NoFocus);
    setToolTip(ad_.link.toString(QUrl::FullyEncoded));
}

std::optional<QUrl> AdContentButton::imageURL() const {
    if (const auto* text = std::get_if<AdText>(&ad_.content)) {
        return text->iconURL;
    }
    return std::get<AdBanner>(ad_.content).imageURL;
}

void AdContentButton::setImage(QImage image) {
    image_ = std::move(image);
    update();
}

}  // namespace cb
