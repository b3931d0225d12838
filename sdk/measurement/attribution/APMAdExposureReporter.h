#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/dispatch/DispatchQueue.h"
#include "sdk/measurement/engine/APMScreen.h"
#include "sdk/measurement/engine/APMValue.h"
#include "sdk/utilities/VDUNotificationCenter.h"

// How long ads are on screen. An ad unit's exposure runs from beginAdUnitExposure to the
// matching endAdUnitExposure (begins for one unit nest: the unit closes with its last end); the
// overall exposure runs while at least one unit is open. Closing an interval logs the internal
// event "_xu" (per unit, "_ai" = the unit ID) or "_xa" (all ads), origin "am", with "_xt" = the
// exposure in milliseconds and the screen's parameters ("_si", "_sc", "_sn"). Exposures under a
// second are not logged. Screen changes, the session's engagement timer and the app resigning
// active close the running intervals and start new ones; the app becoming active restarts them
// without logging.
//
// Design notes.
// Times are seconds of uptime (APMSystemUptime). At most kMaxAdUnits units are open at once; a
// begin is refused while that many are open, even for a unit that is already open.
// The events are logged through the facade after the state change, on the calling thread, so
// the reporter's queue never waits for another queue (the screen-view reporter calls in from
// its own queue).
//
// Monitor codes: 1000, 1003 (level 5) empty unit ID; 1002 (5) limit reached; 1004 (5) unknown
// unit; 1005, 1007 (5) reporting disabled; 1008 (5) empty unit ID when logging; 1006, 1009 (8)
// under a second; 1010, 1011 (8) app not active.
//
// Thread-safety: any thread. The state lives on the serial queue "APMAdExposureReporter"; begin
// hops there asynchronously, end and the triggers synchronously, so one thread's begin and end
// apply in order. The time is read on the calling thread before the hop.
class APMAdExposureReporter : public std::enable_shared_from_this<APMAdExposureReporter> {
  public:
    static constexpr std::size_t kMaxAdUnits = 100;

    // What the reporter takes from the engine above it: the parameters ("_si", "_sc", "_sn") of
    // a screen, or of the current screen when given none, whether the app is active, and the
    // facade that logs its events (origin "am"). The engine installs them when it makes its
    // screen-view reporter, before any screen or exposure reaches this reporter; without them
    // the app counts as inactive, so nothing is logged.
    struct EngineHooks {
        std::function<APMParameters(const APMScreen* screen)> screenParameters;
        std::function<bool()> isAppActive;
        std::function<void(const std::string& name, const APMRawParameters& parameters)>
            logInternalEvent;
    };
    static void setEngineHooks(EngineHooks hooks);

    // Made on first use; observes the engagement-timer notification on the default center and
    // lives for the process.
    static const std::shared_ptr<APMAdExposureReporter>& sharedInstance();
    // A reporter observing `center` (tests).
    static std::shared_ptr<APMAdExposureReporter> create(VDUNotificationCenter& center);
    ~APMAdExposureReporter() = default;
    APMAdExposureReporter(const APMAdExposureReporter&) = delete;
    APMAdExposureReporter& operator=(const APMAdExposureReporter&) = delete;

    void beginAdUnitExposure(const std::string& adUnitID);
    void endAdUnitExposure(const std::string& adUnitID);

    // Called by the screen-view reporter. A screen change with a previous screen closes the
    // intervals with that screen's parameters.
    void handleScreenDidChangeFromScreen(const APMScreen* previous, const APMScreen& current);
    void handleAppDidBecomeActive();
    // Closes the intervals with `screen`'s parameters, or the current screen's when it gives
    // none; the events are logged before the call returns.
    void handleAppWillResignActiveWithScreen(const APMScreen* screen);
    // The session's engagement timer fired: closes the intervals with the current screen's
    // parameters.
    void handleEngagementTimer(const VDUNotification& notification);
    // Closes every running interval now, logging it with `screenParameters`, and restarts them.
    void logExposureEventsWithScreenParameters(const APMParameters& screenParameters);

    bool isReportingEnabled() const { return reportingEnabled_.load(); }
    void setReportingEnabled(bool enabled) { reportingEnabled_.store(enabled); }

  private:
    // Tests wait for the reporter's queue through it.
    friend class APMAdExposureReporterTestPeer;

    struct Passkey {
        explicit Passkey() = default;
    };

  public:
    explicit APMAdExposureReporter(Passkey);

  private:
    struct Report {
        std::string name;
        APMRawParameters parameters;
    };
    using Reports = std::vector<Report>;

    void logExposureEventsOnSerialQueue(double endTime, const APMParameters& screenParameters,
                                        Reports& reports);
    void updateStartTimesOnSerialQueue(double startTime);
    void reportAdUnitOnSerialQueue(const std::string& adUnitID, double endTime,
                                   const APMParameters& screenParameters, Reports& reports);
    void reportAdExposureOnSerialQueue(double endTime, const APMParameters& screenParameters,
                                       Reports& reports);
    // Ends every interval at `endTime` on the queue, then logs the reports.
    void closeIntervals(double endTime, const APMParameters& screenParameters);
    static void logReports(const Reports& reports);
    static EngineHooks engineHooks();
    // The parameters of `screen`, or of the current screen for null, through the engine.
    static APMParameters screenParametersFor(const APMScreen* screen);
    static bool isAppActive();

    std::map<std::string, int, std::less<>> adUnitCounts_;         // on queue_
    std::map<std::string, double, std::less<>> adUnitStartTimes_;  // on queue_
    double adExposureStartTime_ = 0;                               // on queue_
    const platform::QueueRef queue_;
    std::atomic<bool> reportingEnabled_{true};
    VDUObserverToken engagementTimerObserver_;
};
