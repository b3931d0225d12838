// Hooks of the engine that later parts fill in. Each does nothing until its part exists; the part
// that builds one removes it from here and defines it in its own file.
#include "sdk/measurement/engine/APMMeasurement.h"

// Upload scheduling: re-plans the upload alarm after start and after each handled event.
void APMMeasurement::updateSchedule() {}

// Application activity: observes becoming active and resigning active (configuration fetch,
// upload on resign).
void APMMeasurement::subscribeForAppForegroundBackgroundNotifications() {}

// Reports: the first open, app and OS updates, the personalised-ads user property, consent from
// the configuration, the last advertising-ID reset and the session-ID back-fill.
void APMMeasurement::reportFirstOpenOnWorkerQueue() {}
void APMMeasurement::setPersonalizedAdsUserPropertyOnWorkerQueue() {}
void APMMeasurement::reportAppUpdateOnWorkerQueue() {}
void APMMeasurement::reportOSUpdateOnWorkerQueue() {}
void APMMeasurement::updateConsentSettingsUtilWithRemoteConfig() {}
void APMMeasurement::setLastAdvertisingIDResetUserPropertyOnWorkerQueue() {}
void APMMeasurement::backfillSessionID(const sdk::Value& sessionID,
                                       const sdk::Value& sessionNumber) {
    (void)sessionID;
    (void)sessionNumber;
}

// Campaigns: the cached ad campaign info of a stored "_gbraid" property.
void APMMeasurement::updateCachedAdCampaignInfoWithExistingGBRAIDProperty() {}

// Sessions: the session reporter (made at start and after a wipe), its reporting switch, the
// session number back-fill, step 4 of the pipeline and the expired flag.
void APMMeasurement::startSessionReporterOnWorkerQueue() {}
void APMMeasurement::setSessionReportingEnabled(bool enabled) {
    (void)enabled;
}
void APMMeasurement::backfillSessionNumber() {}
void APMMeasurement::processSessionFromEvent(const APMEvent& event) {
    (void)event;
}
bool APMMeasurement::isSessionExpired() {
    return false;
}

// The facade: error events through its internal-event path, and the log-event listeners.
void APMMeasurement::logErrorEvent(std::int64_t errorCode, std::string_view name,
                                   std::int32_t maxLength) {
    (void)errorCode;
    (void)name;
    (void)maxLength;
}
void APMMeasurement::notifyEventListeners(const APMEvent& event) {
    (void)event;
}
