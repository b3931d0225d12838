#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "sdk/measurement/audiences/APMAudience.h"
#include "sdk/measurement/engine/APMEvent.h"
#include "sdk/measurement/engine/APMEventAggregates.h"
#include "sdk/measurement/messages/APMPBAccessors.h"
#include "sdk/measurement/messages/APMPBMessages.h"

// Seams: the narrow interfaces through which the engine reaches subsystems 10-13 until they
// exist. Each default below is the explicit "not built yet" behaviour and is replaced by its
// subsystem's own class. The engine owns one of each (APMMeasurement's accessors of the same
// name); tests may install their own with TEST_setSeams.
//
// The consent state (APMConsentSettingsUtil) and the TCF client (APMTCFClient) of subsystem 10
// are built and need no seam. Audience evaluation (subsystem 10) is built: APMAudience, made at
// component start. Event editing (subsystem 13) is built: the remote
// configuration makes it. The remote configuration gets the shared experiment manager
// (APMEManager). Purchases (subsystem 11) are built: the purchase filter takes the purchase
// reporter's fingerprint and the write step the lifetime-value recorder. On-device conversion
// measurement is built: its engine methods live in sdk/measurement/attribution/engine. Ad
// exposure is built: the screen-view reporter calls APMAdExposureReporter.
//
// Thread-safety: the engine calls every seam on its worker queue only.

// Conditional user properties (subsystem 10): the engine's write path asks this interface; it is
// APMConditionalUserPropertyController's shared instance unless a test installs another.
class APMConditionalUserPropertySeam {
  public:
    virtual ~APMConditionalUserPropertySeam() = default;
    // The events that `event` triggers through its conditional user properties, in order; no
    // value when they cannot be processed.
    virtual std::optional<std::vector<APMEvent>> processEventOnWorkerQueue(
        const APMEvent& event) = 0;
};
