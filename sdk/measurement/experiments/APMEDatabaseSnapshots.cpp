#include <string>

#include "sdk/measurement/engine/APMError.h"
#include "sdk/measurement/experiments/APMEDatabase.h"
#include "sdk/measurement/messages/APMPBAccessors.h"

namespace {

constexpr std::int64_t kTableLimit = 100000;

void setInvalidSnapshotError(sdk::Error* error) {
    APMSetErrorWithCode(error, 2, "Received an invalid snapshot from database");
}

// The snapshot of a row: its decoded blob, time and manual-activation mark.
std::optional<APMESnapshot> snapshotFromRecord(const APMSqliteRecord& record) {
    auto blob = record.find("snapshotProto");
    if (blob == record.end() || blob->second.bytes() == nullptr)
        return std::nullopt;
    auto proto = APMPBSnapshot::initWithBuffer(*blob->second.bytes());
    if (!proto)
        return std::nullopt;
    std::optional<APMESnapshot> snapshot = APMESnapshot::initWithProtobuf(*proto);
    if (!snapshot)
        return std::nullopt;
    if (auto timestamp = record.find("timestamp"); timestamp != record.end())
        snapshot->setTimestamp(timestamp->second.numberAsDouble().value_or(0));
    if (auto manual = record.find("manually_activated"); manual != record.end()) {
        if (auto value = manual->second.numberAsBool())
            snapshot->setManuallyActivated(*value);
    }
    return snapshot;
}

}  // namespace

std::optional<std::vector<APMESnapshot>> APMEDatabase::fetchAllActivatedSnapshots(
    sdk::Error* error) {
    return fetchAllSnapshots(kActivatedTable, error);
}

std::optional<std::vector<APMESnapshot>> APMEDatabase::fetchAllPendingSnapshots(sdk::Error* error) {
    return fetchAllSnapshots(kPendingTable, error);
}

std::optional<std::vector<APMESnapshot>> APMEDatabase::fetchAllLaunchedSnapshots(
    sdk::Error* error) {
    return fetchAllSnapshots(kLaunchedTable, error);
}

std::optional<std::vector<APMESnapshot>> APMEDatabase::fetchAllSnapshots(std::string_view table,
                                                                         sdk::Error* error) {
    auto records = allDataTypesFromTableWithName(table, kTableLimit, error);
    if (!records || records->empty())
        return std::nullopt;
    std::vector<APMESnapshot> snapshots;
    snapshots.reserve(records->size());
    for (const APMSqliteRecord& record : *records) {
        std::optional<APMESnapshot> snapshot = snapshotFromRecord(record);
        if (!snapshot) {
            setInvalidSnapshotError(error);
            return std::nullopt;
        }
        snapshots.push_back(std::move(*snapshot));
    }
    return snapshots;
}

std::optional<std::vector<APMSqliteRecord>> APMEDatabase::allDataTypesFromTableWithName(
    std::string_view table, std::int64_t limit, sdk::Error* error) {
    APMSqliteStore* store = openStore(error);
    if (store == nullptr)
        return std::nullopt;
    const std::string query = "SELECT rowid, * FROM " + std::string(table) +
                              " ORDER BY rowid LIMIT " + std::to_string(limit);
    return store->recordsForQuery(query, {}, error);
}

bool APMEDatabase::upsertSnapshot(const APMPBSnapshot& snapshot, std::string_view table,
                                  double timestamp, std::optional<bool> manuallyActivated,
                                  sdk::Error* error) {
    APMSqliteStore* store = openStore(error);
    if (store == nullptr)
        return false;
    std::optional<sdk::Bytes> bytes = snapshot.protoBuffer();
    if (!bytes) {
        setInvalidSnapshotError(error);
        return false;
    }
    APMSqliteRecord record = {
        {"sdk_name", APMPBGetString(&snapshot, apmpb::Snapshot::kSdkName).value_or("")},
        {"timestamp", timestamp},
        {"snapshotProto", std::move(*bytes)}};
    if (manuallyActivated)
        record.emplace("manually_activated", static_cast<std::int64_t>(*manuallyActivated));
    return store->upsertRecord(record, table, error);
}

bool APMEDatabase::upsertPendingExperimentSnapshots(const std::vector<APMESnapshot>& snapshots,
                                                    sdk::Error* error) {
    for (const APMESnapshot& snapshot : snapshots) {
        if (!upsertSnapshot(snapshot.proto(), kPendingTable, snapshot.timestamp(),
                            snapshot.manuallyActivated(), error))
            return false;
    }
    return true;
}

bool APMEDatabase::activateSnapshot(const APMESnapshot* snapshot, double timestamp,
                                    sdk::Error* error) {
    if (snapshot == nullptr) {
        APMSetErrorWithCode(error, 1, "Received nil pending snapshot");
        return false;
    }
    std::optional<APMEExperiment> launched;
    std::vector<APMEExperiment> activated;
    for (APMEExperiment& experiment : snapshot->experiments()) {
        if (experiment.experimentID() == 0)
            launched = std::move(experiment);
        else
            activated.push_back(std::move(experiment));
    }
    const std::string& name = snapshot->SDKName();
    if (launched) {
        auto launchedSnapshot = APMESnapshot::initWithSDKName(name, {*launched});
        if (!launchedSnapshot || !upsertSnapshot(launchedSnapshot->proto(), kLaunchedTable,
                                                 timestamp, std::nullopt, error))
            return false;
    }
    if (!activated.empty()) {
        auto activatedSnapshot = APMESnapshot::initWithSDKName(name, activated);
        if (!activatedSnapshot || !upsertSnapshot(activatedSnapshot->proto(), kActivatedTable,
                                                  timestamp, std::nullopt, error))
            return false;
    }
    APMSqliteStore* store = openStore(error);
    return store != nullptr &&
           store
               ->deleteRecordsFromTableWithName(kPendingTable, "sdk_name = ? AND timestamp <= ?",
                                                {sdk::Value(name), sdk::Value(timestamp)}, error)
               .has_value();
}

bool APMEDatabase::activatePendingSnapshotsAutomatically(sdk::Error* error) {
    APMSqliteStore* store = openStore(error);
    if (store == nullptr)
        return false;
    auto records = store->recordsForQuery(
        "SELECT rowid,* FROM pending_snapshot_table WHERE NOT manually_activated = ? ORDER BY "
        "rowid",
        {sdk::Value(true)}, error);
    if (!records)
        return false;
    for (const APMSqliteRecord& record : *records) {
        std::optional<APMESnapshot> snapshot = snapshotFromRecord(record);
        if (!snapshot) {
            setInvalidSnapshotError(error);
            return false;
        }
        if (!activateSnapshot(&*snapshot, snapshot->timestamp(), error) ||
            !deletePendingExperimentsOfSDKName(snapshot->SDKName(), error))
            return false;
    }
    return true;
}

bool APMEDatabase::deleteStaleActivatedSnapshots(sdk::Error* error) {
    APMSqliteStore* store = openStore(error);
    return store != nullptr && store
                                   ->deleteRecordsFromTableWithName(
                                       kActivatedTable, "timestamp <= ?",
                                       {sdk::Value(APMECurrentTimestamp() - kStaleInterval)}, error)
                                   .has_value();
}

bool APMEDatabase::deleteActivatedExperimentsOfSDKName(std::string_view SDKName,
                                                       sdk::Error* error) {
    return deleteExperimentsOfSDKName(SDKName, kActivatedTable, error);
}

bool APMEDatabase::deletePendingExperimentsOfSDKName(std::string_view SDKName, sdk::Error* error) {
    return deleteExperimentsOfSDKName(SDKName, kPendingTable, error);
}

bool APMEDatabase::deleteLaunchedExperimentSDKName(std::string_view SDKName, sdk::Error* error) {
    return deleteExperimentsOfSDKName(SDKName, kLaunchedTable, error);
}

bool APMEDatabase::deleteExperimentsOfSDKName(std::string_view SDKName, std::string_view table,
                                              sdk::Error* error) {
    if (SDKName.empty()) {
        APMSetErrorWithCode(error, 1, "Received empty SDK Name");
        return false;
    }
    APMSqliteStore* store = openStore(error);
    return store != nullptr &&
           store->deleteRecordFromTableWithName(table, "sdk_name", sdk::Value(SDKName), error);
}
