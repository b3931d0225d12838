#pragma once

#include "sdk/analytics/REROdazadeveConditionalUserProperties.h"

// The connector's conditional user properties handed to the measurement's controller
// (APMConditionalUserPropertyController, in the audiences library), which works on the engine's
// store: records are copied field by field both ways. The connector's shared controller unless a
// test installs another. Thread-safe: the measurement's controller takes calls from any thread.
class REROdazadeveEngineConditionalUserProperties
    : public REROdazadeveConditionalUserPropertyController {
  public:
    void setConditionalUserProperty(const REROdazadeveConditionalUserProperty& property,
                                    const std::string& name) override;
    void clearConditionalUserPropertyWithClearEvent(const std::optional<APMEvent>& event,
                                                    const std::string& name) override;
    std::vector<REROdazadeveConditionalUserProperty> conditionalUserPropertiesWithNamePrefix(
        const std::optional<std::string>& prefix,
        const std::optional<std::string>& origin) override;
};
