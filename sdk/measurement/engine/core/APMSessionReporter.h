#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>

#include "sdk/measurement/engine/APMEvent.h"
#include "sdk/measurement/engine/APMPlatformNotifications.h"
#include "sdk/measurement/engine/APMUserAttribute.h"

class APMAlarm;
class APMPersistedConfig;
class APMRemoteConfig;
class APMScreen;

// Sessions and engagement. A session is a run of app activity with no gap longer than the
// session timeout. The reporter starts sessions (the event "_s" with the session ID "_sid", the
// start time in whole seconds, and the session number "_sno", counted since install) and logs
// the engaged time "_et" in the event "_e" when the app resigns active, when the screen changes
// and on the periodic "Engagement timer".
//
// Design notes.
// States: no session (expired) -> active session (an activation or an event in an expired
// session starts it) -> every engagement log or extending event moves the last activity time
// -> expired once the timeout passes without activity. The session number and the last
// activity time live in the persisted configuration and survive restarts.
// Clocks: the engine's wall clock (APMCurrentTimeInterval) for session times, the uptime clock
// (APMSystemUptime) for engagement spans.
//
// Thread-safety: activity and the engagement timer run on the main thread; the engine's worker
// queue reads the session state, switches reporting and refreshes the settings; the screen-view
// reporter's queue cuts the free-ride engagement time. Every field that more than one of them
// uses is an atomic; the persisted configuration serialises itself. The remote configuration
// belongs to the worker queue, so the reporter works with a copy of its settings that the
// engine refreshes there (updateSettings).
class APMSessionReporter : public std::enable_shared_from_this<APMSessionReporter> {
  public:
    // The remote settings the reporter uses.
    struct Settings {
        double sessionDefaultTimeoutInterval = 1800;
        double sessionEventUserEngagementInterval = 3600;
        bool efficientEngagementReportingEnabled = false;
        bool redundantEngagementRemovalEnabled = false;
    };
    // The settings of `config` now; an engagement interval of 0 would re-arm the timer at once,
    // forever, so it reads as the default. REQUIRES: on the worker queue.
    static Settings settingsFromRemoteConfig(APMRemoteConfig& config);

    // Posted (object none) on the default center each time the engagement timer fires.
    static constexpr const char* kEngagementTimerDidFireNotification =
        kAPMEngagementTimerDidFireNotification;
    // The engaged time one "_e" event reports at most, in seconds.
    static constexpr double kMaxEngagementSeconds = 3600.0;

    // The timeout is the persisted session timeout set before (which is then cleared), else the
    // default of `settings`. Both engagement starts are now; reporting is off.
    static std::shared_ptr<APMSessionReporter> initWithPersistedConfig(
        std::shared_ptr<APMPersistedConfig> persistedConfig, const Settings& settings);
    // Cancels the engagement timer.
    ~APMSessionReporter();
    APMSessionReporter(const APMSessionReporter&) = delete;
    APMSessionReporter& operator=(const APMSessionReporter&) = delete;

    void updateSettings(const Settings& settings);
    Settings settings() const;

    // On: when the app is active and the timer is idle, re-arms it. Off: cancels it.
    void setReportingEnabled(bool enabled);
    bool isReportingEnabled() const { return reportingEnabled_.load(); }
    // A negative timeout logs 33001 and becomes 0.
    void setTimeoutSessionInterval(double seconds);
    double timeoutSessionInterval() const { return timeoutSessionInterval_.load(); }

    // The app is active and the session expired.
    bool shouldStartNewSession();
    // More than the timeout passed since the last session activity.
    bool isSessionExpired();
    // Moves the last activity to now; false (nothing moved) when the session expired.
    bool extendSession();
    // "_sid" (origin "auto") = the whole seconds of `timestamp`, last set at `timestamp`.
    static std::optional<APMUserAttribute> sessionIDPropertyWithTimestamp(double timestamp);
    // "_sno" (origin "auto") = the persisted session number, last set now.
    std::optional<APMUserAttribute> sessionNumberProperty();
    // Counts a new session and makes now its last activity.
    void updatePropertiesForNewSessionStart();
    // Sets "_sid" and "_sno" through the facade (none removes them).
    static void setSessionID(std::optional<std::int64_t> sessionID,
                             std::optional<std::int64_t> sessionNumber);

    // Main thread ---------------------------------------------------------------------------

    // Starts a session now, unless the app is inactive (33005) or reporting is off.
    void logSessionStartEvent();
    void logUserEngagementEvent();
    // Logs "_e" with the engaged time (at most an hour) and `screen`'s parameters; "_fr" = 1
    // for a redundant report under efficient reporting. Restarts the engagement span, moves
    // the last activity and re-arms the timer. The "_et" value in ms; 0 when nothing was logged
    // (33006 while the app is inactive).
    std::int64_t logEngagementEventAndReturnTimeWithScreen(const APMScreen* screen,
                                                           bool isRedundant);
    // Seconds since the span started (the free-ride span under efficient reporting); a
    // negative span logs 33004 and is 0.
    double incurredEngagementTime();
    // Under efficient reporting: the free-ride span in ms, which restarts now; else 0.
    std::int64_t cutFreerideEngagementTimeMillis();
    // Restarts both spans, re-arms the timer and, when due and reporting is on, starts a
    // session (clearing "_sid" and "_sno" first).
    void handleAppDidBecomeActive();
    void handleAppWillResignActiveWithScreen(const APMScreen* screen);
    // Logs the engagement of `previous` once it lasted at least a second.
    void handleScreenDidChangeFromScreen(const APMScreen* previous, const APMScreen& current);
    // Arms the timer for the engagement interval; firing posts the notification above, then
    // logs the engagement.
    void rescheduleUserEngagementTimer();

    const APMAlarm& userEngagementTimer() const { return *userEngagementTimer_; }

  private:
    struct Passkey {
        explicit Passkey() = default;
    };

  public:
    APMSessionReporter(Passkey, std::shared_ptr<APMPersistedConfig> persistedConfig,
                       const Settings& settings);

  private:
    const std::shared_ptr<APMPersistedConfig> persistedConfig_;
    const std::unique_ptr<APMAlarm> userEngagementTimer_;
    std::atomic<double> engagementStartUptime_;
    std::atomic<double> freerideEngagementStartUptime_;
    std::atomic<bool> reportingEnabled_{false};
    std::atomic<double> timeoutSessionInterval_{0};
    std::atomic<double> sessionDefaultTimeoutInterval_;
    std::atomic<double> sessionEventUserEngagementInterval_;
    std::atomic<bool> efficientEngagementReportingEnabled_;
    std::atomic<bool> redundantEngagementRemovalEnabled_;
};

// The session start "_s" (origin "auto", internal) at `timestamp`: "_sid" = its whole seconds,
// "_sno" = `sessionNumber`, and "_aib" = 1 in the background, else the current screen's
// parameters. None when the event cannot be made.
std::optional<APMEvent> APMSessionStartEvent(std::int64_t sessionNumber, bool inBackground,
                                             double timestamp);
