#include "app/uninstaller/InstalledApp.h"

#include <QCoreApplication>
#include <QThread>
#include <cassert>
#include <utility>

#include "app/uninstaller/IdentifierText.h"

namespace cb {

namespace {

int64_t saturatingAdd(int64_t a, int64_t b) {
    int64_t sum = 0;
    if (__builtin_add_overflow(a, b, &sum)) {
        return b > 0 ? INT64_MAX : INT64_MIN;
    }
    return sum;
}

// Deletes on the object's own thread: at once when that is the calling thread or when there is
// no application event loop to defer to, otherwise through the application thread's loop.
void deleteOnOwnThread(InstalledApp* app) {
    QCoreApplication* core = QCoreApplication::instance();
    if (core != nullptr && app->thread() == core->thread() &&
        QThread::currentThread() != app->thread()) {
        app->deleteLater();
        return;
    }
    delete app;
}

}  // namespace

InstalledApp::InstalledApp(QUuid id, Fixed fixed) : id_(id), fixed_(std::move(fixed)) {}

std::shared_ptr<InstalledApp> InstalledApp::make(Fixed fixed) {
    assert(!fixed.bundleID.empty());
    std::shared_ptr<InstalledApp> app(new InstalledApp(QUuid::createUuid(), std::move(fixed)),
                                      deleteOnOwnThread);
    if (QCoreApplication* core = QCoreApplication::instance();
        core != nullptr && core->thread() != QThread::currentThread()) {
        app->moveToThread(core->thread());
    }
    return app;
}

void InstalledApp::setBundleSize(int64_t size) {
    bundleSize_ = size;
    emit bundleSizeChanged();
}

void InstalledApp::setRelated(std::vector<RelatedFile> related) {
    related_ = std::move(related);
    emit relatedChanged();
}

void InstalledApp::setRelatedLoaded(bool loaded) {
    relatedLoaded_ = loaded;
    emit relatedLoadedChanged();
}

void InstalledApp::setRelatedLoading(bool loading) {
    relatedLoading_ = loading;
    emit relatedLoadingChanged();
}

int64_t InstalledApp::totalSize() const {
    int64_t total = bundleSize_;
    for (const RelatedFile& file : related_) {
        total = saturatingAdd(total, file.size);
    }
    return total;
}

bool InstalledApp::isRunning(platform::Workspace& workspace) const {
    const std::string own = canonicalIdentifier(fixed_.bundleID);
    for (const platform::RunningApplication& running : workspace.runningApplications()) {
        if (running.bundleIdentifier && canonicalIdentifier(*running.bundleIdentifier) == own) {
            return true;
        }
    }
    return false;
}

}  // namespace cb
