#include "app/uninstaller/views/AppUninstallDialog.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QTimer>
#include <QVBoxLayout>
#include <optional>

#include "app/disk/TrashError.h"
#include "app/localization/LocalizationManager.h"
#include "app/uninstaller/IdentifierText.h"
#include "app/uninstaller/RelatedFileGroups.h"
#include "app/views/MiddleElidedLabel.h"
#include "app/views/ScreenStyle.h"
#include "app/views/SymbolIcons.h"

namespace cb {

namespace {

constexpr int kIconSize = 48;
constexpr int kInset = 20;

// A box with a rounded background: `tint` (the secondary text colour when unset) at `opacity`.
class FilledBox : public QWidget {
  public:
    FilledBox(double opacity, double radius, std::optional<QColor> tint, QWidget* parent)
        : QWidget(parent), opacity_(opacity), radius_(radius), tint_(tint) {}

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(
            style::withOpacity(tint_.value_or(style::secondaryText(palette())), opacity_));
        painter.drawRoundedRect(QRectF(rect()), radius_, radius_);
    }

  private:
    double opacity_;
    double radius_;
    std::optional<QColor> tint_;
};

// style::textLabel() with an object name, by which tests find it.
QLabel* namedLabel(const QString& text, const QFont& font, const QColor& color, const QString& name,
                   QWidget* parent) {
    QLabel* label = style::textLabel(font, color, parent, text);
    label->setObjectName(name);
    return label;
}

// A one-line path in 10 px monospace, shortened in the middle.
MiddleElidedLabel* pathLabel(const std::filesystem::path& path, const QColor& color,
                             const QString& name, QWidget* parent) {
    auto* label = new MiddleElidedLabel(1, false, parent);
    label->setObjectName(name);
    label->setFont(style::monospacedFont(10));
    style::setTextColor(label, color);
    label->setFullText(QString::fromStdString(path.string()));
    return label;
}

// A checkbox without a text.
QCheckBox* checkBox(bool checked, const QString& name, QWidget* parent) {
    auto* box = new QCheckBox(parent);
    box->setObjectName(name);
    box->setChecked(checked);
    return box;
}

int64_t saturatingSum(int64_t a, int64_t b) {
    int64_t sum = 0;
    if (__builtin_add_overflow(a, b, &sum)) {
        return b > 0 ? INT64_MAX : INT64_MIN;
    }
    return sum;
}

}  // namespace

AppUninstallDialog::AppUninstallDialog(
    std::shared_ptr<InstalledApp> app, std::function<void()> onCancel,
    std::function<void(std::vector<std::filesystem::path>)> onConfirm, LocalizationManager& loc,
    platform::Workspace& workspace, QWidget* parent)
    : QWidget(parent),
      app_(std::move(app)),
      onCancel_(std::move(onCancel)),
      onConfirm_(std::move(onConfirm)),
      loc_(loc),
      workspace_(workspace) {
    setObjectName(QStringLiteral("AppUninstallDialog"));
    setFixedWidth(kWidth);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(kInset, kInset, kInset, kInset);
    column->setSpacing(14);
    column->addWidget(buildHeader());
    column->addWidget(buildWarning());
    list_ = new QScrollArea(this);
    list_->setObjectName(QStringLiteral("list"));
    list_->setFrameShape(QFrame::NoFrame);
    list_->setWidgetResizable(true);
    list_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    list_->viewport()->setAutoFillBackground(false);
    column->addWidget(list_);
    column->addWidget(buildFooter());
    style::bindDialogKeys(this, confirm_, cancel_);

    // Seeding: every file found so far gets its default; the running state is asked once.
    seedMissingChoices();
    runningStatus_ = app_->isRunning(workspace_);
    const InstalledApp* shown = app_.get();
    connect(shown, &InstalledApp::relatedLoadedChanged, this, [this] {
        seedMissingChoices();
        rebuildList();
    });
    connect(shown, &InstalledApp::relatedChanged, this, &AppUninstallDialog::rebuildList);
    connect(shown, &InstalledApp::bundleSizeChanged, this, &AppUninstallDialog::rebuildList);
    loc_.observeCurrent(this, [this](Language) {
        refreshTexts();
        rebuildList();
    });
}

// ---- Derived values ----

bool AppUninstallDialog::isChosen(const RelatedFile& file) const {
    auto entry = relatedChecked_.constFind(file.id);
    return entry != relatedChecked_.constEnd() ? *entry : !file.isShared;
}

std::vector<std::filesystem::path> AppUninstallDialog::selectedURLs() const {
    std::vector<std::filesystem::path> urls;
    if (bundleChecked_) {
        urls.push_back(app_->url());
    }
    for (const RelatedFile& file : app_->related()) {
        if (isChosen(file)) {
            urls.push_back(file.url);
        }
    }
    return urls;
}

int64_t AppUninstallDialog::selectedSize() const {
    int64_t size = bundleChecked_ ? app_->bundleSize() : 0;
    for (const RelatedFile& file : app_->related()) {
        if (isChosen(file)) {
            size = saturatingSum(size, file.size);
        }
    }
    return size;
}

std::vector<AppUninstallDialog::Section> AppUninstallDialog::sections() const {
    std::vector<Section> result;
    for (auto& [category, files] : groupRelatedFilesByCategory(app_->related())) {
        result.emplace_back(category, inDisplayOrder(std::move(files)));
    }
    return result;
}

// ---- Actions ----

void AppUninstallDialog::setBundleChecked(bool checked) {
    bundleChecked_ = checked;
    refreshChoice();
}

void AppUninstallDialog::setRelatedChecked(const QUuid& id, bool checked) {
    relatedChecked_.insert(id, checked);
    refreshChoice();
}

void AppUninstallDialog::confirmUninstall() {
    setRunningStatus(app_->isRunning(workspace_));
    if (!app_->relatedLoaded() || runningStatus_ || selectedURLs().empty()) {
        return;
    }
    onConfirm_(selectedURLs());
}

void AppUninstallDialog::quitRunningApp() {
    for (const platform::RunningApplication& running : workspace_.runningApplications()) {
        if (running.bundleIdentifier &&
            sameIdentifier(*running.bundleIdentifier, app_->bundleID())) {
            workspace_.terminate(running.pid);
            break;  // one instance per press
        }
    }
    // The dialog is the timer's context: once it is closed, the re-check never runs.
    QTimer::singleShot(kQuitRecheckMs, this,
                       [this] { setRunningStatus(app_->isRunning(workspace_)); });
}

void AppUninstallDialog::seedMissingChoices() {
    for (const RelatedFile& file : app_->related()) {
        if (!relatedChecked_.contains(file.id)) {
            relatedChecked_.insert(file.id, !file.isShared);
        }
    }
}

void AppUninstallDialog::setRunningStatus(bool running) {
    runningStatus_ = running;
    warning_->setVisible(running);
    quit_->setVisible(running);
    refreshChoice();
}

// ---- Building ----

QWidget* AppUninstallDialog::buildHeader() {
    auto* header = new QWidget(this);
    auto* row = new QHBoxLayout(header);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(12);
    auto* icon = new QLabel(header);
    icon->setObjectName(QStringLiteral("icon"));
    icon->setFixedSize(kIconSize, kIconSize);
    icon->setScaledContents(true);
    const QColor secondary = style::secondaryText(palette());
    icon->setPixmap(app_->icon().isNull()
                        ? symbolPixmap("app", kIconSize, secondary, devicePixelRatioF())
                        : QPixmap::fromImage(app_->icon()));
    row->addWidget(icon);
    auto* texts = new QVBoxLayout;
    texts->setSpacing(3);
    title_ = namedLabel({}, style::systemFont(15, QFont::DemiBold), style::primaryText(palette()),
                        QStringLiteral("title"), header);
    texts->addWidget(title_);
    texts->addWidget(namedLabel(QString::fromStdString(app_->bundleID()), style::monospacedFont(10),
                                secondary, QStringLiteral("bundleID"), header));
    if (app_->version()) {
        texts->addWidget(namedLabel(QStringLiteral("v") + QString::fromStdString(*app_->version()),
                                    style::systemFont(11), secondary, QStringLiteral("version"),
                                    header));
    }
    row->addLayout(texts, 1);
    totalSize_ = namedLabel({}, style::roundedFont(15, QFont::DemiBold),
                            style::primaryText(palette()), QStringLiteral("totalSize"), header);
    row->addWidget(totalSize_);
    return header;
}

QWidget* AppUninstallDialog::buildWarning() {
    warning_ = new FilledBox(0.12, 8, style::systemOrange(), this);
    warning_->setObjectName(QStringLiteral("runningWarning"));
    auto* row = new QHBoxLayout(warning_);
    row->setContentsMargins(10, 10, 10, 10);
    row->setSpacing(10);
    row->addWidget(
        style::symbolLabel("exclamationmark.triangle.fill", 18, style::systemOrange(), warning_));
    auto* texts = new QVBoxLayout;
    texts->setSpacing(1);
    runningTitle_ =
        namedLabel({}, style::systemFont(12, QFont::DemiBold), style::primaryText(palette()),
                   QStringLiteral("runningTitle"), warning_);
    runningHelp_ = namedLabel({}, style::systemFont(11), style::secondaryText(palette()),
                              QStringLiteral("runningHelp"), warning_);
    texts->addWidget(runningTitle_);
    texts->addWidget(runningHelp_);
    row->addLayout(texts, 1);
    return warning_;
}

QWidget* AppUninstallDialog::buildFooter() {
    auto* footer = new QWidget(this);
    auto* row = new QHBoxLayout(footer);
    row->setContentsMargins(0, 0, 0, 0);
    cancel_ = new QPushButton(footer);
    cancel_->setObjectName(QStringLiteral("cancel"));
    style::styleButton(cancel_, style::ButtonLook::standard, style::ControlSize::regular);
    quit_ = new QPushButton(footer);
    quit_->setObjectName(QStringLiteral("quit"));
    style::styleButton(quit_, style::ButtonLook::standard, style::ControlSize::regular);
    confirm_ = new QPushButton(footer);
    confirm_->setObjectName(QStringLiteral("confirm"));
    style::styleButton(confirm_, style::ButtonLook::destructive, style::ControlSize::regular);
    row->addWidget(cancel_);
    row->addStretch(1);
    row->addWidget(quit_);
    row->addWidget(confirm_);
    connect(cancel_, &QPushButton::clicked, this, [this] { onCancel_(); });
    connect(quit_, &QPushButton::clicked, this, &AppUninstallDialog::quitRunningApp);
    connect(confirm_, &QPushButton::clicked, this, &AppUninstallDialog::confirmUninstall);
    return footer;
}

void AppUninstallDialog::rebuildList() {
    auto* content = new QWidget;
    content->setObjectName(QStringLiteral("listContent"));
    content->setAutoFillBackground(false);
    auto* column = new QVBoxLayout(content);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(6);
    column->addWidget(bundleRow(content));
    if (!app_->relatedLoaded()) {
        column->addWidget(searchingRow(content));
    } else {
        for (const Section& section : sections()) {
            column->addWidget(groupBlock(section, content));
        }
    }
    list_->setWidget(content);  // the old content is deleted
    // The list is as high as its content at the sheet's inner width, up to kListMaxHeight;
    // beyond that it scrolls. The height is taken with the final fonts and styles, which widgets
    // get when polished.
    for (QWidget* child : content->findChildren<QWidget*>()) {
        child->ensurePolished();
    }
    content->ensurePolished();
    const int width = kWidth - 2 * kInset;
    const int wanted = content->hasHeightForWidth() ? content->heightForWidth(width)
                                                    : content->sizeHint().height();
    list_->setVerticalScrollBarPolicy(wanted > kListMaxHeight ? Qt::ScrollBarAsNeeded
                                                              : Qt::ScrollBarAlwaysOff);
    list_->setFixedHeight(std::min(wanted, kListMaxHeight));
    refreshChoice();
}

QWidget* AppUninstallDialog::bundleRow(QWidget* parent) {
    auto* box = new FilledBox(0.06, 8, std::nullopt, parent);
    box->setObjectName(QStringLiteral("bundleRow"));
    auto* row = new QHBoxLayout(box);
    row->setContentsMargins(8, 8, 8, 8);
    row->setSpacing(10);
    QCheckBox* check = checkBox(bundleChecked_, QStringLiteral("bundleCheck"), box);
    connect(check, &QCheckBox::toggled, this, &AppUninstallDialog::setBundleChecked);
    row->addWidget(check);
    QLabel* symbol = style::symbolLabel("app.fill", 18, style::accent(palette()), box);
    row->addWidget(symbol);
    const QColor secondary = style::secondaryText(palette());
    auto* texts = new QVBoxLayout;
    texts->setSpacing(1);
    texts->addWidget(namedLabel(loc_.qtext("uninstall.bundleLabel"),
                                style::systemFont(12, QFont::DemiBold),
                                style::primaryText(palette()), QStringLiteral("bundleLabel"), box));
    texts->addWidget(pathLabel(app_->url(), secondary, QStringLiteral("bundlePath"), box));
    row->addLayout(texts, 1);
    row->addWidget(namedLabel(style::byteText(app_->bundleSize()),
                              style::roundedFont(11, QFont::Medium), secondary,
                              QStringLiteral("bundleSize"), box));
    return box;
}

QWidget* AppUninstallDialog::searchingRow(QWidget* parent) {
    auto* searching = new QWidget(parent);
    searching->setObjectName(QStringLiteral("searching"));
    auto* row = new QHBoxLayout(searching);
    row->setContentsMargins(8, 8, 8, 8);
    row->setSpacing(6);
    auto* spinner = new QProgressBar(searching);
    spinner->setObjectName(QStringLiteral("spinner"));
    spinner->setRange(0, 0);
    spinner->setTextVisible(false);
    spinner->setFixedSize(16, 16);
    row->addWidget(spinner);
    row->addWidget(namedLabel(loc_.qtext("uninstall.searching"), style::systemFont(11),
                              style::secondaryText(palette()), QStringLiteral("searchingText"),
                              searching));
    row->addStretch(1);
    return searching;
}

QWidget* AppUninstallDialog::groupBlock(const Section& section, QWidget* parent) {
    auto* block = new QWidget(parent);
    block->setObjectName(QStringLiteral("group"));
    auto* column = new QVBoxLayout(block);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(4);
    auto* header = new QWidget(block);
    auto* row = new QHBoxLayout(header);
    row->setContentsMargins(4, 4, 4, 0);
    row->setSpacing(6);
    const std::string symbol(icon(section.first));
    row->addWidget(style::symbolLabel(symbol.c_str(), 14,
                                      style::withOpacity(style::accent(palette()), 0.8), header));
    // The category's own title, the same in every language.
    row->addWidget(namedLabel(
        QString::fromUtf8(rawValue(section.first)), style::systemFont(11, QFont::DemiBold),
        style::secondaryText(palette()), QStringLiteral("groupTitle"), header));
    row->addStretch(1);
    column->addWidget(header);
    for (const RelatedFile& file : section.second) {
        column->addWidget(fileRow(file, block));
    }
    return block;
}

QWidget* AppUninstallDialog::fileRow(const RelatedFile& file, QWidget* parent) {
    auto* box = new FilledBox(0.04, 6, std::nullopt, parent);
    box->setObjectName(QStringLiteral("file:") + file.id.toString(QUuid::WithoutBraces));
    auto* row = new QHBoxLayout(box);
    row->setContentsMargins(8, 8, 8, 8);
    row->setSpacing(10);
    QCheckBox* check = checkBox(isChosen(file), QStringLiteral("check"), box);
    connect(check, &QCheckBox::toggled, this,
            [this, id = file.id](bool checked) { setRelatedChecked(id, checked); });
    row->addWidget(check);
    const QColor secondary = style::secondaryText(palette());
    auto* texts = new QVBoxLayout;
    texts->setSpacing(1);
    texts->addWidget(namedLabel(QString::fromStdString(lastPathComponent(file.url)),
                                style::systemFont(12), style::primaryText(palette()),
                                QStringLiteral("fileName"), box));
    texts->addWidget(pathLabel(file.url, secondary, QStringLiteral("filePath"), box));
    if (file.isShared) {
        QLabel* note = namedLabel(loc_.qtext("uninstall.sharedData"), style::systemFont(10),
                                  style::systemOrange(), QStringLiteral("sharedNote"), box);
        note->setWordWrap(true);
        texts->addWidget(note);
    }
    row->addLayout(texts, 1);
    row->addWidget(namedLabel(style::byteText(file.size), style::roundedFont(11, QFont::Medium),
                              secondary, QStringLiteral("fileSize"), box));
    return box;
}

// ---- Texts ----

void AppUninstallDialog::refreshTexts() {
    const std::string& name = app_->name();
    title_->setText(loc_.qformat("uninstall.confirmTitle", {name}));
    runningTitle_->setText(loc_.qtext("uninstall.running"));
    runningHelp_->setText(loc_.qformat("uninstall.runningHelp", {name}));
    cancel_->setText(loc_.qtext("common.cancel"));
    quit_->setText(loc_.qtext("uninstall.quit"));
    warning_->setVisible(runningStatus_);
    quit_->setVisible(runningStatus_);
}

void AppUninstallDialog::refreshChoice() {
    const std::vector<std::filesystem::path> urls = selectedURLs();
    const QString size = style::byteText(selectedSize());
    totalSize_->setText(size);
    confirm_->setText(
        loc_.qformat("uninstall.moveTrash", {std::to_string(urls.size()), size.toStdString()}));
    confirm_->setEnabled(!urls.empty() && !runningStatus_ && app_->relatedLoaded());
}

}  // namespace cb
