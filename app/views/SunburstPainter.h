#pragma once

#include <QColor>
#include <QPainterPath>
#include <QString>
#include <span>

#include "app/views/Segment.h"
#include "app/views/SunburstLayout.h"

class QPainter;

namespace cb {

// Colours the chart takes from its surroundings.
struct SunburstColors {
    QColor windowBackground;  // fills the centre disc
    QColor primaryText;
    QColor secondaryText;
};

// The three lines of the centre label, already formatted.
struct SunburstLabel {
    QString name;
    QString size;
    QString fileCount;
};

// Returns the outline of `segment`: the outer arc clockwise from startAngle to endAngle, a line
// in to the inner edge, the inner arc back, closed. Coordinates are the chart's (y down).
QPainterPath segmentPath(const Segment& segment, const ChartGeometry& geometry);

// Returns the fill of `segment`: hue colorHue with its ring's tone, at opacity 0.35 when dimmed.
QColor segmentFill(const Segment& segment, bool dimmed);

// Paints the rings and the centre disc with antialiasing, in list order so parents lie under
// their descendants. `underPointer` is the segment under the pointer or null: with one, every
// arc that is neither its node nor inside its node's subtree is dimmed, and its node's arc gets
// a bold white outline. Adjacent arcs narrower than a device pixel (a folder of thousands of
// small files) are painted as one arc in their mean colour. Paints nothing when the geometry is
// not drawable. On a raster device, unscaled, the arcs are painted into a layer on a thread of
// the global pool while the caller waits (on the caller's thread when none is free) and then
// copied; the result matches painting them directly up to rounding.
void paintSunburst(QPainter& painter, const ChartGeometry& geometry,
                   std::span<const Segment> segments, const Segment* underPointer,
                   const SunburstColors& colors);

// Paints the centre label: the name (cut in the middle to 1.6 x the hole radius), the size and
// the file count, stacked 4 px apart and centred on the chart's centre.
void paintCentreLabel(QPainter& painter, const ChartGeometry& geometry, const SunburstLabel& label,
                      const SunburstColors& colors);

}  // namespace cb
