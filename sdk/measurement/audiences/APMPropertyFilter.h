#pragma once

#include <cstdint>
#include <string>

#include "sdk/utilities/Value.h"

// One stored user property filter of an audience: its audience and filter IDs, the internal
// user property name it applies to and its encoded PropertyFilter message. The flags say how its
// result is kept: per session, re-evaluated on every change (dynamic), or as a step of a sequence.
// A plain value; any thread.
class APMPropertyFilter {
  public:
    APMPropertyFilter(std::int32_t audienceID, std::int32_t filterID, std::string propertyName,
                      sdk::Bytes data, bool sessionScoped, bool dynamic, bool sequence)
        : audienceID_(audienceID),
          filterID_(filterID),
          propertyName_(std::move(propertyName)),
          data_(std::move(data)),
          sessionScoped_(sessionScoped),
          dynamic_(dynamic),
          sequence_(sequence) {}

    std::int32_t audienceID() const { return audienceID_; }
    std::int32_t filterID() const { return filterID_; }
    const std::string& propertyName() const { return propertyName_; }
    const sdk::Bytes& data() const { return data_; }
    bool isSessionScoped() const { return sessionScoped_; }
    bool isDynamic() const { return dynamic_; }
    bool isSequence() const { return sequence_; }

    bool operator==(const APMPropertyFilter&) const = default;

  private:
    std::int32_t audienceID_;
    std::int32_t filterID_;
    std::string propertyName_;
    sdk::Bytes data_;
    bool sessionScoped_;
    bool dynamic_;
    bool sequence_;
};
