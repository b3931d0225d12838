#include "sdk/utilities/VDUReachabilityApi.h"

#include <memory>

#include "platform/reachability/ReachabilityProbe.h"

namespace {

platform::ReachabilityProbe* probe(VDUReachabilityRef target) {
    return static_cast<platform::ReachabilityProbe*>(target);
}

VDUReachabilityRef createProbe(const char* host) {
    if (host == nullptr) {
        return nullptr;
    }
    // Ownership passes to the caller through the table; releaseProbe takes it back.
    return std::make_unique<platform::ReachabilityProbe>(host).release();
}

bool setProbeCallback(VDUReachabilityRef target, VDUReachabilityCallback callback,
                      const VDUReachabilityContext* context) {
    if (target == nullptr || callback == nullptr) {
        return false;
    }
    void* info = context != nullptr ? context->info : nullptr;
    probe(target)->setCallback(
        [target, callback, info](std::uint32_t flags) { callback(target, flags, info); });
    return true;
}

bool scheduleProbe(VDUReachabilityRef target) {
    return target != nullptr && probe(target)->schedule(platform::DispatchQueue::main());
}

bool unscheduleProbe(VDUReachabilityRef target) {
    return target != nullptr && probe(target)->unschedule();
}

void releaseProbe(VDUReachabilityRef target) {
    std::unique_ptr<platform::ReachabilityProbe> owned(probe(target));
}

constexpr VDUReachabilityApi kDefaultApi{createProbe, setProbeCallback, scheduleProbe,
                                         unscheduleProbe, releaseProbe};

}  // namespace

const VDUReachabilityApi* VDUDefaultReachabilityApi() {
    return &kDefaultApi;
}
