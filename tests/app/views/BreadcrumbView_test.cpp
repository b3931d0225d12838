#include "app/views/BreadcrumbView.h"

#include <gtest/gtest.h>

#include <QLabel>
#include <QPushButton>

#include "tests/app/views/MapTestSupport.h"

namespace cb {
namespace {

class BreadcrumbViewTest : public ::testing::Test {
  protected:
    // The crumbs and chevrons in layout order: a crumb as its title ("*" marks the focus's),
    // a chevron as ">".
    QStringList parts() const {
        QStringList list;
        for (QWidget* child : view_.findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
            if (child->isHidden()) {
                continue;
            }
            if (auto* crumb = qobject_cast<QPushButton*>(child)) {
                list << (crumb->objectName() == "crumb-focus" ? "*" : "") + crumb->text();
            } else if (child->objectName() == "chevron") {
                list << ">";
            }
        }
        return list;
    }
    QPushButton* crumb(const QString& title) const {
        for (auto* button : view_.findChildren<QPushButton*>()) {
            if (!button->isHidden() && button->text() == title) {
                return button;
            }
        }
        return nullptr;
    }

    QApplication& app_ = maptest::app();  // before any widget
    BreadcrumbView view_;
};

TEST_F(BreadcrumbViewTest, RootAloneIsOneFocusedCrumbWithoutChevron) {
    auto root = std::make_unique<FileNode>("", true, nullptr);  // the start-up volume
    root->setRootPath("/");
    view_.setFocusNode(root.get());
    EXPECT_EQ(parts(), QStringList({"*/"}));
    EXPECT_EQ(crumb("/")->font().weight(), QFont::DemiBold);
}

TEST_F(BreadcrumbViewTest, DeepFocusShowsTheWholeChainAndEveryCrumbSelects) {
    auto tree = maptest::makeFixtureTree();
    FileNode* library = tree->children()[0].get();
    FileNode* caches0 = library->children()[0].get();
    FileNode* caches1 = caches0->children()[0].get();
    view_.setFocusNode(caches1);
    EXPECT_EQ(parts(), QStringList({"alice", ">", "Library", ">", "Caches0", ">", "*Caches1"}));
    EXPECT_EQ(crumb("Caches1")->font().weight(), QFont::DemiBold);
    EXPECT_EQ(crumb("Library")->font().weight(), QFont::Normal);
    view_.adjustSize();
    maptest::savePng(maptest::render(&view_), "breadcrumb-en.png");

    // The window answers a click by moving the focus, which rebuilds the crumbs while the
    // clicked button is still emitting.
    std::vector<FileNode*> selected;
    view_.setOnSelect([&](FileNode* node) {
        selected.push_back(node);
        view_.setFocusNode(node);
    });
    crumb("Caches1")->click();
    crumb("Library")->click();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(selected, (std::vector<FileNode*>{caches1, library}));
    EXPECT_EQ(parts(), QStringList({"alice", ">", "*Library"}));
}

// A focus 25 folders below the root, each folder named after its depth.
std::unique_ptr<FileNode> deepChain(FileNode*& focus) {
    auto root = std::make_unique<FileNode>("volume", true, nullptr);
    root->setRootPath("/volume");
    FileNode* node = root.get();
    for (int depth = 1; depth <= 25; ++depth) {
        node = &maptest::add(*node, "folder-at-depth-" + std::to_string(depth), true);
    }
    focus = node;
    return root;
}

TEST_F(BreadcrumbViewTest, ADeepTrailFitsItsWidthAndKeepsTheFocusWhole) {
    FileNode* focus = nullptr;
    auto root = deepChain(focus);
    view_.setFocusNode(focus);
    view_.show();  // a hidden widget gets its resize events only when shown
    QPushButton* last = view_.findChild<QPushButton*>("crumb-focus");
    ASSERT_NE(last, nullptr);
    // It asks for the whole trail but needs no more than the focus's crumb.
    EXPECT_GT(view_.sizeHint().width(), 2000);
    EXPECT_LE(view_.minimumSizeHint().width(), last->sizeHint().width());

    for (const int width : {2600, 700, 260, 90}) {
        SCOPED_TRACE(width);
        view_.resize(width, view_.sizeHint().height());
        const QRect row = view_.rect();
        for (QWidget* child : view_.findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
            if (!child->isHidden()) {
                EXPECT_TRUE(row.contains(child->geometry())) << child->objectName().toStdString();
            }
        }
        EXPECT_FALSE(last->isHidden());
        if (width >= 260) {
            EXPECT_EQ(last->text(), "folder-at-depth-25");
        } else {
            EXPECT_NE(last->text(), "folder-at-depth-25");  // shortened, never gone
            EXPECT_EQ(last->toolTip(), "folder-at-depth-25");
        }
        maptest::savePng(maptest::render(&view_),
                         QStringLiteral("breadcrumb-deep-%1.png").arg(width));
    }
    // Wide enough for every crumb shortened: the root's short crumb shows whole, the long ones
    // shortened.
    view_.resize(2600, view_.sizeHint().height());
    EXPECT_TRUE(view_.findChild<QWidget*>("crumb-more")->isHidden());
    EXPECT_EQ(parts().size(), 2 * 26 - 1);
    EXPECT_EQ(parts().front(), "volume");
    EXPECT_NE(parts()[2], "folder-at-depth-1");
    EXPECT_TRUE(parts()[2].startsWith("fo"));
    // Narrower: the crumbs nearest the root give way to a leading "…".
    view_.resize(700, view_.sizeHint().height());
    EXPECT_FALSE(view_.findChild<QWidget*>("crumb-more")->isHidden());
    EXPECT_LT(parts().size(), 2 * 26 - 1);
    EXPECT_GT(parts().size(), 10);
    EXPECT_EQ(parts().back(), "*folder-at-depth-25");
}

TEST_F(BreadcrumbViewTest, ChineseNamesRender) {
    auto tree = maptest::makeFixtureTree("文档", "缓存");
    FileNode* deep = tree->children()[0]->children()[0]->children()[0].get();
    view_.setFocusNode(deep);
    EXPECT_EQ(parts(), QStringList({"文档", ">", "Library", ">", "缓存0", ">", "*缓存1"}));
    view_.adjustSize();
    maptest::savePng(maptest::render(&view_), "breadcrumb-zh.png");
}

}  // namespace
}  // namespace cb
