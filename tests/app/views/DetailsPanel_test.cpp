#include "app/views/DetailsPanel.h"

#include <gtest/gtest.h>

#include <QLabel>
#include <QMenu>
#include <QScrollArea>
#include <QScrollBar>

#include "app/localization/LocalizationManager.h"
#include "app/views/DetailsRow.h"
#include "app/views/ElidingLabel.h"
#include "app/views/SunburstView.h"
#include "app/views/ViewStyle.h"
#include "tests/app/views/MapTestSupport.h"

namespace cb {
namespace {

class DetailsPanelTest : public ::testing::Test {
  protected:
    DetailsPanelTest() {
        panel_.resize(DetailsPanel::kWidth, 520);
        panel_.setOnHover([this](FileNode* node) { hoverWrites_.push_back(node); });
        panel_.setOnDrillIn([this](FileNode* node) { drilled_.push_back(node); });
        panel_.setOnRequestDelete([this](FileNode* node) { deleteRequests_.push_back(node); });
        panel_.setOnReveal([this](FileNode* node) { revealed_.push_back(node); });
    }

    static QString name(DetailsRow* row) {
        return row->findChild<ElidingLabel*>("name")->fullText();
    }
    static QString share(DetailsRow* row) { return row->findChild<QLabel*>("share")->text(); }
    static QStringList menuTexts(QMenu& menu) {
        QStringList list;
        for (QAction* action : menu.actions()) {
            list << (action->isSeparator() ? QStringLiteral("-") : action->text());
        }
        return list;
    }

    QApplication& app_ = maptest::app();  // before any widget
    LocalizationManager loc_{nullptr, {"en"}};
    DetailsPanel panel_{loc_};
    std::vector<FileNode*> hoverWrites_, drilled_, deleteRequests_, revealed_;
};

TEST_F(DetailsPanelTest, ListsTheFirstTwelveChildrenWithSizeAndShare) {
    auto root = std::make_unique<FileNode>("big", true, nullptr);
    root->setRootPath("/big");
    for (int i = 0; i < 14; ++i) {
        maptest::add(*root, "f" + std::to_string(i), false, (20 - i) * 1'000'000);
    }
    maptest::finishTree(*root);
    panel_.setFocusNode(root.get());
    ASSERT_EQ(panel_.rows().size(), 12u);
    for (size_t i = 0; i < 12; ++i) {
        EXPECT_EQ(panel_.rows()[i]->node(), root->children()[i].get());
    }
    EXPECT_EQ(name(panel_.rows()[0]), "f0");
    EXPECT_EQ(share(panel_.rows()[0]), "11%");    // 20 MB of 189 MB
    EXPECT_EQ(share(panel_.rows()[11]), "4.8%");  // 9 MB
    EXPECT_EQ(panel_.findChild<QLabel*>()->text(), "Largest");

    auto empty = std::make_unique<FileNode>("empty", true, nullptr);
    empty->setRootPath("/empty");
    panel_.setFocusNode(empty.get());
    EXPECT_TRUE(panel_.rows().empty());
}

TEST_F(DetailsPanelTest, ZeroFocusAndNegativeSizes) {
    auto root = std::make_unique<FileNode>("zero", true, nullptr);
    root->setRootPath("/zero");
    maptest::add(*root, "odd", false, -4);
    maptest::add(*root, "nothing", false, 0);
    panel_.setFocusNode(root.get());  // focus size stays 0
    ASSERT_EQ(panel_.rows().size(), 2u);
    for (DetailsRow* row : panel_.rows()) {
        EXPECT_EQ(share(row), "0%");
    }
    const QStringList texts = [&] {
        QStringList list;
        for (auto* label : panel_.rows()[0]->findChildren<QLabel*>()) {
            list << label->text();
        }
        return list;
    }();
    EXPECT_TRUE(texts.contains("Zero KB")) << texts.join('|').toStdString();
}

TEST_F(DetailsPanelTest, LeavingARowClearsOnlyItsOwnHover) {
    auto tree = maptest::makeFixtureTree();
    panel_.setFocusNode(tree.get());
    DetailsRow* a = panel_.rows()[0];
    DetailsRow* b = panel_.rows()[1];
    maptest::sendEnter(a);
    EXPECT_EQ(panel_.hovered(), a->node());
    EXPECT_TRUE(a->highlighted());
    // B's enter arrives before A's leave.
    maptest::sendEnter(b);
    maptest::sendLeave(a);
    EXPECT_EQ(panel_.hovered(), b->node());
    EXPECT_TRUE(b->highlighted());
    EXPECT_FALSE(a->highlighted());
    maptest::sendLeave(b);
    EXPECT_EQ(panel_.hovered(), nullptr);
    EXPECT_EQ(hoverWrites_, (std::vector<FileNode*>{a->node(), b->node(), nullptr}));
}

TEST_F(DetailsPanelTest, DoubleClickOpensFoldersAndMenusFollowTheKind) {
    auto tree = maptest::makeFixtureTree();
    FileNode* docs = tree->children()[2].get();
    panel_.setFocusNode(docs);  // one file: thesis.pdf
    ASSERT_EQ(panel_.rows().size(), 1u);
    FileNode* thesis = panel_.rows()[0]->node();
    maptest::sendDoubleClick(panel_.rows()[0], QPointF(20, 10));
    EXPECT_TRUE(drilled_.empty());
    auto fileMenu = panel_.buildContextMenu(thesis);
    EXPECT_EQ(menuTexts(*fileMenu), QStringList({"Show in Finder", "-", "Move to Trash…"}));
    fileMenu->actions()[2]->trigger();
    EXPECT_EQ(deleteRequests_, std::vector<FileNode*>{thesis});

    panel_.setFocusNode(tree.get());
    FileNode* library = panel_.rows()[0]->node();
    maptest::sendDoubleClick(panel_.rows()[0], QPointF(20, 10));
    EXPECT_EQ(drilled_, std::vector<FileNode*>{library});
    auto folderMenu = panel_.buildContextMenu(library);
    EXPECT_EQ(menuTexts(*folderMenu),
              QStringList({"Show in Finder", "Open here", "-", "Move to Trash…"}));
    folderMenu->actions()[0]->trigger();
    EXPECT_EQ(revealed_, std::vector<FileNode*>{library});

    // The menu's node leaves the tree before an entry is chosen: nothing happens.
    auto moviesMenu = panel_.buildContextMenu(tree->children()[1].get());
    std::unique_ptr<FileNode> removed = tree->removeChild(tree->children()[1].get());
    removed.reset();
    moviesMenu->actions()[3]->trigger();
    EXPECT_EQ(deleteRequests_.size(), 1u);
}

TEST_F(DetailsPanelTest, LanguageSwitchRelabelsCaptionAndMenus) {
    auto tree = maptest::makeFixtureTree("文档", "缓存");
    panel_.setFocusNode(tree.get());
    loc_.setCurrent(Language::chinese);
    EXPECT_EQ(panel_.findChild<QLabel*>()->text(), loc_.qtext("details.largest"));
    EXPECT_NE(panel_.findChild<QLabel*>()->text(), "Largest");
    auto menu = panel_.buildContextMenu(panel_.rows()[0]->node());
    EXPECT_EQ(menu->actions()[0]->text(), loc_.qtext("menu.revealInFinder"));
    panel_.setHovered(panel_.rows()[1]->node());
    maptest::savePng(maptest::render(&panel_), "details-zh.png");
}

TEST_F(DetailsPanelTest, ANameWithALineBreakShowsOnOneLineWithAMark) {
    auto root = std::make_unique<FileNode>("r", true, nullptr);
    root->setRootPath("/r");
    maptest::add(*root, "report\nfinal.txt", false, 2'000'000);
    maptest::add(*root, "plain", false, 1'000'000);
    maptest::finishTree(*root);
    panel_.setFocusNode(root.get());
    panel_.show();
    QCoreApplication::processEvents();
    ASSERT_EQ(panel_.rows().size(), 2u);
    auto* label = panel_.rows()[0]->findChild<ElidingLabel*>("name");
    EXPECT_EQ(label->fullText(), "report\nfinal.txt");  // the name itself is kept
    EXPECT_EQ(label->shownText(), QStringLiteral("report\u21B5final.txt"));
    EXPECT_EQ(panel_.rows()[0]->height(), panel_.rows()[1]->height());
    // Drawn exactly as the one-line text with the mark would be.
    ElidingLabel marked(Qt::ElideMiddle);
    marked.setFont(label->font());
    marked.setPalette(label->palette());
    marked.setFullText(QStringLiteral("report\u21B5final.txt"));
    marked.resize(label->size());
    auto drawn = [](QWidget& widget) {
        QImage image(widget.size(), QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        widget.render(&image, QPoint(), QRegion(), QWidget::RenderFlags());
        return image;
    };
    EXPECT_EQ(drawn(*label), drawn(marked));
}

TEST(SingleLineTest, EveryKindOfLineBreakBecomesOneMark) {
    const struct {
        const char16_t* text;
        const char16_t* line;
    } cases[] = {
        {u"plain name", u"plain name"},
        {u"a\nb", u"a\u21B5b"},
        {u"a\r\nb", u"a\u21B5b"},  // one break, one mark
        {u"a\n\nb", u"a\u21B5\u21B5b"},
        {u"a\rb\vc\fd", u"a\u21B5b\u21B5c\u21B5d"},
        {u"a\u0085b\u2028c\u2029d", u"a\u21B5b\u21B5c\u21B5d"},
        {u"\n", u"\u21B5"},
        {u"tab\tstays", u"tab\tstays"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(style::singleLine(QString::fromUtf16(c.text)), QString::fromUtf16(c.line))
            << QString::fromUtf16(c.text).toStdString();
    }
}

// In a Chinese locale the application font is a CJK face with taller lines. The panel's height
// in the window's default size still holds its twelve rows without a scroll bar.
TEST(DetailsPanelFontTest, TwelveRowsFitUnderACjkApplicationFont) {
    QApplication& app = maptest::app();
    const QFont saved = app.font();
    QFont cjk(QStringLiteral("Noto Sans CJK SC"));
    cjk.setPixelSize(saved.pixelSize() > 0 ? saved.pixelSize() : 13);
    app.setFont(cjk);
    LocalizationManager loc(nullptr, {"zh"});
    auto root = std::make_unique<FileNode>("big", true, nullptr);
    root->setRootPath("/big");
    for (int i = 0; i < 14; ++i) {
        maptest::add(*root, "folder " + std::to_string(i), true, (20 - i) * 1'000'000);
    }
    maptest::finishTree(*root);
    {
        DetailsPanel panel(loc);
        panel.resize(DetailsPanel::kWidth, 597);
        panel.setFocusNode(root.get());
        panel.show();
        QCoreApplication::processEvents();
        ASSERT_EQ(panel.rows().size(), 12u);
        auto* scroll = panel.findChild<QScrollArea*>();
        ASSERT_NE(scroll, nullptr);
        EXPECT_FALSE(scroll->verticalScrollBar()->isVisible());
        const DetailsRow* last = panel.rows().back();
        const QRect shown = QRect(last->mapTo(scroll->viewport(), QPoint(0, 0)), last->size());
        EXPECT_TRUE(scroll->viewport()->rect().contains(shown)) << shown.bottom();
        maptest::savePng(maptest::render(&panel), "details-zh-cjk-font.png");
    }
    app.setFont(saved);
}

}  // namespace
}  // namespace cb
