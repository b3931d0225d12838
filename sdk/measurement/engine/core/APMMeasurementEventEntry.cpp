// Where events from the facade enter the engine, the purchase de-duplication and the user data
// for on-device conversion measurement. Entry points only schedule on the worker queue.
#include "platform/dispatch/DispatchQueue.h"
#include "platform/storekit/StoreTransaction.h"
#include "sdk/measurement/attribution/APMInAppPurchaseTransactionReporter.h"
#include "sdk/measurement/engine/APMDebugNames.h"
#include "sdk/measurement/engine/APMError.h"
#include "sdk/measurement/engine/APMEvent.h"
#include "sdk/measurement/engine/APMParameterLimits.h"
#include "sdk/measurement/engine/APMScheduler.h"
#include "sdk/measurement/engine/core/APMMeasurement.h"
#include "sdk/measurement/storage/APMDatabase.h"
#include "sdk/measurement/storage/APMRemoteConfig.h"

namespace {

// Ad events ("am" origin, ad exposure) never go to the interceptor or the listeners.
bool isAdEvent(const APMEvent& event) {
    return event.origin() == "am" || event.name() == "_xa" || event.name() == "_xu";
}

// The purchased transactions that are not known duplicates. Without a fingerprint, or without a
// store to check it in, a purchase is kept: a duplicate report is better than a lost one.
std::vector<platform::StoreTransaction> purchasesToReport(
    std::vector<platform::StoreTransaction> transactions, APMDatabase* database) {
    APMMonitor& monitor = APMMeasurement::monitor();
    std::vector<platform::StoreTransaction> kept;
    for (platform::StoreTransaction& transaction : transactions) {
        if (transaction.transactionState != platform::StoreTransactionState::kPurchased) {
            continue;
        }
        const std::string productID = transaction.productIdentifier.value_or("");
        const std::optional<std::string> fingerprint =
            APMInAppPurchaseTransactionReporter::transactionFingerprint(&transaction);
        if (!fingerprint || fingerprint->empty()) {
            monitor.logWithLevel(2, 23139,
                                 "Purchase has nil or empty fingerprint. Purchase will not be "
                                 "checked for duplicates. Product ID",
                                 productID);
            kept.push_back(std::move(transaction));
            continue;
        }
        sdk::Error error = apm_errorWithCode(2, "Database not open.");
        const std::optional<bool> isNew =
            database ? database->insertIfNotDuplicatePurchaseFingerprint(*fingerprint, &error)
                     : std::nullopt;
        if (isNew == std::optional<bool>(false)) {
            monitor.logWithLevel(4, 23141,
                                 "Purchase is a duplicate and will not be reported. Product ID",
                                 productID);
            continue;
        }
        if (!isNew) {
            monitor.logWithLevel(1, 23140,
                                 "Failed to save purchase fingerprint. Purchase will not be "
                                 "checked for duplicates. Product ID, error",
                                 productID, error);
        }
        kept.push_back(std::move(transaction));
    }
    return kept;
}

}  // namespace

void APMMeasurement::logEvent(std::optional<APMEvent> event) {
    if (!event) {
        monitor().logWithLevel(4, 23048, "Attempted to log nil event");
        return;
    }
    std::weak_ptr<APMMeasurement> weak = weak_from_this();
    scheduler_->scheduleOnWorkerQueue(
        "APMMeasurement:2582", [weak, event = std::move(*event)]() mutable {
            if (std::shared_ptr<APMMeasurement> engine = weak.lock()) {
                engine->handleEventOnWorkerQueue(std::move(event));
            }
        });
}

void APMMeasurement::logEventWithOrigin(EventEntry entry) {
    std::weak_ptr<APMMeasurement> weak = weak_from_this();
    scheduler_->scheduleOnWorkerQueue(
        "APMMeasurement:2476", [weak, entry = std::move(entry)]() mutable {
            if (std::shared_ptr<APMMeasurement> engine = weak.lock()) {
                engine->logEventOnWorkerQueueWithOrigin(std::move(entry));
            }
        });
}

void APMMeasurement::logEventOnWorkerQueueWithOrigin(EventEntry entry) {
    APMScheduler::checkOnBackgroundThreadWithMethodName("logEventOnWorkerQueueWithOrigin:");
    if (!takesEvents_) {
        return;
    }
    struct Handled {
        std::atomic<std::int64_t>& count;
        ~Handled() { count.fetch_add(1); }
    } handled{eventEntriesHandled_};
    if (!entry.ignoreInterceptor && entry.name != "_err") {
        entry.parameters = parametersWithAddedDefaultEventParameters(entry.parameters);
    }
    std::optional<APMEvent> event =
        APMEvent::initWithOrigin(entry.origin, entry.isPublicEvent, entry.name, entry.timestamp, 0,
                                 entry.parameters, APMRemoteConfig::current()->parameterLimits());
    if (!event) {
        monitor().logWithLevel(1, 23219, "Attempted to log nil event. Origin, name, parameters",
                               entry.origin, APMDebugEventName(entry.name),
                               static_cast<std::int64_t>(entry.parameters.size()));
        return;
    }
    if (!entry.addedScreenParameters.empty()) {
        event->addScreenParameters(
            entry.addedScreenParameters,
            APMRemoteConfig::current()->parameterLimits().maxPublicEventParameterValueLength);
    }
    // What the event writes is written under the consent of the moment it was logged.
    struct WritingConsent {
        std::shared_ptr<const APMConsentSnapshot>& slot;
        ~WritingConsent() { slot.reset(); }
    } writingConsent{writingConsent_};
    writingConsent_ = entry.consent;
    if ((!entry.enabled && !entry.ignoreEnabled) || isAdEvent(*event)) {
        logEventOnWorkerQueue(std::move(*event), false);
        return;
    }
    if (!entry.ignoreInterceptor && entry.isPublicEvent && entry.interceptor) {
        APMRawParameters intercepted = entry.parameters;
        for (const auto& [name, value] : entry.addedScreenParameters) {
            intercepted.insert_or_assign(name, value);
        }
        entry.interceptor(entry.origin, entry.name, intercepted, entry.timestamp);
        return;
    }
    logEventOnWorkerQueue(std::move(*event), true);
}

void APMMeasurement::logEventOnWorkerQueue(APMEvent event, bool notifyListeners) {
    if (!notifyListeners) {
        handleEventOnWorkerQueue(std::move(event));
        return;
    }
    const APMEvent handled = event;
    handleEventOnWorkerQueue(std::move(event));
    notifyEventListeners(handled);
}

void APMMeasurement::setUserData(sdk::Value::Dictionary userData) {
    std::weak_ptr<APMMeasurement> weak = weak_from_this();
    scheduler_->scheduleOnWorkerQueue(
        "APMMeasurement:3367", [weak, userData = std::move(userData)] {
            if (std::shared_ptr<APMMeasurement> engine = weak.lock()) {
                engine->initiateODM1ProtocolWithUserData(userData);
            }
        });
}

void APMMeasurement::filterPurchaseTransactions(
    std::vector<platform::StoreTransaction> transactions,
    std::function<void(std::vector<platform::StoreTransaction>)> callback) {
    std::weak_ptr<APMMeasurement> weak = weak_from_this();
    scheduler_->scheduleOnWorkerQueue(
        "APMMeasurement:3838",
        [weak, transactions = std::move(transactions), callback = std::move(callback)]() mutable {
            std::shared_ptr<APMMeasurement> engine = weak.lock();
            if (!engine) {
                return;
            }
            std::vector<platform::StoreTransaction> kept =
                purchasesToReport(std::move(transactions), engine->database_.get());
            if (callback) {
                platform::DispatchQueue::global()->async(
                    [callback = std::move(callback), kept = std::move(kept)]() mutable {
                        callback(std::move(kept));
                    });
            }
        });
}
