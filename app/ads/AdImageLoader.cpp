#include "app/ads/AdImageLoader.h"

#include <QBuffer>
#include <QImageReader>
#include <QThreadPool>
#include <chrono>

#include "platform/urlsession/URLSession.h"

namespace cb {

namespace {

constexpr std::chrono::seconds kImageTimeout{30};

// Decoding of a picture within kMaxAdImagePixels needs at most 64 MiB (4 bytes a pixel).
constexpr int kDecodeAllocationLimitMiB = 64;

bool isWebAddress(const QUrl& url) {
    const QString scheme = url.scheme().toLower();
    return url.isValid() && (scheme == u"http" || scheme == u"https");
}

}  // namespace

QImage decodeAdImage(const QByteArray& bytes) {
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    reader.setAllocationLimit(kDecodeAllocationLimitMiB);
    const QSize size = reader.size();
    if (!size.isValid() || qint64(size.width()) * size.height() > kMaxAdImagePixels) {
        return {};
    }
    QImage image = reader.read();
    if (image.isNull()) {
        return {};
    }
    return image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

AdImageLoader::AdImageLoader(QObject* parent)
    : QObject(parent), handle_(std::make_shared<StateHandle<AdImageLoader>>(this)) {}

AdImageLoader::~AdImageLoader() {
    handle_->invalidate();
}

void AdImageLoader::load(const QUrl& url, Done done) {
    if (!isWebAddress(url)) {
        // Still answered on a later turn, like every other load.
        handle_->post([done = std::move(done)](AdImageLoader&) { done(QImage()); });
        return;
    }
    platform::URLRequest request;
    request.url = url.toString(QUrl::FullyEncoded).toStdString();
    request.timeout = kImageTimeout;
    request.maxResponseBytes = kMaxAdImageBytes;
    platform::URLSession::shared().send(
        std::move(request),
        [handle = handle_, done = std::move(done)](platform::URLOutcome outcome) mutable {
            handle->post([outcome = std::move(outcome),
                          done = std::move(done)](AdImageLoader& loader) mutable {
                if (!outcome.ok() || outcome.statusCode < 200 || outcome.statusCode > 299) {
                    done(QImage());
                    return;
                }
                loader.decode(std::move(outcome.body), std::move(done));
            });
        });
}

void AdImageLoader::decode(std::string body, Done done) {
    // Started from the UI thread, while the application (and so the global pool) exists.
    QThreadPool::globalInstance()->start(
        [handle = handle_, body = std::move(body), done = std::move(done)]() mutable {
            QImage image = decodeAdImage(QByteArray::fromStdString(body));
            handle->post([image = std::move(image), done = std::move(done)](AdImageLoader&) {
                done(image);
            });
        });
}

}  // namespace cb
