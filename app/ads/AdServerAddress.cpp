#include "app/ads/AdServerAddress.h"

#include <cstdlib>
#include <mutex>

#include "app/ads/Ad.h"
#include "platform/bundle/Bundle.h"

namespace cb {

namespace {

// The base address, read from the environment on first use. A process-wide value by design:
// every request of the run goes to the same server.
struct BaseAddress {
    std::mutex mutex;
    std::optional<QUrl> url;  // guarded by mutex
};

BaseAddress& baseAddress() {
    static BaseAddress instance;
    return instance;
}

QUrl readBaseAddress() {
    if (const char* value = std::getenv("CELLARBRIGHT_API_BASE")) {
        if (std::optional<QUrl> url = parseURL(value)) {
            return *url;
        }
    }
    return *parseURL(kDefaultAdServerBaseURL);
}

QByteArray percentEncoded(std::string_view text) {
    return QByteArray::fromRawData(text.data(), static_cast<qsizetype>(text.size()))
        .toPercentEncoding();
}

// Encodes `id` as one path segment: unreserved characters stay, except that a segment of dots
// only would be read as "this folder" or "the parent folder", so its dots are encoded too.
std::string pathSegment(std::string_view id) {
    if (id == "." || id == "..") {
        std::string encoded;
        for (size_t i = 0; i < id.size(); ++i) {
            encoded += "%2E";
        }
        return encoded;
    }
    return percentEncoded(id).toStdString();
}

}  // namespace

QUrl adServerBaseURL() {
    BaseAddress& base = baseAddress();
    std::lock_guard lock(base.mutex);
    if (!base.url) {
        base.url = readBaseAddress();
    }
    return *base.url;
}

void TEST_resetAdServerBaseURL() {
    BaseAddress& base = baseAddress();
    std::lock_guard lock(base.mutex);
    base.url.reset();
}

std::string appVersionString() {
    if (const std::optional<platform::Bundle>& bundle = platform::Bundle::main()) {
        if (std::optional<std::string> version = bundle->infoString("CFBundleShortVersionString")) {
            return *version;
        }
    }
    return "0.0.0";
}

std::optional<std::string> currentAdAddress(const QUrl& base, Language locale,
                                            std::string_view appVersion) {
    QUrl url = base;
    url.setPath(QStringLiteral("/api/v1/ads/current"));
    const QByteArray query = "locale=" + percentEncoded(rawValue(locale)) +
                             "&app_version=" + percentEncoded(appVersion) +
                             "&app_id=cellarbright&protocol=1";
    url.setQuery(QString::fromLatin1(query), QUrl::StrictMode);
    if (!url.isValid()) {
        return std::nullopt;
    }
    return url.toString(QUrl::FullyEncoded).toStdString();
}

std::string clickReportAddress(const QUrl& base, std::string_view id) {
    // Put together as text: QUrl would decode "%2E" back to "." in the path.
    QString path = base.path(QUrl::FullyEncoded);
    while (path.endsWith(QLatin1Char('/'))) {
        path.chop(1);
    }
    std::string address = base.toString(QUrl::FullyEncoded | QUrl::RemovePath | QUrl::RemoveQuery |
                                        QUrl::RemoveFragment)
                              .toStdString();
    address += path.toStdString() + "/api/v1/ads/" + pathSegment(id) + "/click";
    if (base.hasQuery()) {
        address += "?" + base.query(QUrl::FullyEncoded).toStdString();
    }
    return address;
}

}  // namespace cb
