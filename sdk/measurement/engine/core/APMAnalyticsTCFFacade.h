#pragma once

#include "sdk/measurement/audiences/APMTCFFacade.h"

// The facade as the engine's TCF client reaches it: the "_tcf" event goes through
// APMAnalytics::logInternalEventWithOrigin (queued behind every earlier call), the consent
// through APMAnalytics::setConsent with the client's key, applied at once on the caller's thread.
//
// Thread-safety: any thread; the facade's calls are.
class APMAnalyticsTCFFacade final : public APMTCFFacade {
  public:
    void logInternalEvent(std::string_view origin, std::string_view name,
                          const sdk::Value::Dictionary& parameters) override;
    void setConsent(const APMConsentSettings& consent, std::string_view key) override;
};
