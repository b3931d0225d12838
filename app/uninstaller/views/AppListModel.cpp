#include "app/uninstaller/views/AppListModel.h"

#include <algorithm>

namespace cb {

AppListModel::AppListModel(QObject* parent) : QAbstractListModel(parent) {}

void AppListModel::setApps(std::vector<std::shared_ptr<InstalledApp>> apps) {
    const bool sameRows =
        std::equal(apps.begin(), apps.end(), apps_.begin(), apps_.end(),
                   [](const auto& a, const auto& b) { return a->id() == b->id(); });
    if (sameRows) {
        apps_ = std::move(apps);
        if (!apps_.empty()) {
            emit dataChanged(index(0), index(static_cast<int>(apps_.size()) - 1));
        }
        return;
    }
    beginResetModel();
    apps_ = std::move(apps);
    endResetModel();
}

InstalledApp* AppListModel::appAt(const QModelIndex& index) const {
    return sharedAppAt(index).get();
}

std::shared_ptr<InstalledApp> AppListModel::sharedAppAt(const QModelIndex& index) const {
    if (!index.isValid() || index.model() != this || index.row() < 0 ||
        static_cast<size_t>(index.row()) >= apps_.size() || index.column() != 0) {
        return nullptr;
    }
    return apps_[static_cast<size_t>(index.row())];
}

int AppListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(apps_.size());
}

QVariant AppListModel::data(const QModelIndex& index, int role) const {
    InstalledApp* app = appAt(index);
    if (app == nullptr) {
        return {};
    }
    switch (role) {
        case Qt::DisplayRole:
            return QString::fromStdString(app->name());
        case kAppRole:
            return QVariant::fromValue(static_cast<QObject*>(app));
        case kIdRole:
            return app->id().toString(QUuid::WithoutBraces);
        default:
            return {};
    }
}

}  // namespace cb
