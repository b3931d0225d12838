// Upload: the queued bundles completed with their upload-time fields, posted as one batch, and
// the answer that deletes them or counts a retry.
#include <charconv>
#include <cmath>
#include <limits>

#include "sdk/measurement/attribution/APMPSMContext.h"
#include "sdk/measurement/audiences/APMConsentSettingsUtil.h"
#include "sdk/measurement/engine/APMClock.h"
#include "sdk/measurement/engine/APMDigest.h"
#include "sdk/measurement/engine/APMScheduler.h"
#include "sdk/measurement/engine/APMUserAttribute.h"
#include "sdk/measurement/engine/core/APMBundleFields.h"
#include "sdk/measurement/engine/core/APMIdentity.h"
#include "sdk/measurement/engine/core/APMMeasurement.h"
#include "sdk/measurement/messages/APMPBAccessors.h"
#include "sdk/measurement/storage/APMDatabase.h"
#include "sdk/measurement/storage/APMPersistedConfig.h"
#include "sdk/measurement/storage/APMRemoteConfig.h"

namespace {

namespace Bundle = apmpb::MeasurementBundle;

// How long uploads stay suspended after the uploaded bundles could not be deleted.
constexpr double kUploadSuspensionSeconds = 3600.0;

// Milliseconds since 1970 of `seconds`, saturating (NaN gives 0).
std::int64_t millisecondsFromSeconds(double seconds) {
    const double ms = std::trunc(seconds * 1000);
    if (std::isnan(ms)) {
        return 0;
    }
    if (ms >= 9223372036854775807.0) {
        return std::numeric_limits<std::int64_t>::max();
    }
    if (ms <= -9223372036854775808.0) {
        return std::numeric_limits<std::int64_t>::min();
    }
    return static_cast<std::int64_t>(ms);
}

std::string stringField(const APMPBMeasurementBundle& bundle, std::int32_t tag) {
    return APMPBGetString(&bundle, tag).value_or("");
}

// The answer's "Content-Length", or -1 when it has none.
std::int64_t expectedContentLength(const VDUNetwork::Response& response) {
    if (!response) {
        return -1;
    }
    const std::optional<std::string> text =
        platform::headerValue(response->headers, "Content-Length");
    std::int64_t length = -1;
    if (text) {
        const auto [end, ec] = std::from_chars(text->data(), text->data() + text->size(), length);
        if (ec != std::errc() || end != text->data() + text->size() || length < 0) {
            length = -1;
        }
    }
    return length;
}

}  // namespace

void APMMeasurement::uploadData() {
    if (suspendedUploadTimestamp_ > 0) {
        updateSchedule();
        return;
    }
    monitor().logWithLevel(8, 23033, "Starting data upload");
    if (!isNetworkReadyForRequest()) {
        monitor().logWithLevel(8, 23034, "Network operation is pending. Ignoring upload request");
        return;
    }
    if (!network_ || !network_->isNetworkConnected()) {
        monitor().logWithLevel(7, 23035, "Network not connected, ignoring upload request");
        updateSchedule();
        return;
    }
    if (!remoteConfig_->isExpired()) {
        const std::int32_t most = remoteConfig_->maxBundlesCreatedPerIteration();
        for (std::int32_t i = 0; i < most && bundleRawEvents(); ++i) {
        }
    }
    sdk::Error error;
    std::optional<std::vector<QueuedBundle>> rows = database_->queryBundlesWithCountLimit(
        remoteConfig_->uploadMaxBundlesLimit(), remoteConfig_->uploadMaxSizeLimitBytes(), &error);
    if (!rows) {
        monitor().logWithLevel(1, 23036, "Failed to query bundles. Error", error);
        terminateBackgroundTask();
        return;
    }
    if (rows->empty()) {
        remoteConfig_->activateNewSnapshot();
        monitor().logWithLevel(8, 23037, "No data to upload");
        if (remoteConfig_->isExpired()) {
            fetchRemoteConfig();
        } else {
            terminateBackgroundTask();
        }
        return;
    }
    const std::optional<std::pair<std::string, VDUNetwork::Headers>> endpoint = uploadEndpoint();
    if (!endpoint) {
        return;
    }
    const double now = APMCurrentTimeInterval();
    const std::int64_t nowMilliseconds = millisecondsFromSeconds(now);
    auto [batch, bundleIDs] = uploadBatchFromRows(std::move(*rows), nowMilliseconds);
    if (remoteConfig_->STGWUploadEnabled() && !remoteConfig_->uploadSubdomain().empty()) {
        APMPBSetString(&batch, apmpb::MeasurementBatch::kUploadSubdomain,
                       remoteConfig_->uploadSubdomain());
    }
    if (const double lastSuccess = persistedConfig_->lastSuccessfulUploadTimestamp();
        lastSuccess != 0) {
        monitor().logWithLevel(8, 23038,
                               "Uploading events. Elapsed time since last successful upload (s)",
                               now - lastSuccess);
    }
    const std::optional<sdk::Bytes> payload = batch.protoBuffer();
    if (!payload) {
        return;  // the codec has said why
    }
    monitor().logWithLevel(7, 23039, "Measurement data sent to network. Timestamp (ms), data",
                           nowMilliseconds, sdk::Value(*payload));
    postUploadBatch(endpoint->first, endpoint->second, *payload, bundleIDs, now);
}

std::optional<std::pair<std::string, VDUNetwork::Headers>> APMMeasurement::uploadEndpoint() {
    if (!remoteConfig_->STGWUploadEnabled()) {
        return std::pair(remoteConfig_->uploadURL(), VDUNetwork::Headers{});
    }
    const std::optional<std::string> url = remoteConfig_->STGWUploadURL();
    if (!url) {
        monitor().logWithLevel(1, 23263, "Unable to get a valid STGW upload URL.");
        return std::nullopt;
    }
    VDUNetwork::Headers headers =
        remoteConfig_->STGWUploadHTTPHeaders().value_or(VDUNetwork::Headers{});
    for (const auto& [name, value] : STGWPreviewHeaders().value_or(VDUNetwork::Headers{})) {
        headers[name] = value;
    }
    return std::pair(*url, std::move(headers));
}

void APMMeasurement::postUploadBatch(const std::string& url, const VDUNetwork::Headers& headers,
                                     const sdk::Bytes& payload,
                                     const std::vector<std::int64_t>& bundleIDs, double now) {
    setUploadInProgressWithBundleIDs(bundleIDs);
    // Nothing is sent unless exactly this batch is recorded as in flight: the answer deletes
    // the recorded rows.
    if (bundleIDs.empty() || uploadingBundleIDs_ != bundleIDs) {
        return;
    }
    // Counts as a failure until an answer says otherwise, so a crash during the request too.
    persistedConfig_->setLastFailedUploadTimestamp(now);
    isNetworkRequestPending_ = true;
    network_->setTimeoutInterval(remoteConfig_->networkTimeout());
    std::weak_ptr<APMMeasurement> weak = weak_from_this();
    const std::optional<std::string> sessionID = network_->postURL(
        url, headers, payload, scheduler_->workerQueue(), shouldUseBackgroundSession(),
        [weak](const VDUNetwork::Response& response, const VDUNetwork::Data&,
               const sdk::Error& error) {
            if (std::shared_ptr<APMMeasurement> engine = weak.lock()) {
                engine->isNetworkRequestPending_ = false;
                engine->networkUploadCompletionHandlerWithResponse(response, error);
            }
        });
    if (!sessionID || sessionID->empty()) {
        monitor().logWithLevel(2, 23040, "Unable to create network session.");
        uploadingBundleIDs_.clear();
    }
}

std::pair<APMPBMeasurementBatch, std::vector<std::int64_t>> APMMeasurement::uploadBatchFromRows(
    std::vector<QueuedBundle> rows, std::int64_t nowMilliseconds) {
    // The consent-management platform may have changed its keys since the last upload.
    tcfClientSetConsentFromData();
    const std::string signals = APMConsentSettingsUtil::consentSignals();
    const bool gate = remoteConfig_->gateIDFAOnATTMASEnabled();
    const std::string diagnostics = APMConsentSettingsUtil::consentDiagnostics();
    const bool adUserDataDenied = APMConsentSettingsUtil::isAdUserDataDenied();
    std::optional<APMPBUserAttribute> npa;
    sdk::Error error;
    if (const std::optional<APMUserAttribute> stored =
            storedUserAttributeWithName("_npa", &error)) {
        npa = stored->protoUserAttribute();
    }
    // Once consent is refused, or a bundle holds the first open, this upload's consent fields
    // replace what every later bundle carries.
    bool overwrite = signals.find('0') != std::string::npos;
    for (QueuedBundle& row : rows) {
        APMPBMeasurementBundle& bundle = *row.first;
        overwrite = overwrite || APMBundleHasFirstOpenEvent(bundle);
        APMSetBundleIdentifiers(bundle, signals, gate, *identity_, overwrite);
        APMSetBundleConsentFields(bundle, diagnostics, adUserDataDenied, npa ? &*npa : nullptr,
                                  *remoteConfig_, overwrite);
    }
    std::optional<std::string> resettableDeviceID;
    std::optional<std::string> vendorDeviceID;
    for (const QueuedBundle& row : rows) {
        if (std::string id = stringField(*row.first, Bundle::kResettableDeviceId); !id.empty()) {
            resettableDeviceID = std::move(id);
            break;
        }
        if (std::string id = stringField(*row.first, Bundle::kVendorDeviceId); !id.empty()) {
            vendorDeviceID = std::move(id);
            break;
        }
    }
    const std::string appID = rows.empty() ? "" : stringField(*rows.front().first, Bundle::kAppId);
    const std::vector<QueuedBundle> kept =
        filteredBundlesWithCompatibleAppID(appID, resettableDeviceID, vendorDeviceID, rows);

    APMPBRepeatedArray bundles;
    std::vector<std::int64_t> bundleIDs;
    for (const QueuedBundle& row : kept) {
        APMPBMeasurementBundle& bundle = *row.first;
        APMPBSetInt64(&bundle, Bundle::kUploadingVudVersion,
                      APMIdentity::divEdadevadezeLibraryVersion());
        APMPBSetInt64(&bundle, Bundle::kUploadTimestampMillis, nowMilliseconds);
        APMApplyDataControlsToBundle(bundle, remoteConfig_->dataControls(), *identity_);
        APMPBClearField(&bundle, Bundle::kChecksum);
        if (remoteConfig_->checksumEnabled()) {
            const std::optional<sdk::Bytes> encoded = bundle.protoBuffer();
            APMPBSetInt64(&bundle, Bundle::kChecksum, apm_64LSBMD5(encoded.value_or(sdk::Bytes{})));
        }
        if (!bundleIDs.empty() && !APMBundlesHaveSameConsent(kept.front().first.get(), &bundle)) {
            break;
        }
        bundles.emplace_back(row.first);
        bundleIDs.push_back(row.second);
    }
    APMPBMeasurementBatch batch;
    APMPBSetRepeated(&batch, apmpb::MeasurementBatch::kBundles, bundles);
    return {std::move(batch), std::move(bundleIDs)};
}

std::vector<APMMeasurement::QueuedBundle> APMMeasurement::filteredBundlesWithCompatibleAppID(
    const std::string& appID, const std::optional<std::string>& resettableDeviceID,
    const std::optional<std::string>& vendorDeviceID,
    const std::vector<QueuedBundle>& bundlesToUpload) {
    if (resettableDeviceID && vendorDeviceID) {
        monitor().logWithLevel(
            2, 23042, "Bundle filter must not specify both resettableDeviceID and vendorDeviceID");
        return {};
    }
    const std::int32_t idTag =
        resettableDeviceID ? Bundle::kResettableDeviceId : Bundle::kVendorDeviceId;
    const std::string chosen = resettableDeviceID.value_or(vendorDeviceID.value_or(""));
    std::vector<QueuedBundle> kept;
    for (const QueuedBundle& row : bundlesToUpload) {
        const std::string id = stringField(*row.first, idTag);
        if ((!id.empty() && id != chosen) || stringField(*row.first, Bundle::kAppId) != appID) {
            break;
        }
        kept.push_back(row);
    }
    return kept;
}

void APMMeasurement::setUploadInProgressWithBundleIDs(const std::vector<std::int64_t>& bundleIDs) {
    if (bundleIDs.empty()) {
        monitor().logWithLevel(2, 23046, "Bundle list is empty. Cancelling upload");
        return;
    }
    if (!uploadingBundleIDs_.empty()) {
        monitor().logWithLevel(2, 23047,
                               "Set uploading progress before finishing the previous upload");
        return;
    }
    uploadingBundleIDs_ = bundleIDs;
}

void APMMeasurement::recordUploadFailureWithCode(long code, double now) {
    persistedConfig_->setLastFailedUploadTimestamp(now);
    if (code == 503 || code == 429) {
        persistedConfig_->setLastBackoffTimestamp(now);
    }
}

void APMMeasurement::networkUploadCompletionHandlerWithResponse(
    const VDUNetwork::Response& response, const sdk::Error& error) {
    const long code = response ? response->statusCode : 0;
    const double now = APMCurrentTimeInterval();
    if (code != 200 && code != 204) {
        recordUploadFailureWithCode(code, now);
        monitor().logWithLevel(7, 23043, "Network upload failed. Will retry later. Code, error",
                               static_cast<std::int64_t>(code), error);
        incrementRetryCounter();
        uploadingBundleIDs_.clear();
        updateSchedule();
        return;
    }
    monitor().logWithLevel(7, 23044, "Successful upload. Got network response. Code, size",
                           static_cast<std::int64_t>(code), expectedContentLength(response));
    persistedConfig_->setLastSuccessfulUploadTimestamp(now);
    persistedConfig_->setLastFailedUploadTimestamp(0);
    persistedConfig_->setLastBackoffTimestamp(0);
    updateSchedule();
    if (removeBundlesFromDatabaseWithIDs(uploadingBundleIDs_)) {
        suspendedUploadTimestamp_ = 0;
    } else {
        monitor().logWithLevel(
            1, 23045, "Unable to delete uploaded bundles. Uploads will be suspended for seconds",
            kUploadSuspensionSeconds);
        // An uptime that cannot be read would suspend for ever: no suspension then.
        suspendedUploadTimestamp_ = std::max(systemUptime(), 0.0);
    }
    uploadingBundleIDs_.clear();
    if ((network_->isNetworkConnected() && hasDataToUpload()) || remoteConfig_->isExpired()) {
        uploadData();
        return;
    }
    // A query that waited for this upload goes out now.
    if (ODM1Context_ && ODM1Context_->isPSMRequestPostponed) {
        ODM1Context_->isPSMRequestPostponed = false;
        retrievePSMResponse();
        return;
    }
    updateSchedule();
}

void APMMeasurement::incrementRetryCounter() {
    sdk::Error error;
    if (!database_->incrementRetryCounterForBundlesWithIDs(uploadingBundleIDs_, &error)) {
        monitor().logWithLevel(1, 23166, "Failed to increment bundle retry counter. Error", error);
    }
}

bool APMMeasurement::removeBundlesFromDatabaseWithIDs(const std::vector<std::int64_t>& bundleIDs) {
    sdk::Error error;
    if (!database_->deleteBundlesWithRowIDs(bundleIDs, &error)) {
        monitor().logWithLevel(1, 23122, "Failed to remove uploaded bundles. Error", error);
        return false;
    }
    return true;
}
