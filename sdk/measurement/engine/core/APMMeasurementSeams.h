#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "sdk/measurement/engine/APMEvent.h"
#include "sdk/measurement/engine/APMEventAggregates.h"
#include "sdk/measurement/messages/APMPBAccessors.h"
#include "sdk/measurement/messages/APMPBMessages.h"

class APMDatabase;

// Seams: the narrow interfaces through which the engine reaches subsystems 10-13 until they
// exist. Each default below is the explicit "not built yet" behaviour and is replaced by its
// subsystem's own class. The engine owns one of each (APMMeasurement's accessors of the same
// name); tests may install their own with TEST_setSeams.
//
// Other seams the engine uses live with the stores: the consent state
// (APMConsentSettingsUtil, subsystem 10). Event editing (subsystem 13) is built: the remote
// configuration makes it. The remote configuration gets the shared experiment manager
// (APMEManager).
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
    // The user's e-mail address or phone number (plain or hashed) handed in for matching.
    virtual void initiateODM1ProtocolWithUserData(const sdk::Value::Dictionary& userData) {
        (void)userData;
    }
};

// The audience timestamps shared by the filter evaluations of one bundling pass (subsystem 10
// fills it; nothing is kept until then).
class APMAudienceTimestampsCache {};

// Seam: audience evaluation (subsystem 10). Default: no filters and no results; every
// evaluation succeeds without effect.
class APMAudienceSeam {
  public:
    virtual ~APMAudienceSeam() = default;
    // Forgets the results of the session-scoped filters (at a session start).
    virtual void clearEvaluationResultsForSessionScopedFilters() {}
    // Evaluates the property filters of `attribute` at `evaluationTime` (seconds; none: now).
    // False when the results cannot be stored.
    virtual bool evaluateFiltersForNanoUserProperty(const APMPBUserAttribute& attribute,
                                                    APMAudienceTimestampsCache* cache,
                                                    std::optional<double> evaluationTime) {
        (void)attribute;
        (void)cache;
        (void)evaluationTime;
        return true;
    }
    // Evaluates the event filters of `event`, whose aggregates were just updated. False when
    // the results cannot be stored.
    virtual bool evaluateFiltersForEvent(const APMEvent& event,
                                         const APMEventAggregates& eventAggregates,
                                         APMAudienceTimestampsCache& cache) {
        (void)event;
        (void)eventAggregates;
        (void)cache;
        return true;
    }
    // The results a bundle carries; false when they cannot be read.
    virtual bool resultsForBundling(std::vector<APMPBAudienceLeafFilterResult>& results) {
        results.clear();
        return true;
    }
    // Replaces the audience definitions with those of a fetched configuration (APMPBAudience
    // elements); false rolls the configuration's storing back. Default: nothing is kept.
    virtual bool updateAudiences(const APMPBRepeatedArray& audiences) {
        (void)audiences;
        return true;
    }
};

// Seam: the TCF client (subsystem 10). Default: nothing to do at start, since it is not linked.
class APMAttributionStartSeam {
  public:
    virtual ~APMAttributionStartSeam() = default;
    // Start step 17 (TCF client).
    virtual void startTCFClientOnWorkerQueue() {}
};

// Reports and event entry --------------------------------------------------------------------

// One payment transaction as the purchase filter sees it. This platform has no payment queue;
// the purchase reporter (subsystem 11) hands these in.
struct APMPurchaseTransaction {
    // 1 is purchased; other states are never reported.
    std::int64_t transactionState = 0;
    std::string productID;
    std::optional<std::string> transactionIdentifier;
    // The code of the transaction's error, for the purchase reporter's diagnostics.
    std::int64_t errorCode = 0;
};

// Seam: the purchase reporter's fingerprint of a transaction (subsystem 11). Default: none, so
// no purchase is checked for duplicates.
class APMPurchaseFingerprintSeam {
  public:
    virtual ~APMPurchaseFingerprintSeam() = default;
    virtual std::optional<std::string> transactionFingerprint(
        const APMPurchaseTransaction& transaction) {
        (void)transaction;
        return std::nullopt;
    }
};
