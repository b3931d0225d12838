#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>

#include "platform/dispatch/OperationQueue.h"
#include "sdk/measurement/engine/core/APMAnalytics.h"
#include "sdk/utilities/VDUNotificationCenter.h"

// The facade's class-wide state (see APMAnalytics.h), private to the facade's files.
struct APMAnalyticsState {
    // Made suspended; the end of the first start unsuspends it.
    const std::shared_ptr<platform::OperationQueue> operationQueue =
        platform::OperationQueue::create("APMAnalyticsOperationQueue", true);
    // Held while a public event reads the clock and is queued, so events are queued in the order
    // of their timestamps. Only that is done under it: a caller waits for no thread hand-off.
    std::mutex timestampMutex;

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
