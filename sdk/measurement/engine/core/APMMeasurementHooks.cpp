// Hooks of the engine that later parts fill in. Each does nothing until its part exists; the part
// that builds one removes it from here and defines it in its own file.
#include "sdk/measurement/engine/APMMeasurement.h"

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

