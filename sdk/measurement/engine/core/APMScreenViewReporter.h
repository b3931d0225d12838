#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/dispatch/DispatchQueue.h"
#include "sdk/measurement/engine/APMParameterLimits.h"
#include "sdk/measurement/engine/APMScreen.h"
#include "sdk/measurement/engine/APMValue.h"
#include "sdk/utilities/VDUNotificationCenter.h"

// Screen views. The app reports a screen by logging "screen_view" with "screen_name" and
// "screen_class"; the facade hands that event here. The reporter keeps the current screen,
// logs the internal event "_vs" with the current and previous screen's parameters, and tells
// the session reporter and the ad-exposure reporter of screen changes and of the app's
// activity. Every other event carries the current screen's parameters (screenParameters).
// Screens exist only when the app logs them.
//
// Design notes.
// The app counts as inactive only after its first activation and while it is not active:
// before the first activation screen views and screen parameters are accepted. Only "did enter
// background" clears the active flag, and no desktop notification sends it, so after the first
// activation the app stays active.
// The screen instance ID starts at a random value each launch and grows by one per screen.
//
// Thread-safety: any thread. The current screen is read and written on the serial queue
// "APMScreenViewReporter" (writes and name reads synchronously, the change notification and
// the "_vs" logging asynchronously, so they run in screen order). Its parameters, which every
// event reads, are also kept as one shared value under mutex_, replaced in the block that
// changes the screen, so events from many threads read them without waiting on the queue or on
// each other. The flags are atomics; activity notifications arrive on the main thread.
class APMScreenViewReporter : public std::enable_shared_from_this<APMScreenViewReporter> {
  public:
    // Made on first use; observes the activity notifications on the default center.
    static const std::shared_ptr<APMScreenViewReporter>& sharedInstance();
    // A reporter observing `center` (tests).
    static std::shared_ptr<APMScreenViewReporter> create(VDUNotificationCenter& center);
    ~APMScreenViewReporter() = default;
    APMScreenViewReporter(const APMScreenViewReporter&) = delete;
    APMScreenViewReporter& operator=(const APMScreenViewReporter&) = delete;

    bool isAppActive() const { return isAppActive_.load(); }
    // Copies of the current screen's name and class (none without a screen).
    void getScreenName(std::optional<std::string>* name, std::optional<std::string>* className);
    // The facade's "screen_view" event with its parameters, logged at `timestamp`.
    void trackScreenWithParameters(const APMRawParameters& parameters, double timestamp);
    // "_si", "_sc" and "_sn" of the current screen; empty without one or while inactive.
    APMParameters screenParameters();
    // Screens are reported only through "screen_view": logs 31000.
    void setScreenName(const std::optional<std::string>& name,
                       const std::optional<std::string>& className);
    void postScreenDidChangeNotificationWithPreviousScreen(const std::optional<APMScreen>& previous,
                                                           const APMScreen& current);
    void logViewScreenEventWithPreviousScreen(const std::optional<APMScreen>& previous,
                                              const std::optional<APMScreen>& current,
                                              const APMParameters& parameters);
    void handleApplicationDidBecomeActive();
    void handleApplicationWillResignActive();
    void handleApplicationDidEnterBackground() { isAppActive_.store(false); }
    std::int64_t incrementScreenInstanceID();

    // The parameter limits screen names, classes and the screen view's parameters are held to
    // (the configuration's); the engine refreshes them from its worker queue, where the
    // configuration lives. The defaults until then.
    void setParameterLimits(const APMParameterLimits& limits);
    APMParameterLimits parameterLimits();
    std::int32_t maxValueLength() { return parameterLimits().maxPublicEventParameterValueLength; }

  private:
    // Tests wait for the reporter's queue through it
    // (tests/sdk/measurement/engine/core/APMScreenViewReporterTestPeer.h).
    friend class APMScreenViewReporterTestPeer;

    struct Passkey {
        explicit Passkey() = default;
    };

  public:
    explicit APMScreenViewReporter(Passkey);

  private:
    void observe(VDUNotificationCenter& center);
    // Runs `block` on the reporter's queue and waits for it.
    void onQueue(const std::function<void()>& block);
    bool isInactive() const { return !isAppActive_.load() && appHasBeenInitialized_.load(); }

    std::optional<APMScreen> currentScreen_;   // on queue_
    std::optional<APMScreen> previousScreen_;  // on queue_
    const bool allowScreenParameters_ = true;
    std::atomic<bool> isAppActive_{false};
    std::atomic<bool> appHasBeenInitialized_{false};
    std::atomic<std::int64_t> currentScreenInstanceID_;
    const platform::QueueRef queue_;
    std::mutex mutex_;
    APMParameterLimits limits_{100, 27, 500};  // guarded by mutex_
    // The current screen's "_si", "_sc" and "_sn"; none before the first screen.
    std::shared_ptr<const APMParameters> currentScreenParameters_;  // guarded by mutex_
    VDUObserverToken windowDidResignKeyObserver_;
    VDUObserverToken didBecomeActiveObserver_;
    VDUObserverToken willResignActiveObserver_;
};

// Whether the app is active, as the shared screen-view reporter knows it. Any thread.
bool APMIsAppActive();
