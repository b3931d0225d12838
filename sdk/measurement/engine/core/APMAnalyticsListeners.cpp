// The facade's log-event listeners, interceptor and open-URL listener.
#include "sdk/measurement/engine/APMClock.h"
#include "sdk/measurement/engine/core/APMAnalytics.h"
#include "sdk/measurement/engine/core/APMAnalyticsState.h"
#include "sdk/measurement/engine/core/APMMeasurement.h"

namespace {

// Runs `work` at once when already on the serial queue, else in a queued operation.
void onSerialQueue(platform::Block work) {
    if (APMAnalytics::isCurrentQueueSerialQueue()) {
        work();
    } else {
        APMAnalytics::queueOperationWithBlock(std::move(work));
    }
}

}  // namespace

void APMAnalytics::setLogEventInterceptor(EventInterceptor interceptor) {
    onSerialQueue([interceptor = std::move(interceptor)]() mutable {
        APMAnalyticsState::shared().interceptor = std::move(interceptor);
    });
}

std::optional<APMAnalytics::ListenerToken> APMAnalytics::addLogEventListener(
    LogEventListener listener) {
    if (!listener) {
        APMMeasurement::monitor().logWithLevel(2, 25012,
                                               "Attempted addition of nil log event listener.");
        return std::nullopt;
    }
    APMAnalyticsState& state = APMAnalyticsState::shared();
    const ListenerToken token = state.nextListenerToken.fetch_add(1);
    onSerialQueue([token, listener = std::move(listener)]() mutable {
        APMAnalyticsState& shared = APMAnalyticsState::shared();
        if (!shared.listeners) {
            shared.listeners.emplace();
        }
        shared.listeners->emplace(token, std::move(listener));
    });
    return token;
}

void APMAnalytics::removeLogEventListener(std::optional<ListenerToken> token) {
    if (!token) {
        APMMeasurement::monitor().logWithLevel(2, 25013, "Attempted removal of nil log event.");
        return;
    }
    queueOperationWithBlock([token = *token] {
        APMAnalyticsState& state = APMAnalyticsState::shared();
        if (!state.listeners) {
            APMMeasurement::monitor().logWithLevel(2, 25014,
                                                   "Attempted removal of nil log event listener.");
        } else if (state.listeners->erase(token) == 0) {
            APMMeasurement::monitor().logWithLevel(
                2, 25015, "Attempted removal of log event listener with invalid token.");
        }
    });
}

void APMAnalytics::notifyEventListeners(const APMEvent& event) {
    queueOperationWithBlock([event] {
        APMAnalyticsState& state = APMAnalyticsState::shared();
        if (!state.listeners) {
            return;
        }
        // A copy, so that a listener may add or remove listeners.
        const auto listeners = *state.listeners;
        for (const auto& [token, listener] : listeners) {
            listener(event);
        }
    });
}

void APMAnalytics::setOpenURLListener(std::function<void(const std::string& url)> listener) {
    dispatchAsyncOnSerialQueue([listener = std::move(listener)]() mutable {
        APMAnalyticsState::shared().openURLListener = std::move(listener);
    });
}

void APMAnalytics::handleOpenURL(const std::string& url) {
    const double now = APMCurrentTimeInterval();
    APMMeasurement::handleSTGWDebugModeWithURL(url);
    dispatchAsyncOnSerialQueue([url, now] {
        if (const std::shared_ptr<APMMeasurement> engine = APMMeasurement::sharedInstance()) {
            engine->handleNonFirstOpenEventURL(url, now);
        }
        if (const auto& listener = APMAnalyticsState::shared().openURLListener) {
            listener(url);
        }
    });
}

void APMAnalytics::handleUserActivity(const std::optional<platform::UserActivity>& activity) {
    const double now = APMCurrentTimeInterval();
    dispatchAsyncOnSerialQueue([activity, now] {
        const std::optional<std::string> url = APMMeasurement::deepLinkFromUserActivity(activity);
        if (!url || url->empty()) {
            return;
        }
        if (const std::shared_ptr<APMMeasurement> engine = APMMeasurement::sharedInstance()) {
            engine->handleNonFirstOpenEventURL(*url, now);
        }
    });
}
