// The search-ads reporter's creation, switch and daily schedule.
#include "sdk/measurement/attribution/APMSearchAdReporter.h"

#include <cmath>
#include <utility>

#include "sdk/measurement/attribution/AAAttribution.h"
#include "sdk/measurement/engine/APMAEU.h"
#include "sdk/measurement/engine/APMAlarm.h"
#include "sdk/measurement/engine/APMClock.h"
#include "sdk/measurement/engine/APMMonitor.h"
#include "sdk/measurement/storage/APMPersistedConfig.h"
#include "sdk/utilities/VDUClassRegistry.h"

namespace {

APMMonitor& monitor() {
    return APMMonitor::shared();
}

}  // namespace

std::shared_ptr<APMSearchAdReporter> APMSearchAdReporter::initWithWorkerQueue(
    platform::QueueRef workerQueue, std::shared_ptr<APMPersistedConfig> persistedConfig) {
    if (!workerQueue) {
        monitor().logWithLevel(2, 32000, "Cannot init Search Ad reporter. Queue must be provided");
        return nullptr;
    }
    if (!persistedConfig) {
        monitor().logWithLevel(2, 32001,
                               "Cannot init Search Ad reporter. Persisted config must be provided");
        return nullptr;
    }
    if (persistedConfig->searchAdRetryCount() > kMaxRetryCount - 1) {
        return nullptr;
    }
    if (persistedConfig->searchAdCampaignValue()) {
        monitor().logWithLevel(7, 32002,
                               "Search Ad campaign attribution was already reported. Do not start "
                               "Search Ad Reporter.");
        return nullptr;
    }
    return std::make_shared<APMSearchAdReporter>(Passkey(), std::move(workerQueue),
                                                 std::move(persistedConfig));
}

APMSearchAdReporter::APMSearchAdReporter(Passkey, platform::QueueRef workerQueue,
                                         std::shared_ptr<APMPersistedConfig> persistedConfig)
    : workerQueue_(std::move(workerQueue)),
      persistedConfig_(std::move(persistedConfig)),
      alarm_(std::make_shared<APMAlarm>(workerQueue_, std::string(kAlarmName))) {}

APMSearchAdReporter::~APMSearchAdReporter() {
    cancelScheduling();
}

void APMSearchAdReporter::setInternalEventLogger(InternalEventLogger logger) {
    std::lock_guard lock(mutex_);
    eventLogger_ = std::move(logger);
}

APMSearchAdReporter::InternalEventLogger APMSearchAdReporter::eventLogger() const {
    std::lock_guard lock(mutex_);
    return eventLogger_;
}

std::shared_ptr<APMAlarm> APMSearchAdReporter::searchAdReporterAlarm() const {
    std::lock_guard lock(mutex_);
    return alarm_;
}

std::shared_ptr<const VDUClass> APMSearchAdReporter::adClientInstance() {
    return VDUClassRegistry::classNamed(AAAttribution::kClassName);
}

void APMSearchAdReporter::start() {
    if (!adClientInstance()) {
        monitor().logWithLevel(
            7, 32014,
            "AdServices framework is not linked. Search Ad Attribution Reporter is disabled.");
        return;
    }
    if (APMAEU::isNOD()) {
        monitor().logWithLevel(7, 32019,
                               "Search Ad Attribution Reporter is disabled on the simulator");
        return;
    }
    started_.store(true);
    scheduleSearchAdReport();
}

void APMSearchAdReporter::setSearchAdReporterEnabled(bool enabled) {
    const bool wasEnabled = enabled_.exchange(enabled);
    if (!enabled) {
        if (const std::shared_ptr<APMAlarm> alarm = searchAdReporterAlarm()) {
            alarm->cancel();
        }
        return;
    }
    if (!wasEnabled && started_.load()) {
        scheduleSearchAdReport();
    }
}

void APMSearchAdReporter::scheduleSearchAdReport() {
    const std::shared_ptr<APMAlarm> alarm = searchAdReporterAlarm();
    if (!alarm) {
        monitor().logWithLevel(5, 32013,
                               "Search Ad Campaign attribution alarm is already canceled");
        return;
    }
    if (!enabled_.load()) {
        alarm->cancel();
        return;
    }
    if (persistedConfig_->searchAdCampaignValue()) {
        monitor().logWithLevel(7, 32004,
                               "Search Ad report not scheduled. Search Ad campaign attribution was "
                               "already reported.");
        cancelScheduling();
        return;
    }
    if (alarm->scheduledTimestamp()) {
        monitor().logWithLevel(5, 32005,
                               "Search Ad Campaign attribution alarm is already scheduled");
        return;
    }
    if (persistedConfig_->searchAdRetryCount() >= kMaxRetryCount) {
        monitor().logWithLevel(5, 32007,
                               "Search Ad Campaign attribution exceeds the max number of retries. "
                               "Do not schedule again.");
        cancelScheduling();
        return;
    }
    monitor().logWithLevel(7, 32006, "Scheduling Search Ad Report timer");
    const double sinceLastLookUp =
        std::fabs(APMCurrentTimeInterval() - persistedConfig_->lastSearchAdLookUpTimestamp());
    std::weak_ptr<APMSearchAdReporter> weak = weak_from_this();
    alarm->runAfterDelay(kReportPeriodSeconds - sinceLastLookUp, [weak] {
        if (const std::shared_ptr<APMSearchAdReporter> self = weak.lock()) {
            self->maybeLogIAdCampaignEvent();
        }
    });
}

void APMSearchAdReporter::cancelScheduling() {
    std::shared_ptr<APMAlarm> alarm;
    {
        std::lock_guard lock(mutex_);
        alarm = std::move(alarm_);
        alarm_.reset();
    }
    if (alarm) {
        alarm->cancel();
    }
}

void APMSearchAdReporter::maybeLogIAdCampaignEvent() {
    if (!adClientInstance()) {
        return;
    }
    persistedConfig_->setLastSearchAdLookUpTimestamp(APMCurrentTimeInterval());
    fetchAttributionDetails();
    scheduleSearchAdReport();
}

void APMSearchAdReporter::fetchAttributionDetails() {
    persistedConfig_->setSearchAdRetryCount(persistedConfig_->searchAdRetryCount() + 1);
    const std::shared_ptr<const AAAttribution> attribution =
        VDUClassRegistry::classNamed<AAAttribution>(AAAttribution::kClassName);
    if (!attribution) {
        return;
    }
    sdk::Error error;
    const std::optional<std::string> token = attribution->attributionTokenWithError(&error);
    if (!error.ok()) {
        monitor().logWithLevel(
            1, 32018, "Cannot send request for Search Ad campaign attribution. Error", error);
        return;
    }
    if (token && !token->empty()) {
        requestAttributionPayloadWithToken(*token);
    }
}
