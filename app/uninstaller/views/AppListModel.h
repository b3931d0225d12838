#pragma once

#include <QAbstractListModel>
#include <memory>
#include <vector>

#include "app/uninstaller/InstalledApp.h"

namespace cb {

// The applications the apps list shows, in the order shown (searched and sorted by AppsView).
// One column; the display role is the name, kAppRole the InstalledApp (as QObject*), kIdRole
// its id as text. Rows are drawn by AppRowView from the application itself, so a new size only
// needs a repaint.
class AppListModel : public QAbstractListModel {
    Q_OBJECT

  public:
    static constexpr int kAppRole = Qt::UserRole + 1;
    static constexpr int kIdRole = Qt::UserRole + 2;

    explicit AppListModel(QObject* parent = nullptr);

    // Replaces the rows. When the ids come in the same order as before, the rows stay and are
    // reported changed (sizes and dates redraw); otherwise the model is reset.
    // REQUIRES: no element is null.
    void setApps(std::vector<std::shared_ptr<InstalledApp>> apps);
    const std::vector<std::shared_ptr<InstalledApp>>& apps() const { return apps_; }

    // The application of `index`, or null for an invalid index.
    InstalledApp* appAt(const QModelIndex& index) const;
    std::shared_ptr<InstalledApp> sharedAppAt(const QModelIndex& index) const;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

  private:
    std::vector<std::shared_ptr<InstalledApp>> apps_;
};

}  // namespace cb
