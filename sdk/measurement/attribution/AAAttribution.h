#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "sdk/utilities/Error.h"
#include "sdk/utilities/VDUClassRegistry.h"

// The platform's search-ads attribution class, found by name ("AAAttribution") in the class
// registry. A registered class that also derives from this interface answers
// attributionTokenWithError; one that does not is present but cannot give a token. This
// platform has no such framework, so the program registers none; tests register a fake.
//
// Thread-safety: implementations are called from the measurement worker queue and must be
// safe to call from any thread.
class AAAttribution : public virtual VDUClass {
  public:
    static constexpr std::string_view kClassName = "AAAttribution";

    std::string className() const override { return std::string(kClassName); }

    // The installation's attribution token, or no value with `*error` set (REQUIRES: error is
    // not null) when none can be had.
    virtual std::optional<std::string> attributionTokenWithError(sdk::Error* error) const = 0;
};
