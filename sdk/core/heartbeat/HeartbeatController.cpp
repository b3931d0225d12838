#include "sdk/core/heartbeat/HeartbeatController.h"

#include <algorithm>
#include <vector>

namespace heartbeat {

HeartbeatController::HeartbeatController(const std::string& id)
    : HeartbeatController(HeartbeatStorage::sharedStore(id), &sdk::Date::now) {}

HeartbeatController::HeartbeatController(std::shared_ptr<HeartbeatStorageProtocol> storage,
                                         Clock clock)
    : storage_(std::move(storage)), dateProvider_([clock = std::move(clock)] {
          return heartbeatCalendar().startOfDay(clock());
      }) {}

void HeartbeatController::log(const std::string& agent) {
    const sdk::Date today = dateProvider_();
    storage_->updateAsync([today, agent](std::optional<HeartbeatsBundle> stored) {
        HeartbeatsBundle bundle = stored ? std::move(*stored) : HeartbeatsBundle(kCapacity);
        std::vector<TimePeriod> due;
        for (const auto& [period, lastDate] : bundle.lastAddedHeartbeatDates()) {
            if (today.timeIntervalSince1970() - lastDate.timeIntervalSince1970() >=
                timePeriodLength(period)) {
                due.push_back(period);
            }
        }
        if (!due.empty()) {
            bundle.append(Heartbeat{agent, today, 0, std::move(due)});
        }
        return std::optional<HeartbeatsBundle>(std::move(bundle));
    });
}

std::optional<HeartbeatsBundle> HeartbeatController::resetBundle(
    std::optional<HeartbeatsBundle> old) {
    if (!old) {
        return std::nullopt;
    }
    return HeartbeatsBundle(kCapacity, old->lastAddedHeartbeatDates());
}

HeartbeatsPayload HeartbeatController::payloadOfSwap(const SwapResult& result) {
    if (!result.error.ok() || !result.old) {
        return HeartbeatsPayload::empty();
    }
    return result.old->makePayload();
}

HeartbeatsPayload HeartbeatController::flush() {
    return payloadOfSwap(storage_->swapSync(&resetBundle));
}

void HeartbeatController::flushAsync(std::function<void(HeartbeatsPayload)> completion) {
    storage_->swapAsync(&resetBundle, [completion = std::move(completion)](SwapResult result) {
        completion(payloadOfSwap(result));
    });
}

void HeartbeatController::restore(const HeartbeatsPayload& payload) {
    if (payload.isEmpty()) {
        return;
    }
    storage_->updateAsync([payload](std::optional<HeartbeatsBundle> stored) {
        HeartbeatsBundle bundle = stored ? std::move(*stored) : HeartbeatsBundle(kCapacity);
        for (const auto& entry : payload.userAgentPayloads) {
            for (const sdk::Date& date : entry.dates) {
                const auto& slots = bundle.buffer().circularQueue();
                const bool present = std::any_of(slots.begin(), slots.end(), [&](const auto& slot) {
                    return slot && slot->date == date && slot->agent == entry.agent;
                });
                if (!present) {
                    bundle.append(Heartbeat{entry.agent, date, 0, {TimePeriod::daily}});
                }
            }
        }
        return std::optional<HeartbeatsBundle>(std::move(bundle));
    });
}

HeartbeatsPayload HeartbeatController::flushHeartbeatFromToday() {
    const sdk::Date today = dateProvider_();
    std::optional<Heartbeat> removed;
    storage_->updateSync([&](std::optional<HeartbeatsBundle> stored) {
        if (stored) {
            removed = stored->removeHeartbeatDated(today);
        }
        return stored;
    });
    if (!removed) {
        return HeartbeatsPayload::empty();
    }
    return HeartbeatsPayload({{removed->agent, {removed->date}}}, HeartbeatsPayload::kVersion);
}

}  // namespace heartbeat
