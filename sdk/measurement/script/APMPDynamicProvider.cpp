#include "sdk/measurement/script/APMPDynamicProvider.h"

#include "sdk/measurement/script/APMPError.h"

void APMPDynamicProvider::setModuleCreator(Creator creator, const std::u16string& name) {
    creators_[name] = std::move(creator);
}

APMPValueRef APMPDynamicProvider::moduleForName(const std::u16string& name,
                                                sdk::Error& error) const {
    const auto it = creators_.find(name);
    if (it == creators_.end() || !it->second) {
        return APMPUndefined();
    }
    APMPValueRef module = it->second();
    if (!module) {
        error = APMPError(APMPErrorCode::kModuleWithoutValue);
        return APMPUndefined();
    }
    return module;
}
