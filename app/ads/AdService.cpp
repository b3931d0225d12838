#include "app/ads/AdService.h"

#include <algorithm>
#include <chrono>
#include <nlohmann/json.hpp>

#include "app/ads/AdServerAddress.h"
#include "app/localization/LocalizationManager.h"
#include "platform/urlsession/URLSession.h"

namespace cb {

namespace {

constexpr std::chrono::seconds kCurrentAdTimeout{8};
constexpr std::chrono::seconds kClickTimeout{5};

// The JSON body of the direct click report, or nullopt when it cannot be written (a value that
// is not UTF-8); the report then goes without a body.
std::optional<std::string> clickReportBody(Language locale, const std::string& appVersion) {
    const nlohmann::json body = {{"locale", std::string(rawValue(locale))},
                                 {"app_version", appVersion}};
    try {
        return body.dump();
    } catch (const nlohmann::json::type_error&) {
        return std::nullopt;
    }
}

std::optional<AdContent> makeContent(const AdPayload& payload) {
    if (payload.kind == "text") {
        if (!payload.text || payload.text->empty()) {
            return std::nullopt;
        }
        std::optional<QUrl> icon = payload.iconURL ? parseURL(*payload.iconURL) : std::nullopt;
        return AdText{std::move(icon), *payload.text};
    }
    if (payload.kind == "banner") {
        std::optional<QUrl> image = payload.imageURL ? parseURL(*payload.imageURL) : std::nullopt;
        if (!image || payload.width.value_or(0) <= 0 || payload.height.value_or(0) <= 0) {
            return std::nullopt;
        }
        return AdBanner{std::move(*image), *payload.width, *payload.height, payload.alt};
    }
    return std::nullopt;
}

}  // namespace

AdService::AdService(LocalizationManager& localization, AdServiceOptions options, QObject* parent)
    : QObject(parent),
      localization_(localization),
      clock_(std::move(options.now)),
      timer_(options.timer ? std::move(options.timer) : std::make_unique<QtRefreshTimer>()),
      handle_(std::make_shared<StateHandle<AdService>>(this)) {
    connect(&localization_, &LocalizationManager::currentChanged, this,
            [this] { fetch(/*force=*/true); });
}

AdService::~AdService() {
    handle_->invalidate();
}

void AdService::start() {
    if (loopStarted_) {
        return;
    }
    loopStarted_ = true;
    loopFetch();
}

void AdService::loopFetch() {
    fetch(/*force=*/false,
          [this] { timer_->start(nextRefreshInterval_, [this] { loopFetch(); }); });
}

void AdService::fetch(bool force, std::function<void()> onHandled) {
    const platform::Clock::time_point now = this->now();
    const auto throttle = platform::durationFromSeconds(minInterval);
    if (!force && lastRequest_ && now - *lastRequest_ < throttle) {
        if (onHandled) {
            onHandled();
        }
        return;
    }
    lastRequest_ = now;

    std::optional<std::string> address =
        currentAdAddress(adServerBaseURL(), localization_.current(), appVersionString());
    if (!address) {
        if (onHandled) {
            onHandled();
        }
        return;
    }
    platform::URLRequest request;
    request.url = std::move(*address);
    request.timeout = kCurrentAdTimeout;
    request.maxResponseBytes = kMaxAdAnswerBytes;
    platform::URLSession::shared().send(
        std::move(request),
        [handle = handle_, onHandled = std::move(onHandled)](platform::URLOutcome outcome) mutable {
            handle->post([outcome = std::move(outcome),
                          onHandled = std::move(onHandled)](AdService& service) {
                service.apply(outcome);
                if (onHandled) {
                    onHandled();
                }
            });
        });
}

void AdService::apply(const platform::URLOutcome& outcome) {
    if (!outcome.ok()) {
        return;
    }
    if (outcome.statusCode == 204) {
        setCurrentAd(std::nullopt);
        nextRefreshInterval_ = defaultRefreshInterval;
        return;
    }
    if (outcome.statusCode < 200 || outcome.statusCode > 299) {
        return;
    }
    std::optional<AdEnvelope> envelope = decodeAdEnvelope(outcome.body);
    if (!envelope) {
        return;
    }
    const std::optional<MetaPayload>& meta = envelope->meta;
    setCurrentAd(makeAd(envelope->ad, meta ? meta->tracking : std::nullopt));
    if (meta && meta->ttlSeconds) {
        nextRefreshInterval_ = std::clamp(static_cast<double>(*meta->ttlSeconds),
                                          minRefreshInterval, maxRefreshInterval);
    } else {
        nextRefreshInterval_ = defaultRefreshInterval;
    }
}

void AdService::setCurrentAd(std::optional<Ad> ad) {
    currentAd_ = std::move(ad);
    emit currentAdChanged();
}

platform::Clock::time_point AdService::now() const {
    return clock_ ? clock_() : platform::Clock::now();
}

void AdService::reportClick(const Ad& ad) const {
    if (ad.clickURL) {
        ping(*ad.clickURL);
        return;
    }
    platform::URLRequest request;
    request.method = "POST";
    request.url = clickReportAddress(adServerBaseURL(), ad.id);
    request.headers = {{"Content-Type", "application/json"}};
    request.body = clickReportBody(localization_.current(), appVersionString());
    request.timeout = kClickTimeout;
    platform::URLSession::shared().send(std::move(request), [](const platform::URLOutcome&) {});
}

void AdService::ping(const QUrl& url) {
    platform::URLRequest request;
    request.url = url.toString(QUrl::FullyEncoded).toStdString();
    request.timeout = kClickTimeout;
    platform::URLSession::shared().send(std::move(request), [](const platform::URLOutcome&) {});
}

std::optional<Ad> AdService::makeAd(const AdPayload& payload,
                                    const std::optional<TrackingPayload>& tracking) {
    std::optional<QUrl> link = parseURL(payload.link);
    if (!link) {
        return std::nullopt;
    }
    std::optional<AdContent> content = makeContent(payload);
    if (!content) {
        return std::nullopt;
    }
    Ad ad{payload.id, std::move(*link), payload.locale, std::move(*content), {}, {}};
    if (tracking) {
        ad.clickURL = tracking->clickURL ? parseURL(*tracking->clickURL) : std::nullopt;
        ad.impressionURL =
            tracking->impressionURL ? parseURL(*tracking->impressionURL) : std::nullopt;
    }
    return ad;
}

}  // namespace cb
