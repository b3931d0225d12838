#include "sdk/measurement/audiences/APMConditionalUserPropertyEngine.h"

#include <mutex>
#include <utility>

namespace {

// Set once, read from every thread. The provider is copied out before it is called, so this
// mutex is never held while the engine takes its own locks.
struct ProviderSlot {
    std::mutex mutex;
    APMConditionalUserPropertyEngine::Provider provider;  // guarded by mutex
};

ProviderSlot& providerSlot() {
    static ProviderSlot* const slot = new ProviderSlot();  // never destroyed
    return *slot;
}

}  // namespace

bool APMConditionalUserPropertyEngine::setProvider(Provider provider) {
    ProviderSlot& slot = providerSlot();
    const std::lock_guard lock(slot.mutex);
    if (slot.provider || !provider) {
        return false;
    }
    slot.provider = std::move(provider);
    return true;
}

std::shared_ptr<APMConditionalUserPropertyEngine> APMConditionalUserPropertyEngine::current() {
    Provider provider;
    {
        ProviderSlot& slot = providerSlot();
        const std::lock_guard lock(slot.mutex);
        provider = slot.provider;
    }
    return provider ? provider() : nullptr;
}
