#pragma once

#include <QObject>
#include <QUrl>
#include <functional>
#include <memory>
#include <optional>

#include "app/StateHandle.h"
#include "app/ads/Ad.h"
#include "app/ads/AdPayloads.h"
#include "app/ads/RefreshTimer.h"
#include "platform/dispatch/Clock.h"

namespace platform {
struct URLOutcome;
}

namespace cb {

class LocalizationManager;

// What AdService asks of the world besides the network; tests replace both.
struct AdServiceOptions {
    // The monotonic clock of the throttle; unset means platform::Clock::now.
    std::function<platform::Clock::time_point()> now;
    // The refresh loop's wait; unset means a QtRefreshTimer.
    std::unique_ptr<RefreshTimer> timer;
};

// Holds the one house ad the window shows, fetches it from the ad server, refreshes it after
// the delay each answer sets and at once on every language change, and reports clicks.
//
// Design notes
// ------------
// Threads. The service lives on the UI thread and all its fields are read and written there.
// Transfers run on the shared URL session's thread; each answer comes back through a
// StateHandle by queued call, so an answer that arrives after the service is gone is dropped.
// Fetches are not serialised: every answer is applied when it arrives, in arrival order.
//
// Failures are silent: a request that fails, an answer that is not 2xx or does not decode, or a
// body over kMaxAdAnswerBytes changes nothing, and nothing is logged or retried.
//
// The refresh loop (start()): fetch unforced; when that fetch's answer has been handled (or the
// fetch was skipped), wait nextRefreshInterval() as it is at that moment; fetch again; and so on
// for the life of the service.
//
// Throttle: an unforced fetch less than minInterval after the last fetch that went out (on the
// monotonic clock) is skipped. A forced fetch (language change) always goes out and counts as
// the last one; it does not touch the loop's wait.
//
// Answers:
//   transport error, status outside 200..299    -> nothing changes
//   204                                          -> currentAd none, interval 60
//   2xx that does not decode                     -> nothing changes
//   2xx that decodes                             -> currentAd = makeAd(...) (none when unusable),
//                                                   interval = clamp(ttl_seconds, 10, 3600), or
//                                                   60 without "meta"."ttl_seconds"
class AdService : public QObject {
    Q_OBJECT

  public:
    static constexpr double defaultRefreshInterval = 60;
    static constexpr double minRefreshInterval = 10;
    static constexpr double maxRefreshInterval = 3600;
    static constexpr double minInterval = 10;  // least time between two unforced fetches

    // Makes a service without an ad that fetches at once on every later language change of
    // `localization`. The refresh loop waits for start().
    // REQUIRES: `localization` outlives the service; called on the UI thread.
    explicit AdService(LocalizationManager& localization, AdServiceOptions options = {},
                       QObject* parent = nullptr);
    ~AdService() override;

    AdService(const AdService&) = delete;
    AdService& operator=(const AdService&) = delete;

    // The ad to show, or none.
    const std::optional<Ad>& currentAd() const { return currentAd_; }

    // The wait of the refresh loop after its next fetch, in seconds.
    double nextRefreshInterval() const { return nextRefreshInterval_; }

    // Starts the refresh loop, whose first fetch goes out at once. Later calls do nothing.
    void start();

    // Asks the ad server for the current ad, unless `force` is false and the throttle skips the
    // request. `onHandled`, when set, runs on the UI thread after the answer (or failure) has
    // been applied, or at once when no request went out; it never runs after the service is
    // destroyed.
    void fetch(bool force, std::function<void()> onHandled = {});

    // Reports a click on `ad` and returns at once: a GET to the ad's clickURL when it has one,
    // else a POST of {"locale", "app_version"} as JSON to clickReportAddress(). The outcome is
    // dropped; the service's state does not change.
    void reportClick(const Ad& ad) const;

    // Sends a GET to `url` (5 s timeout) and drops the outcome. Any thread.
    static void ping(const QUrl& url);

    // Turns a decoded answer into an ad, or none when the payload is unusable: a "link" that
    // does not parse, a kind other than exactly "text" or "banner", a text ad without text, a
    // banner without a parsable "image_url" or without both sizes above 0. Tracking or icon
    // addresses that do not parse are dropped without rejecting the ad. No side effects.
    static std::optional<Ad> makeAd(const AdPayload& payload,
                                    const std::optional<TrackingPayload>& tracking);

  signals:
    // Emitted after every assignment of currentAd, also of an equal ad.
    void currentAdChanged();

  private:
    void loopFetch();
    void apply(const platform::URLOutcome& outcome);
    void setCurrentAd(std::optional<Ad> ad);
    platform::Clock::time_point now() const;

    LocalizationManager& localization_;
    const std::function<platform::Clock::time_point()> clock_;  // may be empty
    const std::unique_ptr<RefreshTimer> timer_;
    const std::shared_ptr<StateHandle<AdService>> handle_;

    std::optional<Ad> currentAd_;
    double nextRefreshInterval_ = defaultRefreshInterval;
    std::optional<platform::Clock::time_point> lastRequest_;  // none: no fetch went out yet
    bool loopStarted_ = false;
};

}  // namespace cb
