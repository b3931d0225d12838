#pragma once

#include <QString>
#include <QWidget>

#include <cstdint>
#include <functional>

class QLabel;
class QPushButton;

namespace cb {

class FileNode;
class LocalizationManager;
class MiddleElidedLabel;

// The question asked before an item of the scanned tree goes to the Trash: what happens to a folder
// or a file, the item's name, full path, size and (for a folder) file count, and the buttons Cancel
// (Escape) and "Move to Trash" (Return). It draws no card of its own: the window puts it on its
// overlay card. It changes nothing itself; both buttons call the given actions.
//
// The dialog copies the facts it shows when it is built and never reads the node again, so a node
// that leaves the tree while the dialog fades out cannot dangle.
class DeleteConfirmDialog : public QWidget {
  public:
    // Builds the dialog for `node`. `onCancel` and `onConfirm` run on the UI thread, once per
    // press. `loc` must outlive the dialog; every text is looked up in it and redrawn when its
    // language changes.
    DeleteConfirmDialog(const FileNode& node, std::function<void()> onCancel,
                        std::function<void()> onConfirm, LocalizationManager& loc,
                        QWidget* parent = nullptr);

  private:
    struct Facts {
        QString name;
        QString path;
        bool isDirectory = false;
        int64_t size = 0;
        int64_t fileCount = 0;
    };
    // One row of the facts box; both labels are owned by the dialog's widget tree.
    struct FactRow {
        const char* key;
        QLabel* label;
        MiddleElidedLabel* value;
    };

    static Facts factsOf(const FileNode& node);
    QWidget* buildHeader();
    QWidget* buildFacts();
    QWidget* buildButtons();
    void addFactRow(QWidget* box, const char* key, const QString& value, bool monospaced);
    void retranslate();

    const Facts facts_;
    std::function<void()> onCancel_;
    std::function<void()> onConfirm_;
    LocalizationManager& loc_;

    // Children whose texts follow the language; owned by this widget.
    QLabel* title_ = nullptr;
    QLabel* body_ = nullptr;
    QList<FactRow> rows_;
    QPushButton* cancel_ = nullptr;
    QPushButton* confirm_ = nullptr;
};

}  // namespace cb
