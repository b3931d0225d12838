#include "sdk/utilities/VDUReachabilityChecker.h"

#include "sdk/utilities/FormatString.h"
#include "sdk/utilities/VDULogger.h"

namespace {

constexpr std::string_view kSubsystem = "com.vovidu.utilities.logger";
constexpr std::string_view kService = "[VDUReachability]";

std::string messageCode(std::int64_t code) {
    return sdk::formatString("I-REA%06ld", {{sdk::FormatArg(code)}});
}

// Reachability flag bits of a reading.
constexpr std::uint32_t kReachable = 0x2;
constexpr std::uint32_t kConnectionRequired = 0x4;
constexpr std::uint32_t kConnectionOnTrafficOrDemand = 0x28;
constexpr std::uint32_t kInterventionRequired = 0x10;

void flagsChanged(VDUReachabilityRef, std::uint32_t flags, void* info) {
    static_cast<VDUReachabilityChecker*>(info)->reachabilityFlagsChanged(flags);
}

const char* statusWord(std::int32_t status) {
    switch (status) {
        case VDUReachabilityStatusUnknown:
            return "Unknown";
        case VDUReachabilityStatusNotConnected:
            return "Disconnected";
        default:
            return "Connected";
    }
}

}  // namespace

std::unique_ptr<VDUReachabilityChecker> VDUReachabilityChecker::create(
    std::weak_ptr<VDUReachabilityDelegate> delegate, std::string_view host) {
    if (host.empty()) {
        VDULoggerLogError(kSubsystem, kService, false, messageCode(902001),
                          "Invalid host specified");
        return nullptr;
    }
    return std::unique_ptr<VDUReachabilityChecker>(
        new VDUReachabilityChecker(std::move(delegate), std::string(host)));
}

VDUReachabilityChecker::VDUReachabilityChecker(std::weak_ptr<VDUReachabilityDelegate> delegate,
                                               std::string host)
    : reachabilityApi_(VDUDefaultReachabilityApi()),
      host_(std::move(host)),
      reachabilityDelegate_(std::move(delegate)) {}

VDUReachabilityChecker::~VDUReachabilityChecker() {
    reachabilityDelegate_.reset();
    stop();
}

void VDUReachabilityChecker::setReachabilityApi(const VDUReachabilityApi* api) {
    if (isActive()) {
        VDULoggerLogError(
            kSubsystem, kService, false, messageCode(902000),
            "Cannot change reachability API while reachability is running. Call stop first.");
        return;
    }
    reachabilityApi_ = api;
}

bool VDUReachabilityChecker::start() {
    if (!isActive()) {
        VDUReachabilityRef object = reachabilityApi_->createWithNameFn(host_.c_str());
        if (object == nullptr) {
            return false;
        }
        reachability_ = ObjectPtr(object, reachabilityApi_->releaseFn);
        const VDUReachabilityContext context{0, this};
        const bool scheduled = reachabilityApi_->setCallbackFn(object, flagsChanged, &context) &&
                               reachabilityApi_->scheduleWithRunLoopFn(object);
        if (!scheduled) {
            reachability_.reset();
            VDULoggerLogError(kSubsystem, kService, false, messageCode(902002),
                              "Failed to start reachability handle");
            return false;
        }
    }
    VDULoggerLogDebug(kSubsystem, kService, false, messageCode(902003),
                      "Monitoring the network status");
    return true;
}

void VDUReachabilityChecker::stop() {
    if (!isActive()) {
        return;
    }
    reachabilityStatus_ = VDUReachabilityStatusUnknown;
    reachabilityApi_->unscheduleFromRunLoopFn(reachability_.get());
    reachability_.reset();
}

std::int32_t VDUReachabilityChecker::statusForFlags(std::uint32_t flags) const {
    if ((flags & kReachable) == 0) {
        return VDUReachabilityStatusNotConnected;
    }
    if ((flags & kConnectionRequired) == 0) {
        return VDUReachabilityStatusConnected;
    }
    const bool automatic =
        (flags & kConnectionOnTrafficOrDemand) != 0 && (flags & kInterventionRequired) == 0;
    return automatic ? VDUReachabilityStatusConnected : VDUReachabilityStatusNotConnected;
}

void VDUReachabilityChecker::reachabilityFlagsChanged(std::uint32_t flags) {
    const std::int32_t status = statusForFlags(flags);
    if (status == reachabilityStatus_) {
        return;
    }
    VDULoggerLogDebug(kSubsystem, kService, false, messageCode(902004),
                      "Network status has changed. Code:%@, status:%@", sdk::Value(status),
                      sdk::Value(statusWord(status)));
    reachabilityStatus_ = status;
    if (std::shared_ptr<VDUReachabilityDelegate> delegate = reachabilityDelegate_.lock()) {
        delegate->reachability(*this, status);
    }
}
