#include "app/views/SunburstView.h"

#include <QContextMenuEvent>
#include <QEasingCurve>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QVariantAnimation>
#include <algorithm>

#include "app/disk/FileNode.h"
#include "app/disk/Formatters.h"
#include "app/localization/LocalizationManager.h"
#include "app/views/FileCountText.h"
#include "app/views/FocusSpring.h"
#include "app/views/NodeMenu.h"
#include "app/views/SunburstPainter.h"
#include "app/views/ViewStyle.h"

namespace cb {

SunburstView::SunburstView(LocalizationManager& loc, QWidget* parent)
    : QWidget(parent), loc_(loc), crossfade_(new QVariantAnimation(this)) {
    setMouseTracking(true);
    crossfade_->setStartValue(0.0);
    crossfade_->setEndValue(1.0);
    crossfade_->setDuration(static_cast<int>(kFocusSpringSeconds * 1000));
    QEasingCurve spring;
    spring.setCustomType([](qreal progress) -> qreal { return focusSpringEasing(progress); });
    crossfade_->setEasingCurve(spring);
    connect(crossfade_, &QVariantAnimation::valueChanged, this, [this] { update(); });
    connect(crossfade_, &QVariantAnimation::finished, this, [this] {
        previousFrame_ = QPixmap();
        update();
    });
}

SunburstView::~SunburstView() = default;

void SunburstView::setFocusNode(FileNode* focus, FocusChange change) {
    if (change == FocusChange::animated && focus != focus_ && isVisible()) {
        startCrossfade();
    }
    const bool moved = focus != focus_;
    focus_ = focus;
    segments_.reset();  // also for the same focus: its subtree may have changed
    update();
    if (moved && mouseLocation_) {
        // The arcs moved under a pointer that stayed where it was.
        hovered_ = nodeAt(*mouseLocation_);
        if (onHover_) {
            onHover_(hovered_);
        }
    }
}

void SunburstView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    segments_.reset();
}

void SunburstView::startCrossfade() {
    crossfade_->stop();
    previousFrame_ = QPixmap();  // grab() paints through paintEvent; keep the old fade out of it
    previousFrame_ = grab();
    crossfade_->start();
}

ChartGeometry SunburstView::geometry() const {
    return chartGeometry(width(), height());
}

std::vector<Segment> SunburstView::TEST_segments() const {
    return segments();
}

const std::vector<Segment>& SunburstView::segments() const {
    if (!segments_) {
        segments_ = layoutChart(focus_, geometry());
    }
    return *segments_;
}

const Segment* SunburstView::segmentAt(QPointF point) const {
    const ChartGeometry g = geometry();
    return cb::segmentAt(point.x() - g.centerX, point.y() - g.centerY, segments());
}

FileNode* SunburstView::nodeAt(QPointF point) const {
    const Segment* segment = segmentAt(point);
    return segment == nullptr ? nullptr : segment->node;
}

void SunburstView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const ChartGeometry g = geometry();
    if (g.drawable()) {
        const Segment* under = mouseLocation_ ? segmentAt(*mouseLocation_) : nullptr;
        const SunburstColors colors{palette().color(QPalette::Window),
                                    style::primaryText(palette()), style::secondaryText(palette())};
        paintSunburst(painter, g, segments(), under, colors);
        paintFocusLabel(painter, g);
    }
    if (!previousFrame_.isNull()) {
        // The spring overshoots slightly; the old frame's opacity stays within 0..1.
        const double position = crossfade_->currentValue().toDouble();
        painter.setOpacity(std::clamp(1.0 - position, 0.0, 1.0));
        painter.drawPixmap(0, 0, previousFrame_);
    }
}

void SunburstView::paintFocusLabel(QPainter& painter, const ChartGeometry& g) const {
    if (focus_ == nullptr) {
        return;
    }
    const SunburstColors colors{palette().color(QPalette::Window), style::primaryText(palette()),
                                style::secondaryText(palette())};
    const SunburstLabel label{
        QString::fromStdString(focus_->name()),
        QString::fromStdString(byteFormatter().string(std::max<int64_t>(focus_->size(), 0))),
        QString::fromStdString(fileCountText(focus_->fileCount()))};
    paintCentreLabel(painter, g, label, colors);
}

void SunburstView::mouseMoveEvent(QMouseEvent* event) {
    const bool wasInside = mouseLocation_.has_value();
    const Segment* before = wasInside ? segmentAt(*mouseLocation_) : nullptr;
    mouseLocation_ = event->position();
    const Segment* now = segmentAt(*mouseLocation_);
    hovered_ = now == nullptr ? nullptr : now->node;
    if (onHover_) {
        onHover_(hovered_);
    }
    // The picture depends on the pointer only through the arc under it.
    if (!wasInside || now != before) {
        update();
    }
}

void SunburstView::leaveEvent(QEvent*) {
    mouseLocation_.reset();
    hovered_ = nullptr;
    if (onHover_) {
        onHover_(nullptr);
    }
    update();
}

void SunburstView::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || !mouseLocation_) {
        return;
    }
    FileNode* node = nodeAt(*mouseLocation_);
    if (isOpenable(node) && onDrillIn_) {
        onDrillIn_(node);
    }
}

std::unique_ptr<QMenu> SunburstView::buildContextMenu() {
    return buildNodeMenu(focus_, hovered_,
                         {[this] { return focus_; }, &onReveal_, &onDrillIn_, &onRequestDelete_},
                         loc_, this);
}

void SunburstView::contextMenuEvent(QContextMenuEvent* event) {
    std::unique_ptr<QMenu> menu = buildContextMenu();
    if (menu) {
        menu->exec(event->globalPos());
    }
}

}  // namespace cb
