#include "app/ads/Ad.h"

namespace cb {

std::optional<QUrl> parseURL(std::string_view text) {
    if (text.empty()) {
        return std::nullopt;
    }
    QUrl url(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())), QUrl::StrictMode);
    if (!url.isValid()) {
        return std::nullopt;
    }
    return url;
}

}  // namespace cb
