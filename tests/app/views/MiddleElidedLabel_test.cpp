#include "app/views/MiddleElidedLabel.h"

#include <QClipboard>
#include <QFontMetrics>
#include <QKeySequence>

#include "tests/app/views/ScreenTestSupport.h"

namespace cb {
namespace {

class MiddleElidedLabelTest : public ::testing::Test {
  protected:
    void SetUp() override {
        test::app();
        font = QApplication::font();
    }

    QFont font;
};

TEST_F(MiddleElidedLabelTest, ShortTextIsShownWhole) {
    const QStringList lines = MiddleElidedLabel::layoutLines("/Users/alice", font, 400, 2);
    EXPECT_EQ(lines, QStringList{"/Users/alice"});
}

TEST_F(MiddleElidedLabelTest, TextThatNeedsMoreLinesLosesItsMiddle) {
    QString path = "/start";
    for (int i = 0; i < 60; ++i) {
        path += QStringLiteral("/part%1").arg(i);
    }
    path += "/the-end.txt";
    const int width = 200;
    for (int maxLines : {1, 2, 3}) {
        SCOPED_TRACE(maxLines);
        const QStringList lines = MiddleElidedLabel::layoutLines(path, font, width, maxLines);
        ASSERT_EQ(lines.size(), maxLines);
        EXPECT_TRUE(lines.front().startsWith("/start/part0"));
        EXPECT_TRUE(lines.back().endsWith("/the-end.txt"));
        EXPECT_TRUE(lines.back().contains(u'…'));
        for (const QString& line : lines) {
            EXPECT_LE(QFontMetrics(font).horizontalAdvance(line), width) << line.toStdString();
        }
    }
}

TEST_F(MiddleElidedLabelTest, ALineBreakInANameDoesNotAddALine) {
    const QStringList lines = MiddleElidedLabel::layoutLines("odd\nname", font, 400, 2);
    EXPECT_EQ(lines, QStringList{"odd name"});
}

TEST_F(MiddleElidedLabelTest, CopyingAnElidedTextCopiesAllOfIt) {
    QString path = "/Volumes/Data";
    for (int i = 0; i < 40; ++i) {
        path += QStringLiteral("/folder-%1").arg(i);
    }
    MiddleElidedLabel label(2, /*selectable=*/true);
    label.setFullText(path);
    label.resize(200, label.heightForWidth(200));
    test::showActive(&label);
    ASSERT_TRUE(label.isElided());
    EXPECT_EQ(label.toolTip(), path);
    label.setSelection(0, static_cast<int>(label.text().size()));
    QApplication::clipboard()->clear();
    QTest::keySequence(&label, QKeySequence::Copy);
    EXPECT_EQ(QApplication::clipboard()->text(), path);
}

}  // namespace
}  // namespace cb
