#pragma once

#include <string>
#include <utility>

#include "sdk/measurement/engine/APMUserAttribute.h"

// What tests may do with user attributes beyond their public interface. Test code only.
class APMUserAttributeTestPeer {
  public:
    APMUserAttributeTestPeer() = delete;

    // An attribute made without the name and value checks, so that the stores' own checks can
    // be reached.
    static APMUserAttribute initUnchecked(std::string origin, std::string name, APMValue value,
                                          double lastSetTimestamp) {
        return APMUserAttribute(std::move(origin), std::move(name), std::move(value),
                                lastSetTimestamp);
    }
};
