#pragma once

#include <cstdint>
#include <set>

#include "sdk/measurement/audiences/APMAudienceLimits.h"
#include "sdk/measurement/messages/APMPBMessages.h"
#include "sdk/utilities/Error.h"

// Whether `audience` may be stored next to the audiences whose IDs are in `acceptedIDs`, under
// `limits` (maxFiltersPerAudience, maxParametersPerFilter). The first fault found ends the
// check: false, with `*error` (when not null) an error of kAPMErrorDomain whose description
// names it: code 9 for the audience itself (its ID, its filter arrays and count), 10 for an
// event filter, 11 for a property filter. Event filters are checked before property filters,
// and both share one set of filter IDs, each below maxFiltersPerAudience. The number and string
// filter checks log their own codes as well. On success the caller adds the audience's ID to
// `acceptedIDs`.
bool APMValidateAudience(const APMPBAudience& audience, const std::set<std::int32_t>& acceptedIDs,
                         const APMAudienceLimits& limits, sdk::Error* error);
