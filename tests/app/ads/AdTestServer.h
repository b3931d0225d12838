#pragma once

// An ad server on 127.0.0.1 for the bar and window tests: it answers the current-ad request
// with a script chosen per request, serves PNG images by path, and can hold an image request
// until the test releases it.

#include <QBuffer>
#include <QColor>
#include <QImage>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <string>

#include "tests/support/LoopbackServer.h"

namespace cb::testing {

// `width` x `height` pixels of `colour`, as PNG bytes.
inline std::string pngBytes(int width, int height, QColor colour) {
    QImage image(width, height, QImage::Format_ARGB32);
    image.fill(colour);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes.toStdString();
}

class AdTestServer {
  public:
    // Answers the current-ad request; gets the request's query ("locale" and so on).
    using Script = std::function<void(const httplib::Request&, httplib::Response&)>;

    ~AdTestServer() { release(); }

    void setScript(Script script) {
        std::lock_guard lock(mutex_);
        script_ = std::move(script);
    }

    // Answers every current-ad request with `json`.
    void setJSON(const std::string& json) {
        setScript([json](const httplib::Request&, httplib::Response& r) {
            r.set_content(json, "application/json");
        });
    }

    // Serves `bytes` as a PNG at `path`; other image paths answer 404.
    void setImage(const std::string& path, std::string bytes) {
        std::lock_guard lock(mutex_);
        images_[path] = std::move(bytes);
    }

    // Makes requests for `path` wait until release().
    void holdImage(const std::string& path) {
        std::lock_guard lock(mutex_);
        held_ = path;
    }

    void release() {
        {
            std::lock_guard lock(mutex_);
            held_.clear();
        }
        released_.notify_all();
    }

    // The requests received for `path`.
    size_t requestsFor(const std::string& path) const {
        size_t count = 0;
        for (const auto& request : server.requests()) {
            count += request.path == path ? 1 : 0;
        }
        return count;
    }

    std::string address(const std::string& path = "") const { return server.address(path); }

  private:
    void answer(const httplib::Request& request, httplib::Response& response) {
        std::unique_lock lock(mutex_);
        if (request.path == "/api/v1/ads/current") {
            Script script = script_;
            lock.unlock();
            script(request, response);
            return;
        }
        if (request.path.ends_with("/click")) {
            response.status = 204;
            return;
        }
        released_.wait(lock, [&] { return held_ != request.path; });
        const auto image = images_.find(request.path);
        if (image == images_.end()) {
            response.status = 404;
            return;
        }
        response.set_content(image->second, "image/png");
    }

    mutable std::mutex mutex_;
    std::condition_variable released_;
    Script script_ = [](const httplib::Request&, httplib::Response& r) { r.status = 204; };
    std::map<std::string, std::string> images_;  // guarded by mutex_
    std::string held_;                           // guarded by mutex_

  public:
    // Last, so it stops serving before the rest goes away.
    testsupport::LoopbackServer server{
        [this](const httplib::Request& request, httplib::Response& response) {
            answer(request, response);
        }};
};

// A text ad as the server sends it; `extra` adds members to "ad" (with a leading comma).
inline std::string textAdJSON(const std::string& id, const std::string& link,
                              const std::string& text, const std::string& extra = "") {
    return R"({"ad": {"kind": "text", "id": ")" + id + R"(", "link": ")" + link +
           R"(", "locale": "en", "text": ")" + text + "\"" + extra + "}}";
}

// A banner ad as the server sends it; `extra` adds members to "ad".
inline std::string bannerAdJSON(const std::string& id, const std::string& image, int width,
                                int height, const std::string& extra = "") {
    return R"({"ad": {"kind": "banner", "id": ")" + id +
           R"(", "link": "https://example.test/b", "locale": "en", "image_url": ")" + image +
           R"(", "width": )" + std::to_string(width) + R"(, "height": )" + std::to_string(height) +
           extra + "}}";
}

}  // namespace cb::testing
