#include "app/views/SunburstView.h"

#include <gtest/gtest.h>

#include <QMenu>
#include <QPainter>
#include <QPicture>
#include <QTest>
#include <algorithm>
#include <cmath>
#include <numbers>

#include "app/localization/LocalizationManager.h"
#include "app/views/FocusSpring.h"
#include "app/views/SunburstPainter.h"
#include "tests/app/views/MapTestSupport.h"

namespace cb {
namespace {

using maptest::colorDistance;

constexpr double kPi = std::numbers::pi;
constexpr int kSide = 600;

class SunburstViewTest : public ::testing::Test {
  protected:
    SunburstViewTest() : loc_(nullptr, {"en"}) { maptest::app(); }

    void SetUp() override {
        tree_ = maptest::makeFixtureTree();
        view_ = std::make_unique<SunburstView>(loc_);
        view_->resize(kSide, kSide);
        view_->setFocusNode(tree_.get());
        view_->setOnHover([this](FileNode* node) {
            hoverCalls_++;
            lastHover_ = node;
        });
        view_->setOnDrillIn([this](FileNode* node) { drilled_.push_back(node); });
        view_->setOnRequestDelete([this](FileNode* node) { deleteRequests_.push_back(node); });
        view_->setOnReveal([this](FileNode* node) { revealed_.push_back(node); });
    }

    // The point at chart angle `angle` in the middle of ring `ring`, in widget coordinates.
    QPointF ringPoint(double angle, int ring) const {
        const ChartGeometry g = chartGeometry(kSide, kSide);
        const double r = g.holeRadius + (ring + 0.5) * g.ringWidth;
        return {g.centerX + r * std::sin(angle), g.centerY - r * std::cos(angle)};
    }

    static QColor pixel(const QImage& image, QPointF p) {
        return image.pixelColor(qRound(p.x()), qRound(p.y()));
    }

    FileNode* child(const char* name) const {
        for (const auto& c : tree_->children()) {
            if (c->name() == name) {
                return c.get();
            }
        }
        return nullptr;
    }

    LocalizationManager loc_;
    std::unique_ptr<FileNode> tree_;
    std::unique_ptr<SunburstView> view_;
    int hoverCalls_ = 0;
    FileNode* lastHover_ = nullptr;
    std::vector<FileNode*> drilled_, deleteRequests_, revealed_;
};

// Library holds half the tree: [0, π]. Movies [π, 1.6π], Documents [1.6π, 2π].
constexpr double kLibraryMid = kPi / 2;
constexpr double kTripMid = 1.2 * kPi;     // trip.mov: the first two thirds of Movies
constexpr double kMoviesTail = 1.5 * kPi;  // talk.mp4

TEST_F(SunburstViewTest, DrawsSixRingsWithTheirTonesAndTheCentreDisc) {
    const QImage image = maptest::render(view_.get());
    maptest::savePng(image, "sunburst-en.png");
    maptest::savePng(maptest::render(view_.get(), 2.0), "sunburst-en@2x.png");

    // Library has hue 0 and nests deeper than six levels: one arc on every ring, no seventh.
    for (int ring = 0; ring < 6; ++ring) {
        SCOPED_TRACE(ring);
        const QColor c = pixel(image, ringPoint(kLibraryMid, ring)).toHsv();
        const RingTone tone = ringTone(ring);
        EXPECT_NEAR(c.saturationF(), tone.saturation, 0.02);
        EXPECT_NEAR(c.valueF(), tone.brightness, 0.02);
        EXPECT_TRUE(c.hsvHue() <= 1 || c.hsvHue() >= 359) << c.hsvHue();
    }
    const QColor window = view_->palette().color(QPalette::Window);
    const ChartGeometry g = chartGeometry(kSide, kSide);
    EXPECT_LT(colorDistance(pixel(image, {g.centerX + g.outerRadius + 6, g.centerY}), window), 3);
    // The disc is the window colour, not the arcs' colours (below the three label lines).
    EXPECT_LT(colorDistance(pixel(image, {g.centerX, g.centerY + 0.9 * g.holeRadius}), window), 3);
    EXPECT_LT(colorDistance(pixel(image, {g.centerX - 0.9 * g.holeRadius, g.centerY}), window), 3);
    // Movies (index 1) has hue 0.618.
    EXPECT_NEAR(pixel(image, ringPoint(kTripMid, 0)).hsvHueF(), 0.618, 0.01);
}

TEST_F(SunburstViewTest, HoveringAFolderLeavesItsWholeBranchUndimmed) {
    const QImage before = maptest::render(view_.get());
    maptest::sendMouseMove(view_.get(), ringPoint(kLibraryMid, 0));
    ASSERT_NE(lastHover_, nullptr);
    EXPECT_EQ(lastHover_->name(), "Library");
    const QImage after = maptest::render(view_.get());
    for (int ring = 0; ring < 6; ++ring) {
        SCOPED_TRACE(ring);  // Library and every folder nested in it
        EXPECT_LT(colorDistance(pixel(after, ringPoint(kLibraryMid, ring)),
                                pixel(before, ringPoint(kLibraryMid, ring))),
                  2);
    }
    // Outside the branch the arcs are dimmed, so they differ clearly.
    EXPECT_GT(
        colorDistance(pixel(after, ringPoint(kTripMid, 0)), pixel(before, ringPoint(kTripMid, 0))),
        20);
}

TEST_F(SunburstViewTest, HoveringDimsEverythingOutsideTheHoveredBranch) {
    const QImage before = maptest::render(view_.get());
    maptest::sendMouseMove(view_.get(), ringPoint(kTripMid, 1));
    ASSERT_NE(lastHover_, nullptr);
    EXPECT_EQ(lastHover_->name(), "trip.mov");
    EXPECT_EQ(view_->hovered(), lastHover_);
    const QImage after = maptest::render(view_.get());
    maptest::savePng(after, "sunburst-en-hover.png");

    const QColor window = view_->palette().color(QPalette::Window);
    auto expectDimmed = [&](QPointF p, const char* what) {
        SCOPED_TRACE(what);
        const QColor full = pixel(before, p);
        const QColor expected(qRound(0.35 * full.red() + 0.65 * window.red()),
                              qRound(0.35 * full.green() + 0.65 * window.green()),
                              qRound(0.35 * full.blue() + 0.65 * window.blue()));
        EXPECT_LT(colorDistance(pixel(after, p), expected), 4);
    };
    expectDimmed(ringPoint(kTripMid, 0), "Movies, the hovered file's parent");
    expectDimmed(ringPoint(kMoviesTail, 1), "talk.mp4, a sibling");
    expectDimmed(ringPoint(kLibraryMid, 0), "Library, another branch");
    expectDimmed(ringPoint(kLibraryMid, 5), "Library's ring 5");
    EXPECT_LT(
        colorDistance(pixel(after, ringPoint(kTripMid, 1)), pixel(before, ringPoint(kTripMid, 1))),
        2);

    // Over the centre disc nothing is dimmed and the hovered node becomes none.
    const int callsBefore = hoverCalls_;
    maptest::sendMouseMove(view_.get(), QPointF(kSide / 2.0 + 5, kSide / 2.0));
    EXPECT_EQ(hoverCalls_, callsBefore + 1);
    EXPECT_EQ(lastHover_, nullptr);
    EXPECT_EQ(view_->buildContextMenu(), nullptr);
    const QImage centre = maptest::render(view_.get());
    EXPECT_LT(colorDistance(pixel(centre, ringPoint(kLibraryMid, 0)),
                            pixel(before, ringPoint(kLibraryMid, 0))),
              2);
}

TEST_F(SunburstViewTest, LeavingClearsTheHoverAndEveryMoveIsReported) {
    maptest::sendMouseMove(view_.get(), ringPoint(kLibraryMid, 0));
    maptest::sendMouseMove(view_.get(), ringPoint(kLibraryMid + 0.01, 0));
    EXPECT_EQ(hoverCalls_, 2);  // also when the node did not change
    EXPECT_EQ(lastHover_, child("Library"));
    maptest::sendLeave(view_.get());
    EXPECT_EQ(hoverCalls_, 3);
    EXPECT_EQ(lastHover_, nullptr);
    EXPECT_EQ(view_->hovered(), nullptr);
}

TEST_F(SunburstViewTest, ClickOpensOnlyFoldersWithChildren) {
    maptest::sendMouseMove(view_.get(), ringPoint(kTripMid, 1));
    maptest::sendClick(view_.get(), ringPoint(kTripMid, 1));  // a file
    maptest::sendMouseMove(view_.get(), QPointF(kSide / 2.0, kSide / 2.0));
    maptest::sendClick(view_.get(), QPointF(kSide / 2.0, kSide / 2.0));  // the centre disc
    EXPECT_TRUE(drilled_.empty());
    maptest::sendMouseMove(view_.get(), ringPoint(kLibraryMid, 0));
    maptest::sendClick(view_.get(), ringPoint(kLibraryMid, 0));
    ASSERT_EQ(drilled_.size(), 1u);
    EXPECT_EQ(drilled_[0], child("Library"));
}

TEST_F(SunburstViewTest, ContextMenuEntriesFollowTheHoveredNode) {
    auto texts = [](QMenu& menu) {
        QStringList list;
        for (QAction* action : menu.actions()) {
            list << (action->isSeparator() ? QStringLiteral("-") : action->text());
        }
        return list;
    };
    maptest::sendMouseMove(view_.get(), ringPoint(kLibraryMid, 0));
    auto folderMenu = view_->buildContextMenu();
    ASSERT_NE(folderMenu, nullptr);
    EXPECT_EQ(texts(*folderMenu),
              QStringList({"Show in Finder", "Open here", "-", "Move to Trash…"}));
    folderMenu->actions()[1]->trigger();
    folderMenu->actions()[0]->trigger();
    EXPECT_EQ(drilled_, std::vector<FileNode*>{child("Library")});
    EXPECT_EQ(revealed_, std::vector<FileNode*>{child("Library")});

    maptest::sendMouseMove(view_.get(), ringPoint(kTripMid, 1));
    loc_.setCurrent(Language::chinese);
    auto fileMenu = view_->buildContextMenu();
    ASSERT_NE(fileMenu, nullptr);
    ASSERT_EQ(fileMenu->actions().size(), 3);
    EXPECT_EQ(fileMenu->actions()[0]->text(), loc_.qtext("menu.revealInFinder"));
    EXPECT_NE(fileMenu->actions()[0]->text(), "Show in Finder");
    FileNode* trip = view_->hovered();
    fileMenu->actions()[2]->trigger();
    EXPECT_EQ(deleteRequests_, std::vector<FileNode*>{trip});

    // The tree shrinks while the menu is open: the entry finds its node gone and does nothing.
    FileNode* movies = trip->parent();
    std::unique_ptr<FileNode> removed = movies->removeChild(trip);
    ASSERT_NE(removed, nullptr);
    removed.reset();
    fileMenu->actions()[2]->trigger();
    EXPECT_EQ(deleteRequests_.size(), 1u);
}

TEST_F(SunburstViewTest, EmptyFocusAndTinyAreasDrawNoRings) {
    auto empty = std::make_unique<FileNode>("empty", true, nullptr);
    empty->setRootPath("/empty");
    view_->setFocusNode(empty.get());
    EXPECT_TRUE(view_->TEST_segments().empty());
    const QImage image = maptest::render(view_.get());
    const QColor window = view_->palette().color(QPalette::Window);
    EXPECT_LT(colorDistance(pixel(image, ringPoint(kLibraryMid, 0)), window), 3);
    // The centre label still shows the name, "Zero KB" and "0 files".
    int inked = 0;
    for (int y = kSide / 2 - 40; y < kSide / 2 + 40; ++y) {
        for (int x = kSide / 2 - 40; x < kSide / 2 + 40; ++x) {
            inked += colorDistance(image.pixelColor(x, y), window) > 60 ? 1 : 0;
        }
    }
    EXPECT_GT(inked, 100);

    view_->setFocusNode(tree_.get());
    view_->resize(30, 30);  // R would be -1
    const QImage tiny = maptest::render(view_.get());
    for (int y = 0; y < tiny.height(); ++y) {
        for (int x = 0; x < tiny.width(); ++x) {
            ASSERT_LT(colorDistance(tiny.pixelColor(x, y), window), 1) << x << "," << y;
        }
    }
    maptest::sendMouseMove(view_.get(), QPointF(15, 15));
    EXPECT_EQ(lastHover_, nullptr);
}

TEST_F(SunburstViewTest, ThousandsOfHairlineArcsStillCoverTheRing) {
    auto flat = std::make_unique<FileNode>("flat", true, nullptr);
    flat->setRootPath("/flat");
    for (int i = 0; i < 3000; ++i) {
        maptest::add(*flat, "f" + std::to_string(i), false, 4096);
    }
    maptest::finishTree(*flat);
    view_->setFocusNode(flat.get());
    ASSERT_EQ(view_->TEST_segments().size(), 3000u);
    const QImage image = maptest::render(view_.get());
    maptest::savePng(image, "sunburst-flat.png");
    const QColor window = view_->palette().color(QPalette::Window);
    for (double angle = 0.1; angle < 2 * kPi; angle += 0.5) {
        SCOPED_TRACE(angle);
        const QColor c = pixel(image, ringPoint(angle, 0));
        EXPECT_GT(colorDistance(c, window), 10);  // painted, in the arcs' blended colour
        EXPECT_LT(colorDistance(pixel(image, ringPoint(angle, 1)), window), 3);  // no ring 1
    }
    tree_.swap(flat);  // keep the nodes alive until the view goes
    view_.reset();
}

TEST_F(SunburstViewTest, AnimatedFocusChangeCrossfadesFromThePreviousChart) {
    view_->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(view_.get()));
    const QPointF deep = ringPoint(kLibraryMid, 5);  // Library's ring 5: empty once Movies shows
    const QColor window = view_->palette().color(QPalette::Window);
    FileNode* movies = child("Movies");
    view_->setFocusNode(movies, SunburstView::FocusChange::animated);
    EXPECT_GT(colorDistance(pixel(maptest::render(view_.get()), deep), window), 20)
        << "the old chart still shows as the fade begins";
    QTest::qWait(static_cast<int>(kFocusSpringSeconds * 1000) + 300);
    EXPECT_LT(colorDistance(pixel(maptest::render(view_.get()), deep), window), 3);
    // An immediate change shows the new chart at once.
    view_->setFocusNode(tree_.get());
    EXPECT_GT(colorDistance(pixel(maptest::render(view_.get()), deep), window), 20);
}

TEST_F(SunburstViewTest, ChineseRender) {
    auto tree = maptest::makeFixtureTree("文档", "缓存");
    loc_.setCurrent(Language::chinese);
    view_->setFocusNode(tree.get());
    maptest::sendMouseMove(view_.get(), ringPoint(kLibraryMid, 2));
    maptest::savePng(maptest::render(view_.get()), "sunburst-zh-hover.png");
    ASSERT_NE(lastHover_, nullptr);
    EXPECT_EQ(lastHover_->name(), "缓存1");
    tree_.swap(tree);  // keep the nodes alive until the view goes
    view_.reset();
}

// The chart reaches a raster device through a layer painted on another thread; what lands on
// the device must be what painting arc by arc gives (a recording, replayed, is painted so),
// at any offset and pixel ratio, with a dimmed branch and the hover outline.
TEST_F(SunburstViewTest, LayeredPaintMatchesPaintingArcByArc) {
    const ChartGeometry g = chartGeometry(kSide, kSide);
    const std::vector<Segment> segments = view_->TEST_segments();
    const Segment* under = segmentAt(0, -(g.holeRadius + 1.5 * g.ringWidth), segments);
    ASSERT_NE(under, nullptr);
    const SunburstColors colors{QColor(236, 236, 236), Qt::black, QColor(0, 0, 0, 140)};
    for (const double ratio : {1.0, 2.0}) {
        for (const QPointF offset : {QPointF(0, 0), QPointF(13.5, -7)}) {
            SCOPED_TRACE(ratio);
            auto canvas = [&] {
                QImage image(QSize(kSide, kSide) * ratio, QImage::Format_RGB32);
                image.setDevicePixelRatio(ratio);
                image.fill(colors.windowBackground);
                return image;
            };
            QImage layered = canvas(), direct = canvas();
            {
                QPainter painter(&layered);
                painter.translate(offset);
                paintSunburst(painter, g, segments, under, colors);
            }
            QPicture recording;
            {
                QPainter painter(&recording);
                paintSunburst(painter, g, segments, under, colors);
            }
            {
                QPainter painter(&direct);
                painter.translate(offset);
                recording.play(&painter);
            }
            int worst = 0;
            for (int y = 0; y < layered.height(); ++y) {
                for (int x = 0; x < layered.width(); ++x) {
                    const QRgb a = layered.pixel(x, y), b = direct.pixel(x, y);
                    worst =
                        std::max({worst, std::abs(qRed(a) - qRed(b)),
                                  std::abs(qGreen(a) - qGreen(b)), std::abs(qBlue(a) - qBlue(b))});
                }
            }
            // Translucent colours composited in two steps round differently, by a few units at
            // edges where several of them stack (the hairlines, the disc's rim); no more.
            EXPECT_LE(worst, 3);
        }
    }
}

TEST(SunburstPathTest, ArcsRunClockwiseFromTwelveOClock) {
    maptest::app();
    ChartGeometry g;
    g.centerX = 100;
    g.centerY = 100;
    Segment quarter;
    quarter.startAngle = 0;
    quarter.endAngle = kPi / 2;
    quarter.innerRadius = 10;
    quarter.outerRadius = 20;
    const QPainterPath path = segmentPath(quarter, g);
    EXPECT_NEAR(path.elementAt(0).x, 100, 1e-9);
    EXPECT_NEAR(path.elementAt(0).y, 80, 1e-9);          // outer edge, straight up
    EXPECT_TRUE(path.contains(QPointF(110.6, 89.4)));    // up and right: inside
    EXPECT_FALSE(path.contains(QPointF(89.4, 89.4)));    // up and left
    EXPECT_FALSE(path.contains(QPointF(110.6, 110.6)));  // down and right
    EXPECT_FALSE(path.contains(QPointF(103, 97)));       // inside the inner radius

    Segment full = quarter;
    full.endAngle = kSunburstFullTurn;
    const QPainterPath ring = segmentPath(full, g);
    EXPECT_TRUE(ring.contains(QPointF(85, 100)));
    EXPECT_FALSE(ring.contains(QPointF(100, 100)));  // the hole stays empty
}

TEST(FocusSpringTest, SettlesAfterASlightOvershoot) {
    EXPECT_EQ(focusSpringPosition(0), 0.0);
    EXPECT_EQ(focusSpringPosition(kFocusSpringSeconds), 1.0);
    EXPECT_EQ(focusSpringEasing(1.0), 1.0);
    double peak = 0, previous = 0;
    bool rising = true;
    for (double t = 0.005; t < kFocusSpringSeconds; t += 0.005) {
        const double x = focusSpringPosition(t);
        if (rising && x < previous) {
            rising = false;
        }
        peak = std::max(peak, x);
        previous = x;
    }
    EXPECT_GT(peak, 1.0);
    EXPECT_LT(peak, 1.01);
    EXPECT_NEAR(focusSpringPosition(kFocusSpringSeconds - 0.001), 1.0, 0.002);
    EXPECT_NEAR(focusSpringPosition(0.35 / 2), 0.93, 0.05);  // most of the way at half response
}

}  // namespace
}  // namespace cb
