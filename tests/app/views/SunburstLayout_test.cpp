#include "app/views/SunburstLayout.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <numbers>
#include <string>
#include <vector>

#include "app/disk/FileNode.h"

namespace cb {
namespace {

constexpr double kTurn = kSunburstFullTurn;
constexpr double kPi = std::numbers::pi;

// Appends a child of the given size. Folder sizes are set by the caller, as a scan would.
FileNode& add(FileNode& parent, const std::string& name, bool isDirectory, int64_t size) {
    auto child = std::make_unique<FileNode>(name, isDirectory, &parent);
    child->setSize(size);
    return parent.appendChild(std::move(child));
}

// A folder holding one file per entry of `sizes`; its size is their sum.
FileNode& addFolderOfFiles(FileNode& parent, const std::string& name,
                           const std::vector<int64_t>& sizes) {
    int64_t total = 0;
    for (int64_t s : sizes) {
        total += s;
    }
    FileNode& folder = add(parent, name, true, total);
    for (size_t i = 0; i < sizes.size(); ++i) {
        add(folder, name + "/" + std::to_string(i), false, sizes[i]);
    }
    return folder;
}

std::unique_ptr<FileNode> makeRoot(int64_t size) {
    auto root = std::make_unique<FileNode>("root", true, nullptr);
    root->setRootPath("/root");
    root->setSize(size);
    return root;
}

std::vector<Segment> layout(FileNode& focus, double hole = 10, double width = 10) {
    std::vector<Segment> segments;
    buildSegments(&focus, 0, 1, segments, 0, kTurn, 0, hole, width);
    return segments;
}

TEST(SunburstLayoutTest, FociWithNothingToShowGiveNoSegments) {
    struct Case {
        const char* what;
        int64_t focusSize;
        std::vector<int64_t> childSizes;
    };
    const Case cases[] = {
        {"focus size 0", 0, {5}},
        {"negative focus size", -3, {5}},
        {"no children", 10, {}},
        {"children summing to 0", 10, {0, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        auto root = makeRoot(c.focusSize);
        for (int64_t s : c.childSizes) {
            add(*root, "f", false, s);
        }
        EXPECT_TRUE(layout(*root).empty());
        EXPECT_TRUE(layoutChart(root.get(), chartGeometry(400, 400)).empty());
    }
    EXPECT_TRUE(layoutChart(nullptr, chartGeometry(400, 400)).empty());
}

TEST(SunburstLayoutTest, SingleChildSpansTheFullCircle) {
    auto root = makeRoot(7);
    add(*root, "only", false, 7);
    auto segments = layout(*root, 20, 5);
    ASSERT_EQ(segments.size(), 1u);
    EXPECT_EQ(segments[0].startAngle, 0.0);
    EXPECT_EQ(segments[0].endAngle, kTurn);
    EXPECT_EQ(segments[0].innerRadius, 20.0);
    EXPECT_EQ(segments[0].outerRadius, 25.0);
    EXPECT_EQ(segments[0].ring, 0);
    EXPECT_EQ(segments[0].depth, 1);
}

TEST(SunburstLayoutTest, RingZeroKeepsEveryChildAndSiblingsTileExactly) {
    // Odd sizes whose fractions do not add up exactly in floating point.
    auto root = makeRoot(1000);
    const int64_t sizes[] = {333, 333, 331, 3, 0};
    for (int64_t s : sizes) {
        add(*root, "f", false, s);
    }
    auto segments = layout(*root);
    ASSERT_EQ(segments.size(), 5u);
    EXPECT_EQ(segments[0].startAngle, 0.0);
    for (size_t i = 1; i < segments.size(); ++i) {
        EXPECT_EQ(segments[i].startAngle, segments[i - 1].endAngle) << i;
    }
    EXPECT_NEAR(segments[0].endAngle, kTurn * 0.333, 1e-12);
    // The zero-size child keeps a zero-width segment at the very end.
    EXPECT_EQ(segments[4].startAngle, kTurn);
    EXPECT_EQ(segments[4].endAngle, kTurn);
    // A 3-byte child is far under 1.2° but ring 0 never drops anything.
    EXPECT_LT(segments[3].endAngle - segments[3].startAngle, kSunburstMinArc);
}

TEST(SunburstLayoutTest, NegativeChildSizeCountsAsZero) {
    auto root = makeRoot(10);
    add(*root, "a", false, 10);
    add(*root, "bad", false, -5);
    auto segments = layout(*root);
    ASSERT_EQ(segments.size(), 2u);
    EXPECT_EQ(segments[0].endAngle, kTurn);
    EXPECT_EQ(segments[1].startAngle, segments[1].endAngle);
}

TEST(SunburstLayoutTest, SmallArcsBelowRingZeroGatherIntoTheTrailingGap) {
    auto root = makeRoot(2000);
    FileNode& top = add(*root, "top", true, 2000);
    add(top, "big", false, 1000);
    FileNode& tiny = addFolderOfFiles(top, "tiny", {1, 1});  // 2/2000 of a turn: 0.36°
    add(top, "next", false, 998);
    add(top, "empty", false, 0);
    auto segments = layout(*root);
    ASSERT_EQ(segments.size(), 3u);  // top, big, next
    EXPECT_EQ(segments[1].node->name(), "big");
    EXPECT_EQ(segments[2].node->name(), "next");
    EXPECT_EQ(segments[1].startAngle, 0.0);
    EXPECT_NEAR(segments[1].endAngle, kPi, 1e-12);
    // "next" follows "big" directly: the skipped share is left after the last shown sibling.
    EXPECT_EQ(segments[2].startAngle, segments[1].endAngle);
    EXPECT_NEAR(segments[2].endAngle, kTurn * 1998 / 2000, 1e-12);
    for (const Segment& s : segments) {
        EXPECT_NE(s.node, &tiny);
        EXPECT_NE(s.node->parent(), &tiny);
    }
    // The gap has no segment under it; the last shown child just before it has.
    const double mid = kTurn * 1999 / 2000;
    const double r = 25;  // ring 1 with hole 10 and width 10
    EXPECT_EQ(segmentAt(r * std::sin(mid), -r * std::cos(mid), segments), nullptr);
    const double inNext = kTurn * 0.9;
    EXPECT_EQ(segmentAt(r * std::sin(inNext), -r * std::cos(inNext), segments), &segments[2]);
}

TEST(SunburstLayoutTest, RingFiveIsTheLastRing) {
    auto root = makeRoot(1);
    FileNode* parent = root.get();
    for (int level = 0; level < 8; ++level) {
        parent = &add(*parent, "d" + std::to_string(level), true, 1);
    }
    add(*parent, "leaf", false, 1);
    auto segments = layout(*root, 30, 10);
    ASSERT_EQ(segments.size(), 6u);
    for (size_t i = 0; i < segments.size(); ++i) {
        EXPECT_EQ(segments[i].ring, static_cast<int64_t>(i));
        EXPECT_EQ(segments[i].depth, segments[i].ring + 1);
        EXPECT_EQ(segments[i].innerRadius, 30.0 + 10.0 * static_cast<double>(i));
    }
    // The ring-5 folder has children of its own but gets no further ring.
    EXPECT_FALSE(segments[5].node->children().empty());
    EXPECT_EQ(segments[5].outerRadius, 90.0);
}

TEST(SunburstLayoutTest, HuesFollowTheGoldenRatioAndBranchesShareThem) {
    EXPECT_NEAR(topLevelHue(2), 0.2360679775, 1e-12);
    EXPECT_EQ(topLevelHue(0), 0.0);
    EXPECT_NEAR(topLevelHue(1), 0.61803398875, 1e-12);
    EXPECT_NEAR(topLevelHue(3), 0.85410196625, 1e-12);

    auto root = makeRoot(600);
    add(*root, "a", false, 300);
    add(*root, "b", false, 200);
    FileNode& c = add(*root, "c", true, 100);
    FileNode& inner = addFolderOfFiles(c, "inner", {60, 40});
    c.setSize(100);
    auto segments = layout(*root);
    ASSERT_EQ(segments.size(), 6u);  // a, b, c, inner, inner/0, inner/1 (pre-order)
    EXPECT_EQ(segments[2].node, &c);
    EXPECT_EQ(segments[3].node, &inner);
    for (size_t i = 2; i < segments.size(); ++i) {
        EXPECT_NEAR(segments[i].colorHue, 0.2360679775, 1e-12) << i;
        EXPECT_EQ(segments[i].depth, segments[i].ring + 1);
    }
    EXPECT_EQ(segments[4].ring, 2);
}

TEST(SunburstLayoutTest, HitTestBordersAndMisses) {
    auto root = makeRoot(200);
    FileNode& a = addFolderOfFiles(*root, "a", {100});
    add(*root, "b", false, 100);
    auto segments = layout(*root, 10, 10);  // ring 0: [10, 20], ring 1: [20, 30]
    ASSERT_EQ(segments.size(), 3u);         // a, a/0, b
    const Segment* aSeg = &segments[0];
    const Segment* aChild = &segments[1];
    const Segment* bSeg = &segments[2];
    ASSERT_EQ(aSeg->node, &a);

    struct Case {
        const char* what;
        double x, y;
        const Segment* expected;
    };
    const Case cases[] = {
        {"middle of a (right side)", 15, 0, aSeg},
        {"middle of b (left side)", -15, 0, bSeg},
        {"ring border: outer ring wins", 20, 0, aChild},
        {"outer edge of ring 1 is inside", 30, 0, aChild},
        {"sibling border at 6 o'clock: earlier wins", 0, 15, aSeg},
        {"sibling border at 12 o'clock: a starts there", 0, -15, aSeg},
        {"inner edge of ring 0 is inside", 0, -10, aSeg},
        {"centre disc", 3, 4, nullptr},
        {"centre point", 0, 0, nullptr},
        {"beyond the outer radius", 31, 0, nullptr},
        {"beyond the last ring of b's branch", -25, 0, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(segmentAt(c.x, c.y, segments), c.expected);
    }
    EXPECT_EQ(segmentAt(15, 0, {}), nullptr);
}

TEST(SunburstLayoutTest, ChartGeometryFollowsTheSmallerSide) {
    const ChartGeometry g = chartGeometry(1000, 800);
    EXPECT_EQ(g.centerX, 500.0);
    EXPECT_EQ(g.centerY, 400.0);
    EXPECT_EQ(g.outerRadius, 384.0);
    EXPECT_NEAR(g.holeRadius, 84.48, 1e-12);
    EXPECT_NEAR(g.holeRadius + 6 * g.ringWidth, g.outerRadius, 1e-12);
    EXPECT_TRUE(g.drawable());

    // A smaller side of 32 or less leaves no room for rings: nothing negative comes out.
    for (double side : {32.0, 20.0, 0.0}) {
        const ChartGeometry tiny = chartGeometry(500, side);
        EXPECT_FALSE(tiny.drawable()) << side;
        EXPECT_EQ(tiny.holeRadius, 0.0);
        EXPECT_EQ(tiny.ringWidth, 0.0);
    }
    auto root = makeRoot(5);
    add(*root, "f", false, 5);
    EXPECT_TRUE(layoutChart(root.get(), chartGeometry(20, 20)).empty());
    EXPECT_EQ(layoutChart(root.get(), chartGeometry(100, 100)).size(), 1u);
}

TEST(SunburstLayoutTest, RingTonesFloorOnRingFive) {
    const double expected[][2] = {{0.55, 0.95}, {0.50, 0.91}, {0.45, 0.87}, {0.40, 0.83},
                                  {0.35, 0.79}, {0.30, 0.75}, {0.30, 0.75}};
    for (int ring = 0; ring < 7; ++ring) {
        EXPECT_NEAR(ringTone(ring).saturation, expected[ring][0], 1e-12) << ring;
        EXPECT_NEAR(ringTone(ring).brightness, expected[ring][1], 1e-12) << ring;
    }
}

TEST(SunburstLayoutTest, QtArcAnglesPointTheSameWay) {
    struct Case {
        double start, end, qtStart, qtSweep;
    };
    const Case cases[] = {
        {0, kPi / 2, 90, -90},      // 12 -> 3 o'clock, clockwise
        {kPi / 2, kPi, 0, -90},     // 3 -> 6 o'clock
        {kPi, kTurn, -90, -180},    // 6 -> 12 o'clock through 9
        {0, kTurn, 90, -360},       // full circle
        {kPi / 4, kPi / 4, 45, 0},  // zero width
    };
    for (const Case& c : cases) {
        const QtArcAngles q = toQtArcAngles(c.start, c.end);
        EXPECT_NEAR(q.startDegrees, c.qtStart, 1e-12);
        EXPECT_NEAR(q.sweepDegrees, c.qtSweep, 1e-12);
    }
    // Qt's angle t (counter-clockwise from 3 o'clock) is the y-down direction (cos t, -sin t);
    // the chart's angle a is (sin a, -cos a). They must agree for every angle.
    for (double a = 0; a < kTurn; a += 0.37) {
        const double t = toQtArcAngles(a, a).startDegrees * kPi / 180;
        EXPECT_NEAR(std::cos(t), std::sin(a), 1e-12);
        EXPECT_NEAR(-std::sin(t), -std::cos(a), 1e-12);
    }
}

}  // namespace
}  // namespace cb
