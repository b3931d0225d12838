#pragma once

#include <cstdint>

namespace cb {

class FileNode;

// One annular sector of the disk map: the arc of one shown node on one ring.
//
// Angles are radians measured from 12 o'clock, growing clockwise on screen; a full turn is 2π.
// Radii are in logical pixels from the chart's centre. Segments are rebuilt on every layout and
// never kept across layouts: state that must survive (the hovered node) is held as the FileNode.
struct Segment {
    // Identifies the segment within the list of one layout (its position in that list). A new
    // layout makes new segments; an id is never compared across layouts.
    uint64_t id = 0;
    // The file or folder this arc shows. Non-owning: the tree outlives the segment list, which
    // is rebuilt before the tree can change.
    FileNode* node = nullptr;
    // 0 for the innermost ring (the children of the focus), up to 5.
    int64_t ring = 0;
    double startAngle = 0;  // radians; startAngle <= endAngle
    double endAngle = 0;    // radians
    double innerRadius = 0;
    double outerRadius = 0;
    // Always ring + 1.
    int64_t depth = 1;
    // Hue in [0, 1) of the arc's colour; a whole branch shares its top-level arc's hue.
    double colorHue = 0;
};

}  // namespace cb
