#include "sdk/measurement/engine/APMMeasurement.h"

#include <mutex>

#include "sdk/measurement/engine/APMIdentity.h"

namespace {

struct PreviewHeaders {
    std::mutex mutex;
    std::optional<std::map<std::string, std::string>> headers;  // guarded by mutex
};

PreviewHeaders& previewHeaders() {
    static PreviewHeaders* const shared = new PreviewHeaders();  // lives for the whole process
    return *shared;
}

}  // namespace

APMMonitor& APMMeasurement::monitor() {
    // Never destroyed: code running during exit may still log. Every health-sample key carries
    // the library version number.
    static APMMonitor* const shared = new APMMonitor(APMIdentity::divEdadevadezeLibraryVersion());
    return *shared;
}

std::optional<std::map<std::string, std::string>> APMMeasurement::STGWPreviewHeaders() {
    PreviewHeaders& p = previewHeaders();
    std::lock_guard lock(p.mutex);
    return p.headers;
}

void APMMeasurement::setSTGWPreviewHeaders(
    std::optional<std::map<std::string, std::string>> headers) {
    PreviewHeaders& p = previewHeaders();
    std::lock_guard lock(p.mutex);
    p.headers = std::move(headers);
}
