#pragma once

#include <QImage>
#include <QObject>
#include <QUuid>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/uninstaller/RelatedFile.h"
#include "platform/workspace/Workspace.h"

namespace cb {

// One installed application bundle, shared by the apps list, the detail panel, the uninstall
// dialog and the window state.
//
// Design notes
// ------------
// Held by std::shared_ptr (background work that fills it in holds a std::weak_ptr and hands its
// result back to the UI thread). It has no equality of its own: code that compares applications
// compares their id().
//
// The fields fixed at creation (id, url, name, bundleID, version, lastOpened, icon) never change
// and may be read from any thread. The four published fields (bundleSize, related,
// relatedLoaded, relatedLoading) are read and written on the object's thread only, which is the
// UI thread once the object is published; every write, also of the value already held, emits the
// field's change signal after the value is stored, so observers redraw on every report.
//
// Lifecycle of the published fields (written by the window state):
//   made         bundleSize 0, related empty, relatedLoaded false, relatedLoading false
//   measured     setBundleSize(n)
//   search runs  setRelatedLoading(true)
//   search done  setRelated(files), setRelatedLoaded(true), setRelatedLoading(false)
class InstalledApp : public QObject {
    Q_OBJECT

  public:
    using Date = std::chrono::system_clock::time_point;

    // The fixed fields, as discovery (makeInstalledApp) reads them from the bundle.
    struct Fixed {
        std::filesystem::path url;  // the ".app" folder
        std::string name;           // display name (UTF-8)
        std::string bundleID;       // never empty
        std::optional<std::string> version;
        std::optional<Date> lastOpened;  // absent when unknown
        QImage icon;                     // null when the bundle has no usable icon
    };

    // The size, in logical pixels, at which views draw the icon.
    static constexpr int kIconPointSize = 48;

    // Makes an application with a fresh random id and the initial published values. The object
    // belongs to the calling thread; when it is made on another thread than that of the
    // QCoreApplication (if one exists), it is moved to the application's thread before this
    // returns, ready to be published there. The last owner to let go may be on any thread: the
    // object is then deleted on its own thread (deferred when that is another one).
    // REQUIRES: !fixed.bundleID.empty().
    static std::shared_ptr<InstalledApp> make(Fixed fixed);

    const QUuid& id() const { return id_; }
    const std::filesystem::path& url() const { return fixed_.url; }
    const std::string& name() const { return fixed_.name; }
    const std::string& bundleID() const { return fixed_.bundleID; }
    const std::optional<std::string>& version() const { return fixed_.version; }
    const std::optional<Date>& lastOpened() const { return fixed_.lastOpened; }
    const QImage& icon() const { return fixed_.icon; }

    // Allocated bytes of the bundle; 0 until measured.
    int64_t bundleSize() const { return bundleSize_; }
    void setBundleSize(int64_t size);

    // The related files found by the last search, in path order; empty until searched.
    const std::vector<RelatedFile>& related() const { return related_; }
    void setRelated(std::vector<RelatedFile> related);

    // True once a related-file search for this application has delivered its result.
    bool relatedLoaded() const { return relatedLoaded_; }
    void setRelatedLoaded(bool loaded);

    // True while a related-file search for this application runs.
    bool relatedLoading() const { return relatedLoading_; }
    void setRelatedLoading(bool loading);

    // bundleSize() plus the size of every related file, computed on each call (saturating
    // instead of overflowing).
    int64_t totalSize() const;

    // Whether `workspace` lists a running application whose bundle identifier is this
    // application's bundleID() (letter case counts; canonically equivalent spellings are equal).
    // Running applications without an identifier never match. Asks the workspace on every
    // call, so it tells the moment of the call; blocks for the time /proc takes to read. Any
    // thread.
    bool isRunning(platform::Workspace& workspace = platform::Workspace::shared()) const;

  signals:
    void bundleSizeChanged();
    void relatedChanged();
    void relatedLoadedChanged();
    void relatedLoadingChanged();

  private:
    InstalledApp(QUuid id, Fixed fixed);

    const QUuid id_;
    const Fixed fixed_;
    int64_t bundleSize_ = 0;
    std::vector<RelatedFile> related_;
    bool relatedLoaded_ = false;
    bool relatedLoading_ = false;
};

}  // namespace cb
