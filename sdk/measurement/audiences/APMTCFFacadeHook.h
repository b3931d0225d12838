#pragma once

#include <memory>
#include <string_view>

#include "sdk/measurement/audiences/APMConsentState.h"
#include "sdk/utilities/Value.h"

// The two calls the TCF client makes into the measurement facade: logging its internal "_tcf"
// event (the facade's logInternalEventWithOrigin:name:parameters:) and applying the consent it
// decided under the key "consent_settings_tcf" (the facade's setConsent:forKey:, which gives
// the settings source 5). The facade connects itself here with install() once it exists.
//
// Thread-safety: install() and current() may be called from any thread; the hook in force is
// swapped atomically, so an installed hook must itself be safe from any thread.
class APMTCFFacadeHook {
  public:
    virtual ~APMTCFFacadeHook() = default;

    virtual void logInternalEvent(std::string_view origin, std::string_view name,
                                  const sdk::Value::Dictionary& parameters) = 0;
    virtual void setConsent(const APMConsentSettings& consent, std::string_view key) = 0;

    // The hook in force, never null: the one installed last, else the default, which does
    // nothing with either call (no facade to reach yet).
    static std::shared_ptr<APMTCFFacadeHook> current();

    // Makes `hook` the hook in force; null goes back to the default.
    static void install(std::shared_ptr<APMTCFFacadeHook> hook);
};
