// The stored remote configuration in the app-metadata row.
#include "sdk/measurement/engine/APMClock.h"
#include "sdk/measurement/messages/APMPBAccessors.h"
#include "sdk/measurement/storage/APMDatabase.h"

namespace {

constexpr std::string_view kAppMetadata = "app_metadata";

}  // namespace

bool APMDatabase::updateRemoteConfig(const APMPBMeasurementConfig* config, sdk::Error* error) {
    const std::optional<sdk::Bytes> data = config ? config->protoBuffer() : std::nullopt;
    if (!APMCheckTrueOrSetError(data && !data->empty(), error, 1,
                                "Invalid measurement config data")) {
        return false;
    }
    const std::optional<std::string> appID =
        APMPBGetString(config, apmpb::MeasurementConfig::kAppId);
    if (!APMCheckTrueOrSetError(appID && !appID->empty(), error, 1,
                                "Missing Vovidu app ID in measurement configuration")) {
        return false;
    }
    const APMSqliteRecord record = {{"remote_config_data", sdk::Value(*data)},
                                    {"remote_config_timestamp", APMCurrentTimeInterval()}};
    return updateDataType(record, kAppMetadata, "rowid", sdk::Value(kAppMetadataRowID), error);
}

bool APMDatabase::updateRemoteConfigSuccessfulTimestamp(double timestamp, sdk::Error* error) {
    const APMSqliteRecord record = {{"remote_config_timestamp", timestamp}};
    return updateDataType(record, kAppMetadata, "rowid", sdk::Value(kAppMetadataRowID), error);
}

std::unique_ptr<APMPBMeasurementConfig> APMDatabase::queryMeasurementConfigWithError(
    sdk::Error* error) {
    // A failed query reads as "nothing stored": the configuration is fetched again.
    sdk::Error queryError;
    std::optional<std::vector<APMSqliteRecord>> records =
        recordsForQuery("SELECT remote_config_data FROM app_metadata LIMIT 1", {}, &queryError);
    if (!records || records->empty()) {
        return nullptr;
    }
    const auto it = records->front().find("remote_config_data");
    const sdk::Bytes* data = it != records->front().end() ? it->second.bytes() : nullptr;
    if (data == nullptr || data->empty()) {
        return nullptr;
    }
    std::unique_ptr<APMPBMeasurementConfig> config = APMPBMeasurementConfig::initWithBuffer(*data);
    if (!config) {
        APMSetErrorWithCode(error, 2, "Remote config data is corrupted");
    }
    return config;
}

std::optional<double> APMDatabase::lastRemoteConfigUpdateTimestamp(sdk::Error* error) {
    std::optional<std::vector<APMSqliteRecord>> records =
        recordsForQuery("SELECT remote_config_timestamp FROM app_metadata LIMIT 1", {}, error);
    if (!records || records->empty()) {
        return std::nullopt;
    }
    auto it = records->front().find("remote_config_timestamp");
    if (it == records->front().end()) {
        return std::nullopt;
    }
    return it->second.numberAsDouble();
}
