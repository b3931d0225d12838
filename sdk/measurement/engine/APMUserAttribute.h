#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "sdk/measurement/engine/APMValue.h"
#include "sdk/measurement/messages/APMPBMessages.h"

// One user property: origin, internal name, value and when it was last set (seconds since
// 1970). A plain value; made only with a valid internal name and value.
class APMUserAttribute {
  public:
    // None when the name or the value fails the internal user property rules.
    static std::optional<APMUserAttribute> initWithOrigin(std::string_view origin,
                                                          std::string_view name, APMValue value,
                                                          double lastSetTimestamp);

    const std::string& origin() const { return origin_; }
    const std::string& name() const { return name_; }
    const APMValue& value() const { return value_; }
    double lastSetTimestamp() const { return lastSetTimestamp_; }

    // A name that does not begin with "_".
    bool isPublic() const { return !name_.empty() && !name_.starts_with("_"); }

    // The wire form: set time in milliseconds, name and one value field; the origin is not
    // sent.
    APMPBUserAttribute protoUserAttribute() const;

  private:
    // Tests make attributes without the checks through it
    // (tests/sdk/measurement/engine/APMUserAttributeTestPeer.h).
    friend class APMUserAttributeTestPeer;

    APMUserAttribute(std::string origin, std::string name, APMValue value, double lastSet)
        : origin_(std::move(origin)),
          name_(std::move(name)),
          value_(std::move(value)),
          lastSetTimestamp_(lastSet) {}

    std::string origin_;
    std::string name_;
    APMValue value_;
    double lastSetTimestamp_;
};
