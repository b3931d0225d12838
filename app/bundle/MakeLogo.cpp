// Draws the welcome screen's logo, "main_logo.png": a rounded tile with a small disk map on it,
// a centre disc and two rings of coloured arcs. Run by the build:
//   cb_make_logo <output.png>
// Only QImage and QPainter are used (no text), so no application object is needed.

#include <QColor>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <cstdio>

namespace {

constexpr int kSize = 512;
constexpr double kCentre = kSize / 2.0;

// Adds the annular sector between `inner` and `outer` radii from `start` to `end` (degrees,
// clockwise from 12 o'clock) to `painter` in `color`.
void paintArc(QPainter& painter, double inner, double outer, double start, double end,
              const QColor& color) {
    const auto toQt = [](double degrees) { return 90.0 - degrees; };
    QPainterPath path;
    const QRectF outerBox(kCentre - outer, kCentre - outer, 2 * outer, 2 * outer);
    const QRectF innerBox(kCentre - inner, kCentre - inner, 2 * inner, 2 * inner);
    path.arcMoveTo(outerBox, toQt(start));
    path.arcTo(outerBox, toQt(start), -(end - start));
    path.arcTo(innerBox, toQt(end), end - start);
    path.closeSubpath();
    painter.fillPath(path, color);
    painter.strokePath(path, QPen(QColor(255, 255, 255, 230), 5));
}

void paintTile(QPainter& painter) {
    QLinearGradient tile(0, 0, 0, kSize);
    tile.setColorAt(0, QColor(0x2b, 0x3a, 0x67));
    tile.setColorAt(1, QColor(0x16, 0x1d, 0x38));
    QPainterPath shape;
    shape.addRoundedRect(QRectF(16, 16, kSize - 32, kSize - 32), 112, 112);
    painter.fillPath(shape, tile);
}

void paintRings(QPainter& painter) {
    // Top-level shares of the inner ring, and how each splits on the outer ring.
    const double shares[] = {0.34, 0.22, 0.18, 0.12, 0.08};
    const double hues[] = {0.58, 0.08, 0.36, 0.88, 0.15};
    double start = 0;
    for (int i = 0; i < 5; ++i) {
        const double end = start + shares[i] * 360.0;
        const QColor inner = QColor::fromHsvF(hues[i], 0.55, 0.95);
        paintArc(painter, 70, 140, start, end, inner);
        // The outer ring: two children of each arc, the first larger, a gap after them.
        const double split = start + (end - start) * 0.6;
        const double stop = start + (end - start) * (i % 2 == 0 ? 0.9 : 0.8);
        const QColor outer = QColor::fromHsvF(hues[i], 0.5, 0.91);
        paintArc(painter, 140, 200, start, split, outer);
        paintArc(painter, 140, 200, split, stop, outer.lighter(108));
        start = end;
    }
    painter.setBrush(QColor(255, 255, 255, 240));
    painter.setPen(Qt::NoPen);
    painter.drawEllipse(QPointF(kCentre, kCentre), 58, 58);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: cb_make_logo <output.png>\n");
        return 2;
    }
    QImage image(kSize, kSize, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        paintTile(painter);
        paintRings(painter);
    }
    if (!image.save(QString::fromLocal8Bit(argv[1]), "PNG")) {
        std::fprintf(stderr, "cb_make_logo: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
