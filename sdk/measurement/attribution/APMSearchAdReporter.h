#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "platform/dispatch/DispatchQueue.h"
#include "platform/urlsession/URLRequest.h"
#include "sdk/utilities/Value.h"

class APMAlarm;
class APMPersistedConfig;
class VDUClass;

// Finds out once per installation whether the install came from a search-ads campaign: asks
// the platform's attribution class (AAAttribution.h) for a token, posts it to the attribution
// service and, when the reply says the install is attributed, logs one "_cmp" (origin "auto")
// with source "Apple" and medium "search". It tries once a day, at most kMaxRetryCount times in
// the installation's life, and stops for good once an answer is stored.
//
// Design notes.
// Persisted values (APMPersistedConfig): searchAdCampaignValue (the answer, a boolean; none
// until answered), searchAdRetryCount (lookups started), lastSearchAdLookUpTimestamp (seconds
// since 1970, engine clock), firstOpenTimestampMilliseconds (read for "click_timestamp").
// Invariants:
//   1. No reporter is made once an answer is stored or the retry count is above 9.
//   2. searchAdReporterAlarm() is null after cancelScheduling and never comes back.
//   3. The retry count rises before the token is asked for, so a failed lookup counts too.
//   4. The answer is stored at most once: the check and the store are one step under mutex_.
// Moves:
//   made --start (class present)--> started: scheduleSearchAdReport
//   alarm fires --maybeLogIAdCampaignEvent--> lookup, then the next daily schedule
//   reply: transport or JSON failure, "{}", test data --> scheduleSearchAdReport
//   reply with an answer --logCampaignEvent..., cancelScheduling--> done
//   retries used up or answer stored (seen while scheduling) --cancelScheduling--> done
//   setSearchAdReporterEnabled(false) --> pending run cancelled; (true) after a start --> the
//   schedule is made again
//
// Monitor codes: 32000, 32001 (level 2) missing queue or persisted config; 32002 (7) answer
// already stored at creation; 32004 (7) answer stored while scheduling; 32005 (5) already
// scheduled; 32006 (7) scheduling; 32007 (5) retries used up; 32008 (5) answer already stored
// when logging; 32009 (5) no click timestamp; 32013 (5) alarm cancelled; 32014 (7) no
// attribution class; 32015 (1) transport failure; 32016 (7) test data; 32017 (1) reply not a
// JSON object; 32018 (1) no token; 32019 (7) disabled on a simulator.
//
// Thread-safety: scheduling, alarm runs and reply handling run on the worker queue (the
// network completion hops there first, holding the reporter weakly). mutex_ guards the alarm
// pointer, the event logger and the stored answer's check-and-store; the enable and start flags
// are atomics. Every public member may be called from any thread, but the engine calls them on
// the worker queue.
class APMSearchAdReporter : public std::enable_shared_from_this<APMSearchAdReporter> {
  public:
    // Receives the campaign event: origin, name and parameters. Called on the worker queue.
    using InternalEventLogger = std::function<void(std::string_view origin, std::string_view name,
                                                   sdk::Value::Dictionary parameters)>;

    static constexpr std::int64_t kMaxRetryCount = 10;
    static constexpr double kReportPeriodSeconds = 86400.0;
    static constexpr double kRequestTimeoutSeconds = 10.0;
    // The largest reply read; a larger one counts as a transport failure.
    static constexpr std::size_t kMaxReplyBytes = 64 * 1024;
    static constexpr std::string_view kAlarmName = "Search Ad campaign report alarm";
    // The attribution service's own address; the SDK's origin override replaces scheme, host and
    // port.
    static constexpr std::string_view kServiceHost = "search-ads-attribution.invalid";
    static constexpr std::string_view kServicePath = "/api/v1/";

    // The reporter with its alarm on `workerQueue`, or null: no queue (32000), no persisted
    // config (32001), a retry count above 9 (silently) or a stored answer (32002).
    static std::shared_ptr<APMSearchAdReporter> initWithWorkerQueue(
        platform::QueueRef workerQueue, std::shared_ptr<APMPersistedConfig> persistedConfig);

    // Cancels the schedule.
    ~APMSearchAdReporter();
    APMSearchAdReporter(const APMSearchAdReporter&) = delete;
    APMSearchAdReporter& operator=(const APMSearchAdReporter&) = delete;

    // Where the campaign event goes (the facade's internal-event entry); empty drops it.
    void setInternalEventLogger(InternalEventLogger logger);

    // No attribution class: 32014 and nothing more. On a simulator: 32019. Otherwise the
    // reporter counts as started and scheduleSearchAdReport runs.
    void start();
    // Plans the next lookup after 86400 - |now - lastSearchAdLookUpTimestamp| seconds (a
    // negative delay fires at once), unless the alarm is gone (32013), the reporter is disabled
    // (the pending run is cancelled), an answer is stored (32004, cancelScheduling), a run is
    // pending (32005) or the retries are used up (32007, cancelScheduling).
    void scheduleSearchAdReport();
    // Cancels the alarm and drops it for good.
    void cancelScheduling();
    // The alarm's run: with the attribution class present, stores now as the last lookup time,
    // fetches the details and plans the next daily run.
    void maybeLogIAdCampaignEvent();
    // Counts the lookup, then asks the attribution class for a token (32018 when it fails) and
    // sends a non-empty one.
    void fetchAttributionDetails();
    // POSTs `token` to the service; an empty token sends nothing. The reply is handled on the
    // worker queue (handleAttributionReply).
    void requestAttributionPayloadWithToken(const std::string& token);
    // The reply of the service: failures (32015, 32017), "{}" and test data (32016) schedule
    // again; any other object stores its "attribution" (a JSON boolean, else false), logs the
    // campaign when attributed and cancels the schedule. REQUIRES: on the worker queue.
    void handleAttributionReply(const platform::URLOutcome& outcome);
    // Stores `attributed` unless an answer is stored (32008, nothing else happens). When it was
    // stored here and is true, logs "_cmp" with "source" "Apple", "medium" "search", "campaign"
    // and "term" when not empty, and "click_timestamp" = first open - 1 when the first open is
    // 2 ms or later (else 32009).
    void logCampaignEventWithSearchAdCampaign(bool attributed,
                                              const std::optional<std::string>& campaign,
                                              const std::optional<std::string>& term);

    // The registered attribution class, or null.
    static std::shared_ptr<const VDUClass> adClientInstance();

    bool isSearchAdReporterEnabled() const { return enabled_.load(); }
    // Sets the switch. Switching off cancels the pending run (the alarm stays); switching on
    // after start() schedules again.
    void setSearchAdReporterEnabled(bool enabled);

    // The alarm, or null after cancelScheduling.
    std::shared_ptr<APMAlarm> searchAdReporterAlarm() const;

    // The service address: kServiceHost over https, or the SDK's overridden origin.
    static std::string attributionServiceURL();

    struct Passkey {
        explicit Passkey() = default;
    };
    APMSearchAdReporter(Passkey, platform::QueueRef workerQueue,
                        std::shared_ptr<APMPersistedConfig> persistedConfig);

  private:
    // Tests observe the replies through it.
    friend class APMSearchAdReporterTestPeer;

    InternalEventLogger eventLogger() const;

    const platform::QueueRef workerQueue_;
    const std::shared_ptr<APMPersistedConfig> persistedConfig_;
    std::atomic<bool> enabled_{false};
    std::atomic<bool> started_{false};

    mutable std::mutex mutex_;
    std::shared_ptr<APMAlarm> alarm_;      // guarded by mutex_
    InternalEventLogger eventLogger_;      // guarded by mutex_
    std::function<void()> replyObserver_;  // guarded by mutex_; only tests set one
};
