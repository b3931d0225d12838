#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>

#include "platform/dispatch/OperationQueue.h"
#include "sdk/measurement/engine/APMClock.h"
#include "sdk/measurement/engine/core/APMAnalytics.h"
#include "sdk/measurement/engine/core/APMAnalyticsTimestampQueue.h"
#include "sdk/utilities/VDUNotificationCenter.h"

// The facade's class-wide state (see APMAnalytics.h), private to the facade's files.
struct APMAnalyticsState {
    // Made suspended; the end of the first start unsuspends it.
    const std::shared_ptr<platform::OperationQueue> operationQueue =
        platform::OperationQueue::create("APMAnalyticsOperationQueue", true);
    // Every queued call passes here on its way to the operation queue and the serial queue;
    // public events read their timestamp here, so they are queued in the order of their
    // timestamps.
    const std::shared_ptr<APMAnalyticsTimestampQueue> timestampQueue =
        APMAnalyticsTimestampQueue::create(operationQueue, APMAnalytics::queue(),
                                           APMCurrentTimeInterval);

    std::once_flag startOnce;
    std::once_flag appDelegateProxyOnce;
    std::atomic<bool> started{false};
    std::atomic<bool> deactivated{false};
    std::atomic<bool> enabled{false};
    std::atomic<APMAnalytics::ListenerToken> nextListenerToken{1};

    // Serial queue only.
    APMAnalytics::EventInterceptor interceptor;
    std::optional<std::map<APMAnalytics::ListenerToken, APMAnalytics::LogEventListener>> listeners;
    std::function<void(const std::string&)> openURLListener;

    std::mutex mutex;
    VDUObserverToken setEnabledObserver;  // guarded by mutex

    // Events queued for the engine since the process began (the engine counts those it took).
    std::atomic<std::int64_t> eventsQueued{0};

    static APMAnalyticsState& shared();
};
