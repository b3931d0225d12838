// The upload queue: finished bundles, gzip-compressed, waiting for a successful upload, and the
// periodic removal of stale raw events and bundles.
#include <algorithm>
#include <cmath>

#include "sdk/measurement/engine/APMClock.h"
#include "sdk/measurement/engine/APMMonitor.h"
#include "sdk/measurement/messages/APMPBAccessors.h"
#include "sdk/measurement/storage/APMDatabase.h"
#include "sdk/measurement/storage/APMRemoteConfig.h"
#include "sdk/utilities/VDUGzip.h"

namespace {

constexpr const char* kQueueTable = "queue";

// "rowid IN (?,?,...)" with the IDs as its parameters. Code 3 for an empty list.
std::optional<std::pair<std::string, APMSqliteParameters>> rowIDCondition(
    const std::vector<std::int64_t>& rowIDs, sdk::Error* error) {
    if (!APMCheckTrueOrSetError(!rowIDs.empty(), error, 3, "Received empty row IDs to process")) {
        return std::nullopt;
    }
    std::string placeholders = "?";
    APMSqliteParameters params;
    for (std::int64_t rowID : rowIDs) {
        if (!params.empty()) {
            placeholders += ",?";
        }
        params.emplace_back(rowID);
    }
    return std::pair{"rowid IN (" + placeholders + ")", std::move(params)};
}

}  // namespace

bool APMDatabase::insertBundle(const APMPBMeasurementBundle* bundle, bool isRealtime,
                               sdk::Error* error) {
    const std::optional<sdk::Bytes> encoding = bundle ? bundle->protoBuffer() : std::nullopt;
    if (!APMCheckTrueOrSetError(encoding && !encoding->empty(), error, 1,
                                "Failed to insert nil bundle") ||
        !APMCheckTrueOrSetError(
            !APMPBGetString(bundle, apmpb::MeasurementBundle::kAppId).value_or("").empty(), error,
            1, "Failed to insert bundle without App ID")) {
        return false;
    }
    const std::int64_t endMillis =
        APMPBGetInt64(bundle, apmpb::MeasurementBundle::kEndTimestampMillis);
    if (!APMCheckTrueOrSetError(endMillis >= 1, error, 1,
                                "Failed to insert bundle without valid timestamp")) {
        return false;
    }
    if (!maybeDeleteStaleData(error)) {
        return false;
    }
    const double endTime = static_cast<double>(endMillis) / 1000.0;
    if (std::fabs(endTime - APMCurrentTimeInterval()) >
        APMRemoteConfig::current()->maxQueueTime()) {
        APMMonitor::shared().logWithLevel(4, 12016,
                                          "Storing bundle outside of the max uploading time span");
    }
    std::optional<sdk::Bytes> compressed = vdu_dataByGzippingData(*encoding, nullptr);
    if (!APMCheckTrueOrSetError(compressed && !compressed->empty(), error, 2,
                                "Failed to compress bundle")) {
        return false;
    }
    APMMonitor::shared().logWithLevel(7, 12018, "Saving bundle. size (bytes)",
                                      std::to_string(compressed->size()));
    const auto retryCount =
        static_cast<std::int32_t>(APMPBGetInt32(bundle, apmpb::MeasurementBundle::kRetryCount));
    const APMSqliteRecord record = {{"bundle_end_timestamp", endTime},
                                    {"data", sdk::Value(std::move(*compressed))},
                                    {"is_realtime", std::int64_t{isRealtime ? 1 : 0}},
                                    {"retry_count", std::int64_t{retryCount}}};
    APMSqliteStore* store = openStore(error);
    return store != nullptr && store->upsertRecord(record, kQueueTable, error);
}

std::optional<bool> APMDatabase::isQueuedBundleTableEmpty(sdk::Error* error) {
    return booleanForQuery("SELECT NOT EXISTS (SELECT 1 FROM queue LIMIT 1)", {}, error);
}

std::optional<APMQueuedBundle> APMDatabase::queuedBundleFromRecord(const APMSqliteRecord& record,
                                                                   sdk::Error* error) {
    if (!APMCheckTrueOrSetError(!record.empty(), error, 3, "Cannot process empty rowData")) {
        return std::nullopt;
    }
    const auto dataColumn = record.find("data");
    const sdk::Bytes* data = dataColumn != record.end() ? dataColumn->second.bytes() : nullptr;
    if (!APMCheckTrueOrSetError(data != nullptr && !data->empty(), error, 3,
                                "Cannot decompress an empty bundle data")) {
        return std::nullopt;
    }
    sdk::Error inflateError;
    // A row another program wrote may inflate to far more than any bundle of ours.
    const std::optional<sdk::Bytes> inflated =
        vdu_dataByInflatingGzippedData(*data, &inflateError, kVDUDefaultMaxInflatedSize);
    if (!inflated || inflated->empty()) {
        APMSetErrorWithCode(error, 2, inflateError.localizedDescription());
        return std::nullopt;
    }
    std::shared_ptr<APMPBMeasurementBundle> bundle =
        APMPBMeasurementBundle::initWithBuffer(*inflated);
    if (!APMCheckNotNilOrSetError(bundle, error, 2,
                                  "Unable to parse bundle from decompressed data")) {
        return std::nullopt;
    }
    // A count written by another program is clamped to what the field holds.
    const auto retryColumn = record.find("retry_count");
    if (retryColumn != record.end() && retryColumn->second.isNumber()) {
        const std::int64_t retryCount = std::clamp<std::int64_t>(
            retryColumn->second.numberAsInt().value_or(0), 0, kMaxRetryCount);
        if (retryCount > 0) {
            APMPBSetInt32(bundle.get(), apmpb::MeasurementBundle::kRetryCount,
                          static_cast<std::uint32_t>(retryCount));
        }
    }
    const auto rowIDColumn = record.find("rowid");
    if (rowIDColumn == record.end() || !rowIDColumn->second.isInt()) {
        return std::nullopt;
    }
    return APMQueuedBundle{std::move(bundle), *rowIDColumn->second.intValue()};
}

std::optional<std::vector<APMQueuedBundle>> APMDatabase::queuedBundlesForQuery(
    std::string_view query, const APMSqliteParameters& params,
    std::optional<std::int64_t> sizeLimit, sdk::Error* error) {
    std::optional<std::vector<APMSqliteRecord>> records = recordsForQuery(query, params, error);
    if (!records) {
        return std::nullopt;
    }
    std::vector<APMQueuedBundle> bundles;
    std::int64_t totalSize = 0;
    for (const APMSqliteRecord& record : *records) {
        std::optional<APMQueuedBundle> bundle = queuedBundleFromRecord(record, nullptr);
        if (!bundle) {
            continue;
        }
        const auto size =
            static_cast<std::int64_t>(bundle->first->protoBuffer().value_or(sdk::Bytes{}).size());
        if (sizeLimit && !bundles.empty() && totalSize + size > *sizeLimit) {
            break;
        }
        totalSize += size;
        bundles.push_back(std::move(*bundle));
        if (sizeLimit && totalSize > *sizeLimit) {
            break;
        }
    }
    return bundles;
}

std::optional<std::vector<APMQueuedBundle>> APMDatabase::queryBundlesWithCountLimit(
    std::int64_t countLimit, std::int64_t sizeLimit, sdk::Error* error) {
    return queuedBundlesForQuery(
        "SELECT rowid, data, retry_count FROM queue ORDER BY rowid ASC LIMIT ?", {countLimit},
        sizeLimit, error);
}

std::optional<std::vector<APMQueuedBundle>> APMDatabase::queryBundlesWithRowIDs(
    const std::vector<std::int64_t>& rowIDs, sdk::Error* error) {
    auto condition = rowIDCondition(rowIDs, error);
    if (!condition) {
        return std::nullopt;
    }
    return queuedBundlesForQuery(
        "SELECT rowid, data, retry_count FROM queue WHERE " + condition->first, condition->second,
        std::nullopt, error);
}

bool APMDatabase::incrementRetryCounterForBundlesWithIDs(const std::vector<std::int64_t>& rowIDs,
                                                         sdk::Error* error) {
    if (!APMCheckTrueOrSetError(!rowIDs.empty(), error, 1, "Failed to increment retry counter")) {
        return false;
    }
    auto condition = rowIDCondition(rowIDs, error);
    APMSqliteStore* store = openStore(error);
    if (!condition || store == nullptr) {
        return false;
    }
    if (booleanForQuery("SELECT EXISTS (SELECT 1 FROM queue WHERE retry_count = ? LIMIT 1)",
                        {kMaxRetryCount}, nullptr)
            .value_or(false)) {
        APMMonitor::shared().logWithLevel(
            1, 12054, "The number of upload retries exceeds the limit. Will remain unchanged.");
    }
    APMSqliteParameters params = std::move(condition->second);
    params.emplace_back(kMaxRetryCount);
    return store->increaseColumn("retry_count", 1, kQueueTable,
                                 condition->first + " AND retry_count < ?", params, error);
}

bool APMDatabase::deleteBundlesWithRowIDs(const std::vector<std::int64_t>& rowIDs,
                                          sdk::Error* error) {
    auto condition = rowIDCondition(rowIDs, error);
    return condition &&
           deleteRecords(kQueueTable, condition->first, condition->second, error).has_value();
}

std::optional<bool> APMDatabase::maybeDeleteStaleData(sdk::Error* error) {
    const double now = APMCurrentTimeInterval();
    const double last = persistedConfig_ ? persistedConfig_->lastDeleteStaleBundlesTimestamp() : 0;
    const std::shared_ptr<APMRemoteConfig> remoteConfig = APMRemoteConfig::current();
    if (std::fabs(now - last) <= remoteConfig->databaseDeleteStaleBundlesInterval()) {
        return false;
    }
    const double maxAge = remoteConfig->maxQueueTime();
    if (!deleteStaleRawEventsDataOlderThanMaxAge(maxAge, error) ||
        !deleteStaleBundlesOlderThanMaxAge(maxAge, error)) {
        return std::nullopt;
    }
    if (persistedConfig_) {
        persistedConfig_->setLastDeleteStaleBundlesTimestamp(now);
    }
    return true;
}

bool APMDatabase::deleteStaleBundlesOlderThanMaxAge(double maxAge, sdk::Error* error) {
    if (!APMCheckTrueOrSetError(maxAge >= 0, error, 1,
                                "Cannot delete stale bundles after negative time period")) {
        return false;
    }
    return deleteRecords(kQueueTable,
                         "abs(bundle_end_timestamp - cast(? as REAL)) > cast(? as REAL)",
                         {APMCurrentTimeInterval(), maxAge}, error)
        .has_value();
}

std::optional<double> APMDatabase::queryLatestBundleTime(sdk::Error* error) {
    std::optional<sdk::Value> latest =
        numberForQuery("SELECT MAX(bundle_end_timestamp) FROM queue", {}, error);
    return latest ? latest->numberAsDouble() : std::nullopt;
}

std::optional<bool> APMDatabase::containsRealtimeBundlesWithError(sdk::Error* error) {
    return booleanForQuery("SELECT EXISTS (SELECT 1 FROM queue WHERE is_realtime = 1 LIMIT 1)", {},
                           error);
}
