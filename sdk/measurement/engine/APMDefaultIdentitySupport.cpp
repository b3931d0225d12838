#include "sdk/measurement/engine/APMDefaultIdentitySupport.h"

APMDefaultIdentitySupport& APMDefaultIdentitySupport::sharedInstance() {
    // Never destroyed: code running during exit may still ask.
    static APMDefaultIdentitySupport* const shared = new APMDefaultIdentitySupport();
    return *shared;
}

bool APMDefaultIdentitySupport::hasAppDataConsentStatus() {
    const std::shared_ptr<APMIdentitySupport> s = support();
    return s && s->hasAppDataConsentStatus();
}

std::int64_t APMDefaultIdentitySupport::appDataConsentStatus() {
    const std::shared_ptr<APMIdentitySupport> s = support();
    return s ? s->appDataConsentStatus() : -1;
}

void APMDefaultIdentitySupport::TEST_setPlatformSupport(
    std::shared_ptr<APMIdentitySupport> support) {
    std::lock_guard lock(mutex_);
    support_ = std::move(support);
}

std::shared_ptr<APMIdentitySupport> APMDefaultIdentitySupport::support() {
    std::lock_guard lock(mutex_);
    return support_;
}
