#pragma once

#include <QWidget>
#include <functional>
#include <memory>

#include "app/uninstaller/InstalledApp.h"

class QLabel;
class QPushButton;
class QScrollArea;
class QVBoxLayout;

namespace cb {

class LocalizationManager;
class MiddleElidedLabel;

// The side panel of the apps screen for the selected application, 300 px wide: a header with
// the icon (56 x 56), the name, "v<version>" when there is one and the bundle identifier; the
// breakdown of its space (the bundle row, then one row per category of related files in category
// order, with the number of items and their size; a spinner row until the search has delivered,
// or "No related files found"); and the reveal and uninstall buttons.
//
// It only shows and forwards: it starts no search and changes no state. It redraws when the
// application's size or related files change and when the language changes.
class AppDetailPanel : public QWidget {
    Q_OBJECT

  public:
    static constexpr int kWidth = 300;

    // `loc` must outlive the panel. REQUIRES: app is non-null; called on the UI thread.
    AppDetailPanel(std::shared_ptr<InstalledApp> app, LocalizationManager& loc,
                   QWidget* parent = nullptr);

    // Shows another application.
    void setApp(std::shared_ptr<InstalledApp> app);
    const std::shared_ptr<InstalledApp>& app() const { return app_; }

    void setOnDelete(std::function<void()> action) { onDelete_ = std::move(action); }
    void setOnReveal(std::function<void()> action) { onReveal_ = std::move(action); }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    void buildHeader(QVBoxLayout* column);
    void buildFooter(QVBoxLayout* column);
    void refresh();
    void refreshTexts();
    void rebuildBreakdown();
    // The related section: a spinner row until the search delivered, the no-related text, or
    // one row per category in category order.
    void addRelatedRows(QVBoxLayout* list, QWidget* content) const;
    QWidget* breakdownRow(const char* symbol, const QString& title, std::optional<int64_t> count,
                          int64_t size, QWidget* parent) const;

    std::shared_ptr<InstalledApp> app_;
    LocalizationManager& loc_;
    std::function<void()> onDelete_;
    std::function<void()> onReveal_;
    QList<QMetaObject::Connection> appConnections_;

    QLabel* icon_ = nullptr;
    QLabel* name_ = nullptr;
    QLabel* version_ = nullptr;
    MiddleElidedLabel* bundleID_ = nullptr;
    QScrollArea* scroll_ = nullptr;
    QPushButton* reveal_ = nullptr;
    QPushButton* uninstall_ = nullptr;
};

}  // namespace cb
