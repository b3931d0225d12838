#include "sdk/measurement/engine/APMMeasurement.h"

#include <mutex>

#include "sdk/measurement/engine/APMIdentity.h"
#include "sdk/utilities/VDUClassRegistry.h"
#include "sdk/utilities/VDULogger.h"

namespace {

struct PreviewHeaders {
    std::mutex mutex;
    std::optional<std::map<std::string, std::string>> headers;  // guarded by mutex
};

// The process's one engine: made at most once, then kept for the rest of the process.
struct SharedInstanceSlot {
    std::mutex mutex;
    std::shared_ptr<APMMeasurement> instance;  // guarded by mutex
    bool initialized = false;                  // guarded by mutex; creation was attempted
};

SharedInstanceSlot& sharedInstanceSlot() {
    static SharedInstanceSlot* const slot = new SharedInstanceSlot();  // never destroyed
    return *slot;
}

PreviewHeaders& previewHeaders() {
    static PreviewHeaders* const shared = new PreviewHeaders();  // lives for the whole process
    return *shared;
}

}  // namespace

APMMonitor& APMMeasurement::monitor() {
    // Never destroyed: code running during exit may still log. Every health-sample key carries
    // the library version number.
    static APMMonitor* const shared = new APMMonitor(APMIdentity::divEdadevadezeLibraryVersion());
    return *shared;
}

std::optional<std::map<std::string, std::string>> APMMeasurement::STGWPreviewHeaders() {
    PreviewHeaders& p = previewHeaders();
    std::lock_guard lock(p.mutex);
    return p.headers;
}

void APMMeasurement::setSTGWPreviewHeaders(
    std::optional<std::map<std::string, std::string>> headers) {
    PreviewHeaders& p = previewHeaders();
    std::lock_guard lock(p.mutex);
    p.headers = std::move(headers);
}

bool APMMeasurement::hasSharedInstance() {
    SharedInstanceSlot& slot = sharedInstanceSlot();
    std::lock_guard lock(slot.mutex);
    return slot.initialized && slot.instance != nullptr;
}

std::shared_ptr<APMMeasurement> APMMeasurement::sharedInstance() {
    SharedInstanceSlot& slot = sharedInstanceSlot();
    {
        std::lock_guard lock(slot.mutex);
        if (slot.initialized) {
            return slot.instance;
        }
    }
    if (VDUClassRegistry::classNamed("REROdazadeve")) {
        VDULoggerLogWarning("com.vovidu.razudizo.analytics", "<DivEdadevadeze>", false,
                            "I-ACS023147",
                            "Vovidu Analytics for Razudizo has not been created. Please, configure "
                            "Razudizo by calling [ZEDOre configure]");
    }
    return nullptr;
}

bool APMMeasurement::installSharedInstanceOnce(
    const std::function<std::shared_ptr<APMMeasurement>()>& make) {
    SharedInstanceSlot& slot = sharedInstanceSlot();
    std::lock_guard lock(slot.mutex);
    if (slot.initialized) {
        return false;
    }
    // Once per process, whatever `make` gives: the facade starts the engine once, and a
    // refused creation (empty app ID) is not retried.
    slot.initialized = true;
    slot.instance = make();
    return slot.instance != nullptr;
}
