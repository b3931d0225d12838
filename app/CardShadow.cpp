#include "app/CardShadow.h"

#include <QPainter>
#include <QPainterPath>
#include <algorithm>
#include <cmath>
#include <vector>

namespace cb {

namespace {

// One box-blur pass of `radius` over `count` values spaced `stride` apart, starting at `first`.
// Outside the run the values count as 0 (the shadow fades into nothing).
void boxPass(std::vector<int>& alpha, int first, int count, int stride, int radius,
             std::vector<int>& scratch) {
    scratch.assign(count, 0);
    const int window = 2 * radius + 1;
    long sum = 0;
    for (int i = 0; i <= radius && i < count; ++i) {
        sum += alpha[first + i * stride];
    }
    for (int i = 0; i < count; ++i) {
        scratch[i] = static_cast<int>(sum / window);
        const int entering = i + radius + 1;
        const int leaving = i - radius;
        if (entering < count) {
            sum += alpha[first + entering * stride];
        }
        if (leaving >= 0) {
            sum -= alpha[first + leaving * stride];
        }
    }
    for (int i = 0; i < count; ++i) {
        alpha[first + i * stride] = scratch[i];
    }
}

}  // namespace

int shadowMargin(double blurRadius) {
    return static_cast<int>(std::ceil(std::max(blurRadius, 0.0) * 1.5));
}

QImage cardShadow(QSize cardSize, double cornerRadius, double blurRadius) {
    if (cardSize.isEmpty()) {
        return {};
    }
    const int margin = shadowMargin(blurRadius);
    QImage image(cardSize + QSize(2 * margin, 2 * margin), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        QPainterPath card;
        card.addRoundedRect(QRectF(QPointF(margin, margin), cardSize), cornerRadius, cornerRadius);
        painter.fillPath(card, Qt::black);
    }
    const int width = image.width();
    const int height = image.height();
    std::vector<int> alpha(static_cast<size_t>(width) * height);
    for (int y = 0; y < height; ++y) {
        const QRgb* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = 0; x < width; ++x) {
            alpha[static_cast<size_t>(y) * width + x] = qAlpha(line[x]);
        }
    }
    // Three box passes of this radius approximate a Gaussian of sigma = blurRadius / 2.
    const double sigma = std::max(blurRadius, 0.0) / 2;
    const int box = static_cast<int>(std::lround((std::sqrt(4 * sigma * sigma + 1) - 1) / 2));
    std::vector<int> scratch;
    for (int pass = 0; pass < 3 && box > 0; ++pass) {
        for (int y = 0; y < height; ++y) {
            boxPass(alpha, y * width, width, 1, box, scratch);
        }
        for (int x = 0; x < width; ++x) {
            boxPass(alpha, x, height, width, box, scratch);
        }
    }
    for (int y = 0; y < height; ++y) {
        QRgb* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < width; ++x) {
            line[x] = qRgba(0, 0, 0, alpha[static_cast<size_t>(y) * width + x]);
        }
    }
    return image;
}

}  // namespace cb
