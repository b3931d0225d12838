#include "sdk/measurement/engine/core/APMMeasurement.h"

#include <mutex>

#include "sdk/measurement/storage/APMRemoteConfig.h"
#include "sdk/utilities/VDUClassRegistry.h"
#include "sdk/utilities/VDULogger.h"

namespace {

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

}  // namespace

APMMonitor& APMMeasurement::monitor() {
    return APMMonitor::shared();
}

std::shared_ptr<APMRemoteConfig> APMMeasurement::remoteConfig() {
    return APMRemoteConfig::current();
}

void APMMeasurement::setRemoteConfig(std::shared_ptr<APMRemoteConfig> remoteConfig) {
    APMRemoteConfig::setCurrent(std::move(remoteConfig));
}

std::optional<std::map<std::string, std::string>> APMMeasurement::STGWPreviewHeaders() {
    return APMRemoteConfig::STGWPreviewHeaders();
}

void APMMeasurement::setSTGWPreviewHeaders(
    std::optional<std::map<std::string, std::string>> headers) {
    APMRemoteConfig::setSTGWPreviewHeaders(std::move(headers));
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

void APMMeasurement::provideConditionalUserPropertyEngine() {
    // Through sharedInstance, so a look-up before the engine exists warns as any other does.
    APMConditionalUserPropertyEngine::setProvider(
        []() -> std::shared_ptr<APMConditionalUserPropertyEngine> {
            return APMMeasurement::sharedInstance();
        });
}

bool APMMeasurement::installSharedInstanceOnce(
    const std::function<std::shared_ptr<APMMeasurement>()>& make) {
    SharedInstanceSlot& slot = sharedInstanceSlot();
    std::lock_guard lock(slot.mutex);
    if (slot.initialized) {
        return false;
    }
    // Before the instance is made, so nothing made with it can miss it.
    provideConditionalUserPropertyEngine();
    // Once per process, whatever `make` gives: the facade starts the engine once, and a
    // refused creation (empty app ID) is not retried.
    slot.initialized = true;
    slot.instance = make();
    return slot.instance != nullptr;
}
