#include "app/WindowAlerts.h"

#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>

#include "app/AppState.h"
#include "app/localization/LocalizationManager.h"

namespace cb {

namespace {

// The alerts' "OK" is a fixed text, the same in every language.
const QString kOk = QStringLiteral("OK");

QString qstring(const std::optional<std::string>& text) {
    return text ? QString::fromStdString(*text) : QString();
}

}  // namespace

WindowAlerts::WindowAlerts(AppState& state, LocalizationManager& loc, QWidget* host)
    : QObject(host), state_(state), loc_(loc), host_(host) {
    connect(&state_, &AppState::errorMessageChanged, this, &WindowAlerts::showError);
    connect(&state_, &AppState::confirmThinSnapshotsChanged, this, &WindowAlerts::showConfirm);
    connect(&state_, &AppState::thinResultMessageChanged, this, &WindowAlerts::showResult);
    connect(&loc_, &LocalizationManager::currentChanged, this, &WindowAlerts::retranslate);
    showError();
    showConfirm();
    showResult();
}

QMessageBox* WindowAlerts::openBox(const char* name) {
    auto* box = new QMessageBox(host_);
    box->setObjectName(QLatin1String(name));
    box->setWindowModality(Qt::WindowModal);
    box->setIcon(QMessageBox::Warning);
    box->setAttribute(Qt::WA_DeleteOnClose);
    return box;
}

void WindowAlerts::closeBox(QPointer<QMessageBox>& box) {
    if (box) {
        QMessageBox* closing = box;
        box = nullptr;  // its finished() handler must not see itself as the open alert
        closing->close();
    }
}

void WindowAlerts::showError() {
    if (!state_.errorMessage()) {
        closeBox(error_);
        return;
    }
    if (!error_) {
        error_ = openBox("errorAlert");
        error_->addButton(kOk, QMessageBox::AcceptRole);
        connect(error_, &QMessageBox::finished, this, [this, box = error_.data()] {
            if (error_ == box && state_.errorMessage()) {
                state_.setErrorMessage(std::nullopt);
            }
        });
        retranslate();
        error_->open();
    }
    error_->setInformativeText(qstring(state_.errorMessage()));
}

void WindowAlerts::showConfirm() {
    if (!state_.confirmThinSnapshots()) {
        closeBox(confirm_);
        return;
    }
    if (confirm_) {
        return;
    }
    confirm_ = openBox("confirmAlert");
    confirm_->setIcon(QMessageBox::Question);
    cancel_ = confirm_->addButton(QString(), QMessageBox::RejectRole);
    reclaim_ = confirm_->addButton(QString(), QMessageBox::AcceptRole);
    confirm_->setDefaultButton(reclaim_);
    confirm_->setEscapeButton(cancel_);
    connect(confirm_, &QMessageBox::finished, this, [this, box = confirm_.data()] {
        if (confirm_ != box) {
            return;  // closed because the flag was cleared elsewhere
        }
        if (box->clickedButton() == reclaim_) {
            state_.thinSnapshots();
        }
        if (state_.confirmThinSnapshots()) {
            state_.setConfirmThinSnapshots(false);
        }
    });
    retranslate();
    confirm_->open();
}

void WindowAlerts::showResult() {
    if (!state_.thinResultMessage()) {
        closeBox(result_);
        return;
    }
    if (!result_) {
        result_ = openBox("resultAlert");
        result_->setIcon(QMessageBox::Information);
        result_->addButton(kOk, QMessageBox::AcceptRole);
        connect(result_, &QMessageBox::finished, this, [this, box = result_.data()] {
            if (result_ == box && state_.thinResultMessage()) {
                state_.setThinResultMessage(std::nullopt);
            }
        });
        retranslate();
        result_->open();
    }
    result_->setInformativeText(qstring(state_.thinResultMessage()));
}

void WindowAlerts::setTitle(QMessageBox* box, const QString& title) {
    box->setWindowTitle(title);
    box->setText(title);
    // A window manager elides a title wider than its window ("Faile…lete"): the text column is
    // made wide enough for the title in a bold face beside the title bar's own buttons.
    QFont titleFont = QApplication::font();
    titleFont.setBold(true);
    const int needed = QFontMetrics(titleFont).horizontalAdvance(title) + kTitleBarControls;
    if (auto* label = box->findChild<QLabel*>(QStringLiteral("qt_msgbox_label"))) {
        label->setMinimumWidth(needed);
    }
}

void WindowAlerts::retranslate() {
    if (error_) {
        setTitle(error_, loc_.qtext("delete.failed"));
    }
    if (confirm_) {
        setTitle(confirm_, loc_.qtext("snapshots.confirm.title"));
        confirm_->setInformativeText(loc_.qtext("snapshots.confirm.body"));
        cancel_->setText(loc_.qtext("common.cancel"));
        reclaim_->setText(loc_.qtext("snapshots.confirm.action"));
    }
    if (result_) {
        setTitle(result_, loc_.qtext("snapshots.result.title"));
    }
}

}  // namespace cb
