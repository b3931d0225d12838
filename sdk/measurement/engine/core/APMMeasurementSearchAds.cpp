// Start step 16: the search-ads reporter, with the engine's internal-event entry as the way its
// campaign event comes in.
#include "sdk/measurement/attribution/APMSearchAdReporter.h"
#include "sdk/measurement/engine/APMClock.h"
#include "sdk/measurement/engine/APMMeasurement.h"
#include "sdk/measurement/engine/APMParameterLimits.h"
#include "sdk/measurement/engine/APMScheduler.h"

void APMMeasurement::startSearchAdReporterOnWorkerQueue() {
    searchAdReporter_ =
        APMSearchAdReporter::initWithWorkerQueue(scheduler_->workerQueue(), persistedConfig_);
    if (!searchAdReporter_) {
        return;
    }
    // The reporter logs on the worker queue, so its event enters the pipeline directly, stamped
    // now, as an internal event would through the facade.
    std::weak_ptr<APMMeasurement> weak = weak_from_this();
    searchAdReporter_->setInternalEventLogger(
        [weak](std::string_view origin, std::string_view name, sdk::Value::Dictionary parameters) {
            const std::shared_ptr<APMMeasurement> engine = weak.lock();
            if (!engine) {
                return;
            }
            std::optional<APMEvent> event = APMEvent::initWithOrigin(
                origin, false, name, APMCurrentTimeInterval(), 0,
                APMRawParametersFromDictionary(parameters), APMParameterLimits::current());
            if (event) {
                engine->handleInternalEventOnWorkerQueue(std::move(*event));
            }
        });
    searchAdReporter_->setSearchAdReporterEnabled(true);
    searchAdReporter_->start();
}
