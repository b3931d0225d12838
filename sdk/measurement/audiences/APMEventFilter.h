#pragma once

#include <cstdint>
#include <string>

#include "sdk/utilities/Value.h"

// One stored event filter of an audience: its audience and filter IDs, the internal event name
// it applies to and its encoded EventFilter message. The flags say how its result is kept:
// per session, re-evaluated on every event (dynamic), or as a step of a sequence. A plain
// value; any thread.
class APMEventFilter {
  public:
    APMEventFilter(std::int32_t audienceID, std::int32_t filterID, std::string eventName,
                   sdk::Bytes data, bool sessionScoped, bool dynamic, bool sequence)
        : audienceID_(audienceID),
          filterID_(filterID),
          eventName_(std::move(eventName)),
          data_(std::move(data)),
          sessionScoped_(sessionScoped),
          dynamic_(dynamic),
          sequence_(sequence) {}

    std::int32_t audienceID() const { return audienceID_; }
    std::int32_t filterID() const { return filterID_; }
    const std::string& eventName() const { return eventName_; }
    const sdk::Bytes& data() const { return data_; }
    bool isSessionScoped() const { return sessionScoped_; }
    bool isDynamic() const { return dynamic_; }
    bool isSequence() const { return sequence_; }

    bool operator==(const APMEventFilter&) const = default;

  private:
    std::int32_t audienceID_;
    std::int32_t filterID_;
    std::string eventName_;
    sdk::Bytes data_;
    bool sessionScoped_;
    bool dynamic_;
    bool sequence_;
};
