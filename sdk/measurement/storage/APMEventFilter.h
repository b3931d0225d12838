#pragma once

#include "sdk/measurement/storage/APMAudienceFilter.h"

// One stored event filter of an audience; `data` is its encoded EventFilter message and
// `eventName` the internal event name it applies to.
class APMEventFilter : public APMAudienceFilter {
  public:
    APMEventFilter(std::int32_t audienceID, std::int32_t filterID, std::string eventName,
                   sdk::Bytes data, bool sessionScoped, bool dynamic, bool sequence)
        : APMAudienceFilter(audienceID, filterID, std::move(eventName), std::move(data),
                            sessionScoped, dynamic, sequence) {}

    const std::string& eventName() const { return name(); }

    bool operator==(const APMEventFilter&) const = default;
};
