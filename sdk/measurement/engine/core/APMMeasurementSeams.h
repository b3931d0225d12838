#pragma once

#include <optional>
#include <vector>

#include "sdk/measurement/engine/APMEvent.h"

class APMDatabase;

// Seams: the narrow interfaces through which the engine reaches subsystems 10-13 until they
// exist. Each default below is the explicit "not built yet" behaviour and is replaced by its
// subsystem's own class. The engine owns one of each (APMMeasurement's accessors of the same
// name); tests may install their own with TEST_setSeams.
//
// Other seams the engine uses live with the stores: the consent state
// (APMConsentSettingsUtil, subsystem 10) and the experiment manager (subsystem 12: none is
// passed). Event editing (subsystem 13) is built: the remote configuration makes it.
//
// Thread-safety: the engine calls every seam on its worker queue only.

// Seam: conditional user properties (subsystem 10). Default: no property waits for an event, so
// no event is triggered.
class APMConditionalUserPropertySeam {
  public:
    virtual ~APMConditionalUserPropertySeam() = default;
    // The events that `event` triggers through its conditional user properties, in order; no
    // value when they cannot be processed.
    virtual std::optional<std::vector<APMEvent>> processEventOnWorkerQueue(const APMEvent& event) {
        (void)event;
        return std::vector<APMEvent>{};
    }
};

// Seam: lifetime value (subsystem 11). Default: every purchase is accepted and nothing is
// recorded.
class APMLifetimeValueSeam {
  public:
    virtual ~APMLifetimeValueSeam() = default;
    // Adds a purchase's value to the stored lifetime value; false drops the event.
    virtual bool recordLifetimeValueToDatabase(APMDatabase& database, const APMEvent& event) {
        (void)database;
        (void)event;
        return true;
    }
};

// Seam: on-device conversion measurement (subsystem 11). Default: neither client nor service is
// linked and the start checks have nothing to do.
class APMOnDeviceConversionSeam {
  public:
    virtual ~APMOnDeviceConversionSeam() = default;
    virtual bool isAPMPrivateSetMembershipClientLinked() { return false; }
    virtual bool isAlphaAppAdsOnDeviceConversionLinked() { return false; }
    virtual bool isVoviduAdsOnDeviceConversionLinked() { return false; }
    // Start step: checkPSMDependency, checkODM2Dependency, maybeDeleteExpiredPSMValue.
    virtual void checkDependenciesOnWorkerQueue() {}
};

// Seam: audience evaluation (subsystem 10). Default: no filters and no results.
class APMAudienceSeam {
  public:
    virtual ~APMAudienceSeam() = default;
};

// Seam: the search-ads reporter, the deferred deep link and the TCF client (subsystems 10, 11).
// Default: nothing to do at start, since none of them is linked.
class APMAttributionStartSeam {
  public:
    virtual ~APMAttributionStartSeam() = default;
    // Start steps 14 (stored campaign, deferred deep link), 16 (search ads), 17 (TCF client).
    virtual void startCampaignOnWorkerQueue() {}
    virtual void startSearchAdReporterOnWorkerQueue() {}
    virtual void startTCFClientOnWorkerQueue() {}
};
