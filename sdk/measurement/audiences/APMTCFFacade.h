#pragma once

#include <string_view>

#include "sdk/measurement/audiences/APMConsentState.h"
#include "sdk/utilities/Value.h"

// The two calls the TCF client makes into the measurement facade: logging its internal "_tcf"
// event (the facade's internal-event entry) and applying the consent it decided under the key
// "consent_settings_tcf" (the facade's consent entry, which gives the settings source 5). The
// engine hands its client the facade (APMAnalyticsTCFFacade); tests hand in recorders.
//
// Thread-safety: called on the thread that drives the client (the engine's worker queue).
class APMTCFFacade {
  public:
    virtual ~APMTCFFacade() = default;

    virtual void logInternalEvent(std::string_view origin, std::string_view name,
                                  const sdk::Value::Dictionary& parameters) = 0;
    virtual void setConsent(const APMConsentSettings& consent, std::string_view key) = 0;
};
