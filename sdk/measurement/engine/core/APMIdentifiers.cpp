#include "sdk/measurement/engine/core/APMIdentifiers.h"

#include "sdk/measurement/engine/APMNumericUtil.h"
#include "sdk/measurement/engine/core/APMIdentity.h"
#include "sdk/measurement/engine/core/APMMeasurement.h"

namespace {

// The identity to ask: the engine's once it exists (it does not yet), else the shared one.
std::shared_ptr<APMIdentity> currentIdentity() {
    return APMIdentity::sharedInstance();
}

// Logs `code` with `message` at level 2 and answers "".
std::string missing(std::int64_t code, std::string_view message) {
    APMMonitor::shared().logWithLevel(2, code, message);
    return {};
}

}  // namespace

APMIdentifiers& APMIdentifiers::sharedInstance() {
    // Never destroyed: code running during exit may still ask.
    static APMIdentifiers* const shared = new APMIdentifiers();
    return *shared;
}

APMIdentifiers::APMIdentifiers() : adEventCounter_(APMNumericUtil::randomInt64()) {}

std::string APMIdentifiers::voviduAppID() {
    const std::shared_ptr<APMIdentity> identity = currentIdentity();
    const std::optional<std::string> appID = identity ? identity->appIDFromVUD() : std::nullopt;
    if (!appID) {
        return APMMeasurement::hasSharedInstance()
                   ? missing(37000, "Unable to fetch Vovidu App ID from identity")
                   : missing(37001, "Unable to fetch Vovidu App ID from default options");
    }
    return *appID;
}

std::string APMIdentifiers::analyticsAppID() {
    const std::shared_ptr<APMIdentity> identity = currentIdentity();
    const std::optional<std::string> appID = identity ? identity->appIDFromVUD() : std::nullopt;
    if (!appID || appID->empty()) {
        return missing(37005, "Unable to fetch effective App ID from identity");
    }
    return *appID;
}

std::string APMIdentifiers::appInstanceID() {
    const std::shared_ptr<APMIdentity> identity = currentIdentity();
    const std::optional<std::string> id = identity ? identity->appInstanceID() : std::nullopt;
    if (!id) {
        return APMMeasurement::hasSharedInstance()
                   ? missing(37002, "Unable to fetch App Instance ID from identity")
                   : missing(37003,
                             "Unable to fetch App Instance ID from identity shared instance");
    }
    return *id;
}

std::string APMIdentifiers::adEventID() {
    // Atomic integer arithmetic wraps around, so the counter never overflows.
    return std::to_string(adEventCounter_.fetch_add(1, std::memory_order_relaxed));
}

std::string APMIdentifiers::libraryVersion() {
    return std::to_string(APMIdentity::divEdadevadezeLibraryVersion());
}

std::optional<std::string> APMIdentifiers::origin() {
    std::lock_guard lock(mutex_);
    return origin_;
}

void APMIdentifiers::setOrigin(const std::string& origin) {
    if (origin.empty()) {
        APMMonitor::shared().logWithLevel(
            2, 37004, "Cannot set the data collection origin. Origin cannot be empty");
        return;
    }
    std::lock_guard lock(mutex_);
    origin_ = origin;
}
