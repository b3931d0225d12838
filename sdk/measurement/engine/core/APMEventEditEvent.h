#pragma once

#include <optional>

#include "sdk/measurement/engine/APMEvent.h"
#include "sdk/measurement/engine/APMParameterLimits.h"
#include "sdk/measurement/script/APMPEvent.h"

// The conversions between the engine's events and the events the editing scripts see, for the
// engine's event-editing step (APMMeasurement::editEventOnWorkerQueue).

// `event` as the editing scripts see it (APMEvent's editEvent): the public name where the
// internal one has one, the timestamp in milliseconds, and the parameters as plain values
// (array items keep their double, integer and string entries; a nested array is dropped).
APMPEvent APMEventEditEvent(const APMEvent& event);

// The event an edited event stands for (APMEvent's eventFromEditEvent): the internal name
// where the public one has one, the origin from a string "_o" (else "app"), `seconds` as the
// timestamp when given (an edited event keeps its own time: scripts cannot change it, and
// seconds to milliseconds and back does not always give the same double), else the edit event's
// timestamp in seconds; no previous timestamp; the parameters cleaned by the internal rules.
// None when the origin or the name fails validation.
std::optional<APMEvent> APMEventFromEditEvent(const APMPEvent& editEvent,
                                              const APMParameterLimits& limits,
                                              std::optional<double> seconds = std::nullopt);
