#pragma once

#include <QStyledItemDelegate>
#include <QUuid>
#include <functional>

#include "app/uninstaller/InstalledApp.h"

namespace cb {

class LocalizationManager;

// Draws one row of the apps list: the icon (36 x 36), the name over "v<version> • <bundle id>",
// the total size over the last-opened text at the right, and, on the hovered row only, the red
// trash button. The row is 14 px in from each side and 8 px from top and bottom, and a divider
// at 30 % opacity closes it. The selected row is tinted with the accent colour at 14 %, the
// hovered one with the secondary colour at 6 %.
//
// A painting delegate: only rows near the visible area are drawn, and each draw reads the
// application as it is now. Which row is hovered and which selected is told by the list.
class AppRowView : public QStyledItemDelegate {
    Q_OBJECT

  public:
    using Clock = std::function<InstalledApp::Date()>;

    static constexpr int kRowHeight = 53;  // 8 + 36 + 8, and the divider
    static constexpr int kIconSize = 36;
    static constexpr int kTrashSize = 22;

    // `loc` must outlive the delegate. `now` gives the time the last-opened text counts from.
    AppRowView(const LocalizationManager& loc, Clock now, QObject* parent = nullptr);

    // The row under the pointer and the selected row (null ids: none).
    void setHovered(const QUuid& id) { hovered_ = id; }
    void setSelected(const QUuid& id) { selected_ = id; }
    const QUuid& hovered() const { return hovered_; }

    // Where the trash button of a row drawn in `rowRect` sits.
    static QRect trashRect(const QRect& rowRect);

    // The texts of a row.
    // "v<version> • <bundle id>", or the bundle id alone when there is no version.
    static QString detailLine(const InstalledApp& app);
    // The size text: the byte text of the total size, a negative one shown as zero.
    static QString sizeText(const InstalledApp& app);
    // "opened <relative date>" in the current language, or the never-opened text.
    QString lastOpenedText(const InstalledApp& app) const;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

  private:
    void paintTexts(QPainter& painter, const QRect& row, const InstalledApp& app, int rightEdge,
                    const QPalette& palette) const;

    const LocalizationManager& loc_;
    Clock now_;
    QUuid hovered_;
    QUuid selected_;
};

}  // namespace cb
