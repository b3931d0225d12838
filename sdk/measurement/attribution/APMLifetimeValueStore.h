#pragma once

#include <optional>
#include <string_view>
#include <vector>

#include "sdk/measurement/engine/APMUserAttribute.h"
#include "sdk/utilities/Error.h"

// The user-property operations of the measurement database that lifetime value needs. The
// engine's database provides them; the recorder sees only this much of it.
class APMLifetimeValueStore {
  public:
    virtual ~APMLifetimeValueStore() = default;

    // The user properties whose name begins with "_ltv_", most recently set first; none with
    // `error` set when they cannot be read.
    virtual std::optional<std::vector<APMUserAttribute>> allLifetimeValueUserAttributes(
        sdk::Error* error) = 0;
    virtual bool deleteUserAttributeWithName(std::string_view name, sdk::Error* error) = 0;
    // Writes the property's row, replacing one of the same name.
    virtual bool updateUserAttribute(const APMUserAttribute& attribute, sdk::Error* error) = 0;
};
