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
