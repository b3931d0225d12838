#include "app/views/SunburstPainter.h"

#include <QFontMetricsF>
#include <QImage>
#include <QPaintEngine>
#include <QPainter>
#include <QPen>
#include <QSemaphore>
#include <QThreadPool>
#include <cmath>

#include "app/disk/FileNode.h"
#include "app/views/ViewStyle.h"

namespace cb {

namespace {

QRectF circleRect(const ChartGeometry& g, double radius) {
    return QRectF(g.centerX - radius, g.centerY - radius, 2 * radius, 2 * radius);
}

QPointF pointAt(const ChartGeometry& g, double angle, double radius) {
    return QPointF(g.centerX + std::sin(angle) * radius, g.centerY - std::cos(angle) * radius);
}

bool isDimmed(const Segment& segment, const Segment* underPointer) {
    return underPointer != nullptr && !isSameOrDescendant(segment.node, underPointer->node);
}

// An arc narrower than a device pixel at its outer edge. Only ring 0 makes these (deeper rings
// drop arcs under 1.2°), and a folder with thousands of small files makes thousands of them:
// painted one by one they cost seconds per frame, while on screen they blend into one band.
bool isThin(const Segment& segment, double pixelRatio) {
    return (segment.endAngle - segment.startAngle) * segment.outerRadius * pixelRatio < 1.0;
}

// Adjacent thin arcs of one ring, painted together as one arc in their mean colour (weighted
// by width), which is what antialiasing would make of them.
class ThinRun {
  public:
    // Adds `segment` when it continues the run (or starts one); false when it does not fit.
    bool add(const Segment& segment, const QColor& fill) {
        if (count_ > 0 && (segment.ring != arc_.ring || segment.startAngle != arc_.endAngle)) {
            return false;
        }
        if (count_ == 0) {
            arc_ = segment;
        }
        arc_.endAngle = segment.endAngle;
        const double w = segment.endAngle - segment.startAngle + 1e-12;
        weight_ += w;
        sum_[0] += fill.redF() * w;
        sum_[1] += fill.greenF() * w;
        sum_[2] += fill.blueF() * w;
        sum_[3] += fill.alphaF() * w;
        ++count_;
        return true;
    }

    // Paints the run, if any, with `paint(segment, colour)` and empties it.
    template <typename Paint>
    void flush(Paint&& paint) {
        if (count_ > 0) {
            paint(arc_, QColor::fromRgbF(static_cast<float>(sum_[0] / weight_),
                                         static_cast<float>(sum_[1] / weight_),
                                         static_cast<float>(sum_[2] / weight_),
                                         static_cast<float>(sum_[3] / weight_)));
        }
        *this = ThinRun();
    }

  private:
    Segment arc_;
    int count_ = 0;
    double weight_ = 0;
    double sum_[4] = {0, 0, 0, 0};
};

void paintCentreDisc(QPainter& painter, const ChartGeometry& g, const SunburstColors& colors) {
    painter.setBrush(style::withOpacity(colors.windowBackground, 0.85));
    painter.setPen(QPen(style::withOpacity(Qt::white, 0.15), 1.0));
    painter.drawEllipse(circleRect(g, g.holeRadius));
}

// Paints the rings and the disc straight onto `painter`, arc by arc.
void paintRings(QPainter& painter, const ChartGeometry& geometry, std::span<const Segment> segments,
                const Segment* underPointer, const SunburstColors& colors) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, true);
    const QPen hairline(style::withOpacity(Qt::white, 0.35), 0.8);
    const QPen highlight(Qt::white, 2.2);
    const double pixelRatio =
        painter.device() != nullptr ? painter.device()->devicePixelRatio() : 1;
    ThinRun run;
    auto paintOne = [&](const Segment& segment, const QColor& fill) {
        const QPainterPath path = segmentPath(segment, geometry);
        painter.fillPath(path, fill);
        painter.strokePath(path, hairline);
    };
    for (const Segment& segment : segments) {
        const bool hovered = underPointer != nullptr && segment.node == underPointer->node;
        const QColor fill = segmentFill(segment, isDimmed(segment, underPointer));
        if (!hovered && isThin(segment, pixelRatio) && run.add(segment, fill)) {
            continue;
        }
        run.flush(paintOne);
        if (!hovered && isThin(segment, pixelRatio)) {
            run.add(segment, fill);
            continue;
        }
        paintOne(segment, fill);
        if (hovered) {
            painter.strokePath(segmentPath(segment, geometry), highlight);
        }
    }
    run.flush(paintOne);
    paintCentreDisc(painter, geometry, colors);
    painter.restore();
}

// Where the chart's square lands on the device: whole device pixels, so the layer is copied
// without resampling, and the painter's translation that puts the chart there with the same
// sub-pixel phase as painting it directly would.
struct ChartLayer {
    QPoint devicePixels;  // the layer's top-left corner on the device
    QSize pixels;
    double pixelRatio = 1;
    QPointF translation;  // chart coordinates to layer coordinates, in points
};

// About 64 MB of layer: a 4K chart at pixel ratio 2.
constexpr int64_t kMaxLayerPixels = int64_t{4096} * 4096;

ChartLayer chartLayer(const ChartGeometry& g, QPointF offset, double pixelRatio) {
    // Strokes reach half a pen width past the outer edge; one more point covers antialiasing.
    const double reach = g.outerRadius + 2;
    const double left = std::floor((g.centerX - reach + offset.x()) * pixelRatio);
    const double top = std::floor((g.centerY - reach + offset.y()) * pixelRatio);
    const double right = std::ceil((g.centerX + reach + offset.x()) * pixelRatio);
    const double bottom = std::ceil((g.centerY + reach + offset.y()) * pixelRatio);
    ChartLayer layer;
    layer.devicePixels = QPoint(static_cast<int>(left), static_cast<int>(top));
    layer.pixels = QSize(static_cast<int>(right - left), static_cast<int>(bottom - top));
    layer.pixelRatio = pixelRatio;
    layer.translation = offset - QPointF(left, top) / pixelRatio;
    return layer;
}

// Paints `paint` into a transparent layer of `layer`'s size.
//
// Qt's raster engine hands every batch of translucent spans (the hairlines are one span per
// pixel, the dimmed arcs hundreds per arc) to the global thread pool and waits for it, unless
// it already runs on one of the pool's threads. For a chart that is hundreds of hand-offs a
// frame, each costing a thread wake-up and a wait: several times the blending itself. So the
// layer is painted on one pool thread, in one piece, while this thread waits; when the pool
// has no thread free, it is painted here.
template <typename Paint>
QImage renderLayer(const ChartLayer& layer, const Paint& paint) {
    QImage image(layer.pixels, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(layer.pixelRatio);
    image.fill(Qt::transparent);
    auto render = [&] {
        QPainter painter(&image);
        painter.translate(layer.translation);
        paint(painter);
    };
    QSemaphore done;
    if (QThreadPool::globalInstance()->tryStart([&] {
            render();
            done.release();
        })) {
        done.acquire();
    } else {
        render();
    }
    return image;
}

}  // namespace

QPainterPath segmentPath(const Segment& s, const ChartGeometry& g) {
    const QtArcAngles arc = toQtArcAngles(s.startAngle, s.endAngle);
    QPainterPath path;
    path.setFillRule(Qt::WindingFill);
    path.moveTo(pointAt(g, s.startAngle, s.outerRadius));
    path.arcTo(circleRect(g, s.outerRadius), arc.startDegrees, arc.sweepDegrees);
    path.lineTo(pointAt(g, s.endAngle, s.innerRadius));
    path.arcTo(circleRect(g, s.innerRadius), arc.startDegrees + arc.sweepDegrees,
               -arc.sweepDegrees);
    path.closeSubpath();
    return path;
}

QColor segmentFill(const Segment& segment, bool dimmed) {
    const RingTone tone = ringTone(segment.ring);
    return QColor::fromHsvF(static_cast<float>(segment.colorHue),
                            static_cast<float>(tone.saturation),
                            static_cast<float>(tone.brightness), dimmed ? 0.35f : 1.0f);
}

void paintSunburst(QPainter& painter, const ChartGeometry& geometry,
                   std::span<const Segment> segments, const Segment* underPointer,
                   const SunburstColors& colors) {
    if (!geometry.drawable()) {
        return;
    }
    const auto paint = [&](QPainter& target) {
        paintRings(target, geometry, segments, underPointer, colors);
    };
    // The layer gives the same pixels as painting arc by arc when it is copied 1:1 (no scaling
    // or rotation, a raster device) and plainly over what is there; any other painter, and a
    // chart too large to hold in memory twice, gets the arcs directly.
    const QTransform transform = painter.combinedTransform();
    const bool layered = painter.device() != nullptr && painter.paintEngine() != nullptr &&
                         painter.paintEngine()->type() == QPaintEngine::Raster &&
                         transform.type() <= QTransform::TxTranslate && painter.opacity() == 1.0 &&
                         painter.compositionMode() == QPainter::CompositionMode_SourceOver;
    const double pixelRatio = layered ? painter.device()->devicePixelRatio() : 1;
    const ChartLayer layer =
        chartLayer(geometry, QPointF(transform.dx(), transform.dy()), pixelRatio);
    if (!layered ||
        static_cast<int64_t>(layer.pixels.width()) * layer.pixels.height() > kMaxLayerPixels) {
        paint(painter);
        return;
    }
    const QImage image = renderLayer(layer, paint);
    painter.save();
    painter.setViewTransformEnabled(false);
    painter.setWorldTransform(QTransform());
    painter.drawImage(QPointF(layer.devicePixels) / pixelRatio, image);
    painter.restore();
}

void paintCentreLabel(QPainter& painter, const ChartGeometry& g, const SunburstLabel& label,
                      const SunburstColors& colors) {
    const QFont nameFont = style::systemFont(14, QFont::Medium);
    const QFont sizeFont = style::systemFont(22, QFont::DemiBold);
    const QFont countFont = style::systemFont(11);
    const QFontMetricsF nameMetrics(nameFont), sizeMetrics(sizeFont), countMetrics(countFont);
    const double spacing = 4;
    const double total =
        nameMetrics.height() + sizeMetrics.height() + countMetrics.height() + 2 * spacing;
    const double maxNameWidth = std::max(0.0, 1.6 * g.holeRadius);
    const QString name = nameMetrics.elidedText(label.name, Qt::ElideMiddle, maxNameWidth);

    painter.save();
    double top = g.centerY - total / 2;
    auto line = [&](const QString& text, const QFont& font, const QFontMetricsF& metrics,
                    const QColor& color) {
        painter.setFont(font);
        painter.setPen(color);
        const double width = metrics.horizontalAdvance(text);
        painter.drawText(QPointF(g.centerX - width / 2, top + metrics.ascent()), text);
        top += metrics.height() + spacing;
    };
    line(name, nameFont, nameMetrics, colors.secondaryText);
    line(label.size, sizeFont, sizeMetrics, colors.primaryText);
    line(label.fileCount, countFont, countMetrics, style::withOpacity(colors.secondaryText, 0.8));
    painter.restore();
}

}  // namespace cb
