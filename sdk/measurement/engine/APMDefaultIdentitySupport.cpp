#include "sdk/measurement/engine/APMDefaultIdentitySupport.h"

#include <chrono>

#include "sdk/measurement/engine/APMMonitor.h"

namespace {
constexpr auto kDeviceIDWait = std::chrono::milliseconds(10);
}  // namespace

APMDefaultIdentitySupport& APMDefaultIdentitySupport::sharedInstance() {
    // Never destroyed: code running during exit may still ask.
    static APMDefaultIdentitySupport* const shared = new APMDefaultIdentitySupport();
    return *shared;
}

APMDefaultIdentitySupport::APMDefaultIdentitySupport()
    : queue_(platform::DispatchQueue::createSerial("APMDefaultIdentitySupport")) {
    // No platform identity support is part of this program.
    APMMonitor::shared().logWithLevel(4, 44003,
                                      "VoviduDivEdadevadezeIdentitySupport dependency is not "
                                      "currently linked. IDFA will not be accessible.");
}

bool APMDefaultIdentitySupport::hasAppDataConsentStatus() {
    const std::shared_ptr<APMIdentitySupport> s = support();
    return s && s->hasAppDataConsentStatus();
}

std::int64_t APMDefaultIdentitySupport::appDataConsentStatus() {
    const std::shared_ptr<APMIdentitySupport> s = support();
    return s ? s->appDataConsentStatus() : -1;
}

bool APMDefaultIdentitySupport::hasLimitedAdTracking() {
    const std::shared_ptr<APMIdentitySupport> s = support();
    return s && s->hasLimitedAdTracking();
}

std::optional<std::int64_t> APMDefaultIdentitySupport::trackingAuthorizationStatus() {
    const std::shared_ptr<APMIdentitySupport> s = support();
    return s ? s->trackingAuthorizationStatus() : std::nullopt;
}

bool APMDefaultIdentitySupport::limitedAdTracking() {
    const std::optional<std::string> id = resettableDeviceID();
    return !id || *id == kZeroIdentifier;
}

std::optional<std::string> APMDefaultIdentitySupport::resettableDeviceID() {
    const std::shared_ptr<APMIdentitySupport> s = support();
    if (!s) {
        return std::nullopt;
    }
    std::unique_lock lock(mutex_);
    const std::uint64_t answersBefore = deviceIDAnswers_;
    lock.unlock();
    queue_->async([this, s] {
        std::optional<std::string> id = s->resettableDeviceID();
        {
            std::lock_guard guard(mutex_);
            deviceID_ = std::move(id);
            ++deviceIDAnswers_;
        }
        deviceIDArrived_.notify_all();
    });
    lock.lock();
    deviceIDArrived_.wait_for(lock, kDeviceIDWait,
                              [&] { return deviceIDAnswers_ != answersBefore; });
    return deviceID_;
}

std::shared_ptr<APMIdentitySupport> APMDefaultIdentitySupport::support() {
    std::lock_guard lock(mutex_);
    return support_;
}
