// The facade's purchase hooks: payment-queue transactions go through the engine's duplicate
// filter to the purchase reporter, transactions the app passes in go to it directly, and its
// events come back through the internal-event intake.
#include <mutex>

#include "sdk/measurement/attribution/APMInAppPurchaseTransactionReporter.h"
#include "sdk/measurement/engine/core/APMAnalytics.h"
#include "sdk/measurement/engine/core/APMAnalyticsState.h"
#include "sdk/measurement/engine/core/APMMeasurement.h"

namespace {

const std::shared_ptr<APMInAppPurchaseTransactionReporter>& connectedReporter() {
    APMAnalytics::connectPurchaseReporter();
    return APMInAppPurchaseTransactionReporter::sharedInstance();
}

}  // namespace

void APMAnalytics::connectPurchaseReporter() {
    static std::once_flag once;
    std::call_once(once, [] {
        APMInAppPurchaseTransactionReporter::sharedInstance()->setInternalEventLogger(
            [](std::string_view origin, std::string_view name, APMParameters parameters) {
                APMRawParameters raw;
                for (auto& [key, value] : parameters) {
                    raw.emplace(key, std::move(value));
                }
                logInternalEventWithOrigin(std::string(origin), std::string(name), raw);
            });
    });
}

void APMAnalytics::paymentQueueUpdatedTransactions(
    std::vector<platform::StoreTransaction> transactions) {
    queueOperationWithBlock([transactions = std::move(transactions)]() mutable {
        if (!APMAnalyticsState::shared().enabled) {
            return;
        }
        const std::shared_ptr<APMMeasurement> engine = APMMeasurement::sharedInstance();
        if (!engine) {
            return;
        }
        engine->filterPurchaseTransactions(
            std::move(transactions), [](std::vector<platform::StoreTransaction> kept) {
                connectedReporter()->paymentQueueUpdatedFilteredTransactions(std::move(kept));
            });
    });
}

void APMAnalytics::logTransactionWithProductID(APMPurchaseTransaction transaction) {
    connectedReporter()->reportTransactionWithProductID(std::move(transaction));
}
