#include "sdk/measurement/engine/core/APMAnalyticsTCFFacade.h"

#include <string>

#include "sdk/measurement/engine/core/APMAnalytics.h"

void APMAnalyticsTCFFacade::logInternalEvent(std::string_view origin, std::string_view name,
                                             const sdk::Value::Dictionary& parameters) {
    APMAnalytics::logInternalEventWithOrigin(std::string(origin), std::string(name),
                                             APMRawParametersFromDictionary(parameters));
}

void APMAnalyticsTCFFacade::setConsent(const APMConsentSettings& consent, std::string_view key) {
    sdk::Value::Dictionary dictionary;
    for (const auto& [type, status] : consent) {
        dictionary.emplace(type, sdk::Value(status));
    }
    APMAnalytics::setConsent(dictionary, key);
}
