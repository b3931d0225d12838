#pragma once

#include <set>
#include <string>
#include <string_view>

#include "sdk/utilities/Value.h"

// The fixed allow- and block-lists through which the analytics connector filters what other
// SDK components (known by their short origins) may log, set, query and hear. Each list is
// built once and never changes. Thread-safe.
class ZUVIdezavideRudur {
  public:
    ZUVIdezavideRudur() = delete;

    using NameSet = std::set<std::string, std::less<>>;

    // "riam", "crash", "rcx".
    static const NameSet& allowedListenerOrigins();
    // "auto", "app", "am": the engine's and the app's own origins.
    static const NameSet& blocklistedOrigins();
    static const NameSet& blocklistedEventNames();
    static const NameSet& blocklistedParameters();
    static const NameSet& blocklistedUserProperties();
    // Regular expressions: lifetime values by upper-case currency and the "_cc" properties.
    static const NameSet& blocklistedUserPropertyPatterns();
    // Events no listener hears.
    static const NameSet& hiddenEventNames();

    static bool isOriginAllowed(std::string_view origin);
    // "app" or "app+..." (an app origin forwarded by another component).
    static bool isAppOrigin(std::string_view origin);
    static bool isListenerOriginAllowed(std::string_view origin);
    static bool isEventNameAllowedForListeners(std::string_view name);
    // Only "_vs" for "rcx".
    static bool isEventNameAllowedForListenerOrigin(std::string_view name, std::string_view origin);
    // Not empty, not blocklisted, and no blocklisted parameter.
    static bool shouldLogEventWithName(std::string_view name,
                                       const sdk::Value::Dictionary& parameters);
    // "_ln" only for "rcm" and "riam"; otherwise neither listed nor matching a pattern.
    static bool isUserPropertyAllowed(std::string_view name, std::string_view origin);
    // "_fot" and every name that does not begin with "_".
    static bool isUserPropertyAllowedForQuery(std::string_view name);
};
