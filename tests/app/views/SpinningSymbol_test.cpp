#include "app/views/SpinningSymbol.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QTest>
#include <QToolButton>

#include "tests/app/views/MapTestSupport.h"

namespace cb {
namespace {

// The button's icon as drawn in the enabled state.
QImage shownIcon(const QToolButton& button) {
    return button.icon()
        .pixmap(button.iconSize(), 1.0, QIcon::Normal, QIcon::Off)
        .toImage()
        .convertToFormat(QImage::Format_ARGB32);
}

// Waits until `done` holds, for up to `ms` milliseconds.
template <typename Pred>
bool waitUntil(Pred done, int ms = 3000) {
    for (int waited = 0; waited < ms && !done(); waited += 10) {
        QTest::qWait(10);
    }
    return done();
}

TEST(SpinningSymbolTest, ComesBackToRestLookingAsBeforeAfterEachUse) {
    maptest::app();
    // As the toolbar uses it: the button is disabled while the symbol turns.
    QToolButton button;
    auto* spin = new SpinningSymbol(&button, "arrow.clockwise", 16);
    const QImage atRest = shownIcon(button);
    ASSERT_FALSE(atRest.isNull());
    for (int use = 1; use <= 3; ++use) {
        SCOPED_TRACE(use);
        button.setEnabled(false);
        spin->setSpinning(true);
        ASSERT_TRUE(waitUntil([&] { return spin->rotation() > 30; }));
        EXPECT_NE(shownIcon(button), atRest);  // it does turn
        button.setEnabled(true);
        spin->setSpinning(false);
        ASSERT_TRUE(waitUntil([&] { return spin->rotation() == 0; }));
        QTest::qWait(50);
        EXPECT_EQ(spin->rotation(), 0);
        EXPECT_EQ(shownIcon(button), atRest) << "the symbol stays turned or dimmed";
    }
}

TEST(SpinningSymbolTest, AShortUseStillEndsAtRest) {
    maptest::app();
    // A refresh of a small folder ends within a frame or two of its start.
    for (int spinMs : {0, 1, 20, 100}) {
        SCOPED_TRACE(spinMs);
        QToolButton button;
        auto* spin = new SpinningSymbol(&button, "arrow.clockwise", 16);
        const QImage atRest = shownIcon(button);
        button.setEnabled(false);
        spin->setSpinning(true);
        QTest::qWait(spinMs);
        button.setEnabled(true);
        spin->setSpinning(false);
        QTest::qWait(600);
        EXPECT_EQ(spin->rotation(), 0);
        EXPECT_EQ(shownIcon(button), atRest);
    }
}

}  // namespace
}  // namespace cb
