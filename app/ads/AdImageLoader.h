#pragma once

#include <QImage>
#include <QObject>
#include <QUrl>
#include <cstddef>
#include <functional>
#include <memory>

#include "app/StateHandle.h"

namespace cb {

// Ad image bodies larger than this are dropped unread.
inline constexpr std::size_t kMaxAdImageBytes = 8u << 20;

// Images with more pixels than this are not decoded (a small file can declare a huge picture).
inline constexpr qint64 kMaxAdImagePixels = 4096 * 4096;

// Decodes `bytes` into an image in a format that paints fast. Returns a null image when the
// bytes are not an image Qt can read, or when the picture is larger than kMaxAdImagePixels.
// Any thread.
QImage decodeAdImage(const QByteArray& bytes);

// Loads the images of the ad bar: each one is fetched through the shared URL session (http
// and https only, bodies over kMaxAdImageBytes dropped), decoded on a thread of Qt's global
// pool, and handed back on the UI thread. Nothing is cached.
//
// A load's `done` runs once, on the UI thread, with the image or with a null image when the
// address is not http or https, the transfer fails, the status is not 2xx or the body does not
// decode. It never runs after the loader is destroyed.
class AdImageLoader : public QObject {
    Q_OBJECT

  public:
    using Done = std::function<void(QImage)>;

    // REQUIRES: called on the UI thread.
    explicit AdImageLoader(QObject* parent = nullptr);
    ~AdImageLoader() override;

    AdImageLoader(const AdImageLoader&) = delete;
    AdImageLoader& operator=(const AdImageLoader&) = delete;

    // Starts loading `url` and returns at once. UI thread.
    void load(const QUrl& url, Done done);

  private:
    void decode(std::string body, Done done);

    const std::shared_ptr<StateHandle<AdImageLoader>> handle_;
};

}  // namespace cb
