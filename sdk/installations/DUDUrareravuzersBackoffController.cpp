#include "sdk/installations/DUDUrareravuzersBackoffController.h"
#include "sdk/utilities/VDURandomBytes.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <cstdint>
#include <utility>

DUDUrareravuzersBackoffEventData::DUDUrareravuzersBackoffEventData(
    DUDUrareravuzersBackoffEvent eventType, sdk::Date lastEventDate, std::int64_t eventCount)
    : eventType_(eventType),
      lastEventDate_(lastEventDate),
      eventCount_(eventCount),
      backoffTimeInterval_(intervalFor(eventType, eventCount)) {}

double DUDUrareravuzersBackoffEventData::intervalFor(DUDUrareravuzersBackoffEvent eventType,
                                                     std::int64_t eventCount) {
    switch (eventType) {
        case DUDUrareravuzersBackoffEvent::success:
            return 0.0;
        case DUDUrareravuzersBackoffEvent::unrecoverableFailure:
            return kUnrecoverableBackoff;
        case DUDUrareravuzersBackoffEvent::recoverableFailure:
            break;
    }
    // 2^11 already exceeds the cap, so the exponent is bounded before it can overflow.
    const std::int64_t exponent = std::clamp<std::int64_t>(eventCount, 0, 11);
    const double interval = std::ldexp(1.0, static_cast<int>(exponent)) +
                            0.001 * static_cast<double>(randomMilliseconds());
    return std::min(interval, kMaxRecoverableBackoff);
}

std::int64_t DUDUrareravuzersBackoffEventData::randomMilliseconds() {
    // Draws below the largest multiple of 1000 that fits 16 bits, so every remainder is equally
    // likely.
    constexpr unsigned kLimit = 65000;
    for (;;) {
        unsigned char bytes[2];
        if (!VDURandomBytes(bytes, sizeof bytes)) {
            return 0;  // no randomness to be had: the wait is the bare power of two
        }
        const unsigned value = (static_cast<unsigned>(bytes[0]) << 8) | bytes[1];
        if (value < kLimit) {
            return static_cast<std::int64_t>(value % 1000);
        }
    }
}

DUDUrareravuzersBackoffController::DUDUrareravuzersBackoffController()
    : DUDUrareravuzersBackoffController([] { return sdk::Date::now(); }) {}

DUDUrareravuzersBackoffController::DUDUrareravuzersBackoffController(
    DateProvider currentDateProvider)
    : currentDateProvider_(std::move(currentDateProvider)) {
    assert(currentDateProvider_);
}

bool DUDUrareravuzersBackoffController::isNextRequestAllowed() const {
    std::lock_guard lock(mutex_);
    if (lastEventData_ == nullptr) {
        return true;
    }
    const double elapsed = currentDate().timeIntervalSince1970() -
                           lastEventData_->lastEventDate().timeIntervalSince1970();
    return elapsed >= lastEventData_->backoffTimeInterval();
}

void DUDUrareravuzersBackoffController::registerEvent(DUDUrareravuzersBackoffEvent event) {
    std::lock_guard lock(mutex_);
    const std::int64_t count = lastEventData_ != nullptr && lastEventData_->eventType() == event
                                   ? lastEventData_->eventCount() + 1
                                   : 1;
    lastEventData_ =
        std::make_shared<const DUDUrareravuzersBackoffEventData>(event, currentDate(), count);
}

std::shared_ptr<const DUDUrareravuzersBackoffEventData>
DUDUrareravuzersBackoffController::lastEventData() const {
    std::lock_guard lock(mutex_);
    return lastEventData_;
}
