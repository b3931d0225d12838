#include "app/views/SunburstLayout.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>

#include "app/disk/FileNode.h"

namespace cb {

namespace {

constexpr double kGoldenRatioConjugate = 0.61803398875;

// A negative size (never produced by a scan) counts as nothing rather than bending arcs back.
int64_t drawnSize(const FileNode& node) {
    return std::max<int64_t>(node.size(), 0);
}

// Adds without wrapping: sizes near the top of int64 saturate instead of overflowing.
int64_t saturatingAdd(int64_t a, int64_t b) {
    int64_t sum = 0;
    if (__builtin_add_overflow(a, b, &sum)) {
        return std::numeric_limits<int64_t>::max();
    }
    return sum;
}

int64_t childrenTotal(const FileNode& node) {
    int64_t total = 0;
    for (const auto& child : node.children()) {
        total = saturatingAdd(total, drawnSize(*child));
    }
    return total;
}

bool hasChildren(const FileNode& node) {
    return !node.children().empty();
}

// One ring of arcs, shared by every child laid out in one call.
struct RingFrame {
    int64_t ring;
    int64_t depth;
    double start;
    double end;
    double span;
    int64_t total;
    double innerRadius;
    double outerRadius;
};

// The angle at which the running sum `before` of shown sizes is reached. A running sum that
// equals the total lands exactly on the end of the range, so siblings tile it without a sliver.
double angleAt(const RingFrame& frame, int64_t before) {
    if (before >= frame.total) {
        return frame.end;
    }
    return frame.start + frame.span * (static_cast<double>(before) / frame.total);
}

}  // namespace

ChartGeometry chartGeometry(double width, double height) {
    ChartGeometry g;
    g.centerX = width * 0.5;
    g.centerY = height * 0.5;
    const double outer = std::min(width, height) * 0.5 - 16;
    if (!(outer > 0)) {
        return g;  // too small (or NaN): no rings, not even a centre disc
    }
    g.outerRadius = outer;
    g.holeRadius = 0.22 * outer;
    g.ringWidth = (outer - g.holeRadius) / kSunburstRingCount;
    return g;
}

void buildSegments(FileNode* node, int64_t ring, int64_t depth, std::vector<Segment>& segments,
                   double startAngle, double endAngle, double hue, double holeRadius,
                   double ringWidth) {
    if (ring >= kSunburstRingCount || node->size() < 1 || !hasChildren(*node)) {
        return;
    }
    const int64_t total = childrenTotal(*node);
    if (total < 1) {
        return;
    }
    const double inner = static_cast<double>(ring) * ringWidth + holeRadius;
    const RingFrame frame{ring,  depth, startAngle,       endAngle, endAngle - startAngle,
                          total, inner, inner + ringWidth};
    // Shown children are laid one after another from the start; the skipped ones' share is
    // what remains before the end, the gap on the clockwise side.
    int64_t before = 0;
    int64_t index = 0;
    for (const auto& child : node->children()) {
        const int64_t size = drawnSize(*child);
        const double arc = frame.span * (static_cast<double>(size) / total);
        const double childHue = ring == 0 ? topLevelHue(index) : hue;
        ++index;
        if (ring > 0 && arc < kSunburstMinArc) {
            continue;
        }
        const double from = angleAt(frame, before);
        before = saturatingAdd(before, size);
        const double to = std::max(from, angleAt(frame, before));
        segments.push_back(Segment{segments.size(), child.get(), ring, from, to, frame.innerRadius,
                                   frame.outerRadius, depth, childHue});
        if (child->isDirectory() && hasChildren(*child)) {
            buildSegments(child.get(), ring + 1, depth + 1, segments, from, to, childHue,
                          holeRadius, ringWidth);
        }
    }
}

std::vector<Segment> layoutChart(FileNode* focus, const ChartGeometry& geometry) {
    std::vector<Segment> segments;
    if (focus == nullptr || focus->size() <= 0 || !geometry.drawable()) {
        return segments;
    }
    buildSegments(focus, 0, 1, segments, 0, kSunburstFullTurn, 0, geometry.holeRadius,
                  geometry.ringWidth);
    return segments;
}

const Segment* segmentAt(double x, double y, std::span<const Segment> segments) {
    const double r = std::hypot(x, y);
    double a = std::atan2(x, -y);
    if (a < 0) {
        a += kSunburstFullTurn;
    }
    const Segment* best = nullptr;
    for (const Segment& s : segments) {
        const bool inRing = s.innerRadius <= r && r <= s.outerRadius;
        const bool inArc = s.startAngle <= a && a <= s.endAngle;
        if (inRing && inArc && (best == nullptr || s.ring > best->ring)) {
            best = &s;
        }
    }
    return best;
}

double topLevelHue(int64_t index) {
    const double turns = static_cast<double>(index) * kGoldenRatioConjugate;
    return turns - std::floor(turns);
}

RingTone ringTone(int64_t ring) {
    const double r = static_cast<double>(ring);
    return RingTone{std::max(0.55 - 0.05 * r, 0.3), std::max(0.95 - 0.04 * r, 0.75)};
}

QtArcAngles toQtArcAngles(double startAngle, double endAngle) {
    constexpr double kDegreesPerRadian = 180.0 / std::numbers::pi;
    return QtArcAngles{90.0 - startAngle * kDegreesPerRadian,
                       -(endAngle - startAngle) * kDegreesPerRadian};
}

}  // namespace cb
