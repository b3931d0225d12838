#include "sdk/measurement/engine/APMMeasurement.h"

APMMonitor& APMMeasurement::monitor() {
    // Never destroyed: code running during exit may still log.
    static APMMonitor* const shared = new APMMonitor(kLibraryVersion);
    return *shared;
}
