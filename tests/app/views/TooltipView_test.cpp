#include "app/views/TooltipView.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QIcon>
#include <QLabel>
#include <QSvgRenderer>
#include <QTemporaryDir>

#include "app/views/ElidingLabel.h"
#include "app/views/MiddleElidedLabel.h"
#include "app/views/SymbolIcons.h"
#include "tests/app/views/MapTestSupport.h"

namespace cb {
namespace {

class TooltipViewTest : public ::testing::Test {
  protected:
    QString text(const char* name) const {
        auto* label = view_.findChild<QLabel*>(name);
        return label == nullptr ? QString("<missing>") : label->text();
    }
    bool shown(const char* name) const {
        auto* w = view_.findChild<QWidget*>(name);
        return w != nullptr && !w->isHidden();
    }

    QApplication& app_ = maptest::app();  // before any widget
    TooltipView view_;
};

TEST_F(TooltipViewTest, FolderShowsItsSymbolSizeShareAndFileCount) {
    auto tree = maptest::makeFixtureTree();
    FileNode* movies = tree->children()[1].get();
    ASSERT_EQ(movies->name(), "Movies");
    view_.setNode(*movies, tree->size());
    EXPECT_NE(view_.findChild<QLabel*>("symbol:folder.fill"), nullptr);
    EXPECT_EQ(view_.findChild<ElidingLabel*>("name")->fullText(), "Movies");
    EXPECT_EQ(view_.findChild<MiddleElidedLabel*>("path")->fullText(), "/Users/alice/Movies");
    EXPECT_EQ(text("size"), "3 MB");
    EXPECT_EQ(text("percent"), "30%");
    EXPECT_TRUE(shown("fileCount"));
    EXPECT_EQ(text("fileCount"), "2 files");
    maptest::savePng(maptest::render(&view_), "tooltip-en.png");

    FileNode* docs = tree->children()[2].get();
    view_.setNode(*docs, tree->size());
    EXPECT_EQ(text("fileCount"), "1 file");
    auto empty = std::make_unique<FileNode>("empty", true, nullptr);
    empty->setRootPath("/empty");
    view_.setNode(*empty, 0);
    EXPECT_EQ(text("fileCount"), "0 files");
    EXPECT_EQ(text("percent"), "0%");  // a parent size below 1
}

TEST_F(TooltipViewTest, FileHasNoCountAndANegativeSizeShowsAsZero) {
    auto root = std::make_unique<FileNode>("r", true, nullptr);
    root->setRootPath("/r");
    FileNode& file = maptest::add(*root, "odd.bin", false, -5);
    view_.setNode(file, 100);
    EXPECT_NE(view_.findChild<QLabel*>("symbol:doc.fill"), nullptr);
    EXPECT_FALSE(shown("fileCount"));
    EXPECT_EQ(text("size"), "Zero KB");
    EXPECT_EQ(text("percent"), "-5.00%");  // from the raw value
}

TEST_F(TooltipViewTest, LongNamesAndPathsNeverWidenTheCardPast340) {
    auto root = std::make_unique<FileNode>("root", true, nullptr);
    root->setRootPath("/Volumes/Archive/" + std::string(40, 'p') + "/" + std::string(60, 'q'));
    FileNode* parent = root.get();
    for (int i = 0; i < 6; ++i) {
        parent = &maptest::add(*parent, "很长的文件夹名称-" + std::to_string(i), true);
    }
    FileNode& file =
        maptest::add(*parent, "一个非常非常非常非常长的文件名称 and a long English tail too.mov",
                     false, 7'000'000);
    maptest::finishTree(*root);
    view_.setNode(file, root->size());
    const int margins = TooltipView::shadowMargins().left() + TooltipView::shadowMargins().right();
    EXPECT_LE(view_.width() - margins, TooltipView::kMaxCardWidth);
    auto* path = view_.findChild<MiddleElidedLabel*>("path");
    EXPECT_TRUE(path->isElided());
    const QStringList lines = MiddleElidedLabel::layoutLines(path->fullText(), path->font(),
                                                             path->contentsRect().width(), 2);
    EXPECT_EQ(lines.size(), 2);
    EXPECT_TRUE(lines.back().endsWith(".mov"));
    auto* name = view_.findChild<ElidingLabel*>("name");
    EXPECT_TRUE(name->shownText().endsWith(QStringLiteral("…"))) << name->shownText().toStdString();
    // The path's two lines sit above the size row, not over it.
    EXPECT_LE(path->geometry().bottom(), view_.findChild<QLabel*>("size")->geometry().top());
    maptest::savePng(maptest::render(&view_), "tooltip-zh.png");
}

// The last pixel row of `area` in `image` with ink (pixels clearly darker than `card`),
// counted from the area's top; -1 without ink.
int lowestInk(const QImage& image, const QRect& area, const QColor& card) {
    int lowest = -1;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            if (qGray(image.pixel(x, y)) < qGray(card.rgb()) - 25) {
                lowest = y - area.top();
                break;
            }
        }
    }
    return lowest;
}

TEST_F(TooltipViewTest, ThePathsLastLineKeepsItsUnderscoresAndDescenders) {
    // The lowest ink of a path of letters that sit on the baseline, then of one whose letters
    // and underscores go below it: the second must reach clearly lower.
    auto root = std::make_unique<FileNode>("r", true, nullptr);
    root->setRootPath("/r");
    int lowest[2] = {};
    const char* names[2] = {"acemnorsuvwxz", "hardlink_to_movie_gjpqy"};
    for (int i = 0; i < 2; ++i) {
        view_.setNode(maptest::add(*root, names[i], false, 10), 10);
        auto* path = view_.findChild<MiddleElidedLabel*>("path");
        const QImage image = maptest::render(&view_);
        maptest::savePng(image, QStringLiteral("tooltip-path-%1.png").arg(names[i]));
        const QRect area(path->mapTo(&view_, QPoint(0, 0)), path->size());
        lowest[i] =
            lowestInk(image, area.adjusted(0, 0, 0, 6), view_.palette().color(QPalette::Window));
    }
    ASSERT_GE(lowest[0], 0);
    EXPECT_GE(lowest[1], lowest[0] + 2) << "the underscores and tails are cut off";
}

TEST(SymbolIconsTest, EveryEntryDrawsAndUnknownNamesStillShow) {
    maptest::app();
    for (const SymbolEntry& entry : symbolTable()) {
        SCOPED_TRACE(entry.symbol);
        EXPECT_EQ(findSymbol(entry.symbol), &entry);
        EXPECT_TRUE(QSvgRenderer(QByteArray(entry.svg)).isValid());  // our own fallback
        const QImage image = symbolPixmap(entry.symbol, 24, Qt::red, 2.0).toImage();
        EXPECT_EQ(image.width(), 48);
        int tinted = 0, other = 0;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                const QColor c = image.pixelColor(x, y);
                if (c.alpha() > 200) {
                    (c.red() > 200 && c.green() < 40 && c.blue() < 40 ? tinted : other)++;
                }
            }
        }
        EXPECT_GT(tinted, 20);
        EXPECT_EQ(other, 0);
    }
    EXPECT_EQ(findSymbol("no.such.symbol"), nullptr);
    EXPECT_EQ(symbolSource("no.such.symbol"), SymbolSource::none);
    const QImage unknown = symbolPixmap("no.such.symbol", 16, Qt::blue).toImage();
    EXPECT_EQ(unknown.pixelColor(8, 8), QColor(Qt::blue));
}

TEST(SymbolIconsTest, ThemeIconsSmallerThanAskedAreStretchedToTheSize) {
    maptest::app();
    // A theme that has the folder icon only at 16 x 16, as fixed-size themes do.
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    ASSERT_TRUE(QDir(dir.path()).mkpath("small/16x16/places"));
    QFile index(dir.filePath("small/index.theme"));
    ASSERT_TRUE(index.open(QIODevice::WriteOnly));
    index.write(
        "[Icon Theme]\nName=small\nDirectories=16x16/places\n\n"
        "[16x16/places]\nSize=16\nType=Fixed\n");
    index.close();
    QImage icon(16, 16, QImage::Format_ARGB32);
    icon.fill(Qt::black);
    ASSERT_TRUE(icon.save(dir.filePath("small/16x16/places/folder.png")));
    const QStringList searchPaths = QIcon::themeSearchPaths();
    const QString themeName = QIcon::themeName();
    QIcon::setThemeSearchPaths({dir.path()});
    QIcon::setThemeName("small");

    EXPECT_EQ(symbolSource("folder.fill"), SymbolSource::theme);
    const QPixmap pixmap = symbolPixmap("folder.fill", 24, Qt::red, 2.0);
    EXPECT_EQ(pixmap.size(), QSize(48, 48));
    EXPECT_EQ(pixmap.deviceIndependentSize(), QSizeF(24, 24));
    EXPECT_EQ(pixmap.toImage().pixelColor(40, 40), QColor(Qt::red));

    QIcon::setThemeName(themeName);
    QIcon::setThemeSearchPaths(searchPaths);
}

}  // namespace
}  // namespace cb
