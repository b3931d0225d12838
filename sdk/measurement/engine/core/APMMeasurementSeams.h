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

class APMScreen;

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
// measurement is built: its engine methods live in sdk/measurement/attribution/engine.
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

// Seam: ad exposure (subsystem 11). Default: nothing is measured. It is held by the screen-view
// reporter (APMScreenViewReporter::setAdExposureReporter) and called on the main thread
// (activity) and on the reporter's queue (screen changes).
class APMAdExposureSeam {
  public:
    virtual ~APMAdExposureSeam() = default;
    virtual void handleAppDidBecomeActive() {}
    // `screen` is null: the platform never knows the screen at that moment.
    virtual void handleAppWillResignActiveWithScreen(const APMScreen* screen) { (void)screen; }
    virtual void handleScreenDidChangeFromScreen(const APMScreen* previous,
                                                 const APMScreen& current) {
        (void)previous;
        (void)current;
    }
};
