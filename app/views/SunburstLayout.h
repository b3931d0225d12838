#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "app/views/Segment.h"

namespace cb {

class FileNode;

// Pure layout of the disk map: geometry, the segment list, hit testing and the colour scheme.
// Nothing here knows about Qt; SunburstView converts to Qt's units only when it paints.

// Number of rings the chart shows around its centre (rings 0 to 5).
inline constexpr int64_t kSunburstRingCount = 6;
// Below ring 0, a child whose arc would be narrower than this (π/150 rad, 1.2°) is not shown.
inline constexpr double kSunburstMinArc = 0.020943951023931952;
// One full turn in radians.
inline constexpr double kSunburstFullTurn = 6.283185307179586;

// Where the chart sits in a drawing area, in the area's logical pixels.
struct ChartGeometry {
    double centerX = 0;
    double centerY = 0;
    double outerRadius = 0;  // R: the outer edge of ring 5
    double holeRadius = 0;   // the centre disc: 0.22 R
    double ringWidth = 0;    // (R - hole) / 6

    // False when the area is too small for any ring (R <= 0); such a chart draws nothing.
    bool drawable() const { return outerRadius > 0; }
};

// Returns the geometry of a chart filling a width x height area: centre in the middle,
// R = min(width, height) / 2 - 16. For areas whose smaller side is 32 or less, R is not positive
// and drawable() is false; the radii are then all 0 rather than negative.
ChartGeometry chartGeometry(double width, double height);

// Appends to `segments` the arcs of `node`'s children and, recursively, of their descendants,
// laid out inside [startAngle, endAngle]. `ring` and `depth` are the values the children's
// segments get; `hue` is the parent's hue (used below ring 0). Each child's arc is its share of
// the sum of its siblings' sizes; angles come from running sums of the sizes, so siblings tile
// their parent's arc exactly. Below ring 0, children narrower than kSunburstMinArc are skipped
// with their subtrees and their angle is left as one gap after the last shown sibling.
// The list is in pre-order: a segment is followed by all its shown descendants. Negative sizes
// count as 0, so arcs never run backwards.
// REQUIRES: node is non-null; startAngle <= endAngle.
void buildSegments(FileNode* node, int64_t ring, int64_t depth, std::vector<Segment>& segments,
                   double startAngle, double endAngle, double hue, double holeRadius,
                   double ringWidth);

// Returns the segments of the whole chart for `focus` with the given geometry: empty when
// focus is null, its size is not positive or the geometry is not drawable; else buildSegments
// of the focus with ring 0, depth 1, the full turn, hue 0.
std::vector<Segment> layoutChart(FileNode* focus, const ChartGeometry& geometry);

// Returns the segment under the point (x, y), given relative to the chart's centre with y
// growing downwards, or null. All bounds are inclusive; among matches the outermost ring wins,
// and on one ring the first in list order (so a border between siblings belongs to the earlier
// one, a border between rings to the outer one). The pointer stays valid while `segments` does.
const Segment* segmentAt(double x, double y, std::span<const Segment> segments);

// Returns the hue of the top-level arc with index `index`: the fractional part of
// index * 0.61803398875, so neighbouring arcs get well separated hues.
double topLevelHue(int64_t index);

// Saturation and brightness of the arcs of one ring (HSB, each in [0, 1]).
struct RingTone {
    double saturation = 0;
    double brightness = 0;
};

// Returns the tone of `ring`: saturation max(0.55 - 0.05 ring, 0.3), brightness
// max(0.95 - 0.04 ring, 0.75).
RingTone ringTone(int64_t ring);

// An arc in Qt's convention: degrees, 0 at 3 o'clock, positive counter-clockwise on screen.
struct QtArcAngles {
    double startDegrees = 0;
    double sweepDegrees = 0;  // negative for a clockwise arc
};

// Converts a chart arc (radians from 12 o'clock, clockwise) to the start and sweep that
// QPainterPath::arcTo expects. The chart's angle a is the screen direction (sin a, -cos a) in
// y-down coordinates, which Qt calls 90° - a; a clockwise sweep is a negative one. Qt's path API
// takes degrees as doubles, so no rounding to QPainter's 1/16° integers happens.
QtArcAngles toQtArcAngles(double startAngle, double endAngle);

}  // namespace cb
