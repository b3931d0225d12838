#pragma once

#include "sdk/measurement/storage/APMAudienceFilter.h"

// One stored user property filter of an audience; `data` is its encoded PropertyFilter
// message and `propertyName` the internal user property name it applies to.
class APMPropertyFilter : public APMAudienceFilter {
  public:
    APMPropertyFilter(std::int32_t audienceID, std::int32_t filterID, std::string propertyName,
                      sdk::Bytes data, bool sessionScoped, bool dynamic, bool sequence)
        : APMAudienceFilter(audienceID, filterID, std::move(propertyName), std::move(data),
                            sessionScoped, dynamic, sequence) {}

    const std::string& propertyName() const { return name(); }

    bool operator==(const APMPropertyFilter&) const = default;
};
