#include "app/views/DeleteConfirmDialog.h"

#include <QLabel>
#include <QPushButton>

#include <algorithm>
#include <memory>

#include "app/disk/FileNode.h"
#include "app/views/ScreenStyle.h"
#include "tests/app/views/ScreenTestSupport.h"

namespace cb {
namespace {

using test::buttonText;
using test::labelText;

// A scan root at /Volumes/Data holding the folder "Projects" (1234 files) with one file.
struct Tree {
    Tree() : root("Data", true, nullptr) {
        root.setRootPath("/Volumes/Data");
        auto& projects = root.appendChild(std::make_unique<FileNode>("Projects", true, &root));
        projects.setSize(5'000'000'000);
        projects.setFileCount(1234);
        folder = &projects;
        auto& notes =
            projects.appendChild(std::make_unique<FileNode>("notes.txt", false, &projects));
        notes.setSize(4096);
        notes.setFileCount(1);
        file = &notes;
    }
    FileNode root;
    FileNode* folder;
    FileNode* file;
};

class DeleteConfirmDialogTest : public ::testing::Test {
  protected:
    void SetUp() override { test::app(); }

    std::unique_ptr<DeleteConfirmDialog> dialogFor(const FileNode& node) {
        return std::make_unique<DeleteConfirmDialog>(
            node, [this] { ++cancels; }, [this] { ++confirms; }, loc);
    }

    LocalizationManager loc{nullptr, {"en"}};
    Tree tree;
    int cancels = 0;
    int confirms = 0;
};

TEST_F(DeleteConfirmDialogTest, FolderShowsFourFactsAndFileShowsThree) {
    struct Case {
        const FileNode* node;
        QString body;
        QString path;
        bool hasCount;
    };
    const Case cases[] = {
        {tree.folder, "The folder and all of its contents will be moved to the Finder Trash.",
         "/Volumes/Data/Projects", true},
        {tree.file, "The file will be moved to the Finder Trash.",
         "/Volumes/Data/Projects/notes.txt", false},
        {&tree.root, "The folder and all of its contents will be moved to the Finder Trash.",
         "/Volumes/Data", true},
    };
    for (const Case& c : cases) {
        auto dialog = dialogFor(*c.node);
        SCOPED_TRACE(c.path.toStdString());
        EXPECT_EQ(labelText(dialog.get(), "title"), "Move to Trash?");
        EXPECT_EQ(labelText(dialog.get(), "body"), c.body);
        EXPECT_EQ(labelText(dialog.get(), "label:delete.name"), "Name");
        EXPECT_EQ(labelText(dialog.get(), "label:delete.path"), "Path");
        EXPECT_EQ(labelText(dialog.get(), "label:delete.size"), "Size");
        EXPECT_EQ(labelText(dialog.get(), "value:delete.name"),
                  QString::fromStdString(c.node->name()));
        EXPECT_EQ(labelText(dialog.get(), "value:delete.path"), c.path);
        EXPECT_EQ(labelText(dialog.get(), "value:delete.size"), style::byteText(c.node->size()));
        EXPECT_EQ(dialog->findChild<QLabel*>("label:delete.count") != nullptr, c.hasCount);
        EXPECT_EQ(buttonText(dialog.get(), "cancel"), "Cancel");
        EXPECT_EQ(buttonText(dialog.get(), "confirm"), "Move to Trash");
    }
    auto folder = dialogFor(*tree.folder);
    EXPECT_EQ(labelText(folder.get(), "label:delete.count"), "Files");
    EXPECT_EQ(labelText(folder.get(), "value:delete.count"), "1234");
}

// The darkest grey drawn inside `label` (0 black .. 255 white), from a picture of `window`.
int darkestInk(const QImage& picture, const QWidget& window, const QLabel& label) {
    const QRect area(label.mapTo(&window, QPoint(0, 0)), label.size());
    int darkest = 255;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            darkest = std::min(darkest, qGray(picture.pixel(x, y)));
        }
    }
    return darkest;
}

TEST_F(DeleteConfirmDialogTest, SecondaryTextIsDrawnDimmerThanTheTitleYetReadable) {
    auto dialog = dialogFor(*tree.folder);
    dialog->adjustSize();
    const QImage picture = dialog->grab().toImage();
    const int background = qGray(dialog->palette().color(QPalette::Window).rgb());
    const int title = darkestInk(picture, *dialog, *dialog->findChild<QLabel*>("title"));
    for (const char* name : {"body", "label:delete.path"}) {
        SCOPED_TRACE(name);
        const int secondary = darkestInk(picture, *dialog, *dialog->findChild<QLabel*>(name));
        EXPECT_GT(secondary, title + 40) << "as dark as the title";
        EXPECT_LT(secondary, background - 90) << "too faint to read";
    }
}

TEST_F(DeleteConfirmDialogTest, NegativeSizeIsShownAsZero) {
    tree.file->setSize(-5);
    auto dialog = dialogFor(*tree.file);
    EXPECT_EQ(labelText(dialog.get(), "value:delete.size"), style::byteText(0));
}

TEST_F(DeleteConfirmDialogTest, ButtonsAndKeysCallTheirActionsOnly) {
    auto dialog = dialogFor(*tree.folder);
    test::showActive(dialog.get());
    QTest::keyClick(dialog.get(), Qt::Key_Return);
    EXPECT_EQ(confirms, 1);
    EXPECT_EQ(cancels, 0);
    QTest::keyClick(dialog.get(), Qt::Key_Escape);
    EXPECT_EQ(cancels, 1);
    dialog->findChild<QPushButton*>("cancel")->click();
    dialog->findChild<QPushButton*>("confirm")->click();
    EXPECT_EQ(cancels, 2);
    EXPECT_EQ(confirms, 2);
    EXPECT_TRUE(dialog->isVisible()) << "the window, not the dialog, closes it";
}

TEST_F(DeleteConfirmDialogTest, KeysActOnlyOnTheDialogThatHasTheFocus) {
    // Two dialogs in one window, the second shown over the first: the keys reach the second.
    QWidget window;
    int otherConfirms = 0;
    auto* below = new DeleteConfirmDialog(
        *tree.file, [] {}, [&] { ++otherConfirms; }, loc, &window);
    auto* above = new DeleteConfirmDialog(
        *tree.folder, [this] { ++cancels; }, [this] { ++confirms; }, loc, &window);
    window.resize(1000, 600);
    below->move(0, 0);
    above->move(480, 0);
    test::showActive(&window);
    above->hide();
    above->show();  // shown last, as an overlay appears: it takes the focus
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    EXPECT_EQ(confirms, 1);
    EXPECT_EQ(otherConfirms, 0);
}

TEST_F(DeleteConfirmDialogTest, LongPathKeepsItsBeginningAndEnd) {
    FileNode* parent = tree.folder;
    for (int i = 0; i < 30; ++i) {
        parent = &parent->appendChild(
            std::make_unique<FileNode>("directory-level-" + std::to_string(i), true, parent));
    }
    auto& leaf = parent->appendChild(std::make_unique<FileNode>("final-name.bin", false, parent));
    auto dialog = dialogFor(leaf);
    test::showActive(dialog.get());
    auto* path = dialog->findChild<MiddleElidedLabel*>("value:delete.path");
    ASSERT_NE(path, nullptr);
    EXPECT_TRUE(path->isElided());
    const QStringList lines = path->text().split(u'\n');
    ASSERT_EQ(lines.size(), 2);
    EXPECT_TRUE(lines.front().startsWith("/Volumes/Data/Projects"));
    EXPECT_TRUE(lines.back().endsWith("final-name.bin"));
    EXPECT_TRUE(lines.back().contains(u'…'));
    EXPECT_EQ(path->fullText(), QString::fromStdString(leaf.path()));
    EXPECT_LE(dialog->width(), 460);
}

TEST_F(DeleteConfirmDialogTest, LanguageSwitchRelabelsEverything) {
    auto dialog = dialogFor(*tree.folder);
    test::savePng(dialog.get(), "delete-dialog-en.png");
    loc.setCurrent(Language::german);
    EXPECT_EQ(labelText(dialog.get(), "title"), loc.qtext("delete.title"));
    EXPECT_EQ(labelText(dialog.get(), "body"), loc.qtext("delete.bodyDir"));
    EXPECT_EQ(labelText(dialog.get(), "label:delete.path"), "Pfad");
    EXPECT_EQ(labelText(dialog.get(), "label:delete.count"), "Dateien");
    EXPECT_EQ(buttonText(dialog.get(), "cancel"), "Abbrechen");
    EXPECT_EQ(labelText(dialog.get(), "value:delete.count"), "1234");
    test::savePng(dialog.get(), "delete-dialog-de.png");
}

}  // namespace
}  // namespace cb
