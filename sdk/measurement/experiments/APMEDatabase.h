#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sdk/measurement/experiments/APMESnapshot.h"
#include "sdk/measurement/storage/APMSqliteStore.h"
#include "sdk/utilities/Error.h"

// The experiment snapshots that survive restarts: a small SQLite database of their own with
// one table per kind ("pending_snapshot_table", "activated_snapshot_table",
// "launched_snapshot_table"), one row per SDK name and table, each row holding the encoded
// Snapshot message, its time and, for pending rows, whether the client activates it itself.
//
// Errors are measurement errors (kAPMErrorDomain): code 1 for a bad argument, 2 for a row
// that does not decode or a closed database, and the store's own errors. Diagnostics go
// through APMEMonitor with codes 810000-810007. No "rows" and a failure both read as no
// value; the error tells them apart.
//
// States: OPEN (a store) and CLOSED (none: the file failed validation and was deleted, or
// closeAndDelete ran). CLOSED --reset--> OPEN when the file can be made again.
//
// Thread-safety: none; the owner serialises every call (the experiment worker queue).
class APMEDatabase {
  public:
    // The file's name in the measurement folder (APMMeasurementFilePath).
    static constexpr std::string_view kDatabaseFileName = "vovidu_experimentation_database.sql";
    static constexpr std::string_view kPendingTable = "pending_snapshot_table";
    static constexpr std::string_view kActivatedTable = "activated_snapshot_table";
    static constexpr std::string_view kLaunchedTable = "launched_snapshot_table";
    // Rows older than this (seconds) are stale activated snapshots.
    static constexpr double kStaleInterval = 259200;

    // Opens (or creates) the database at `path` and checks its tables. An empty path: 810000
    // and no database; a database that cannot be opened or validated: no database.
    static std::unique_ptr<APMEDatabase> initWithPath(const std::string& path);

    // Opens the store at `path` and ensures the tables; on a failed validation the file is
    // deleted and the database stays closed. `context` names the caller in diagnostics.
    bool initializeDatabaseResourcesWithContext(std::string_view context, const std::string& path);
    bool ensureAllTables();
    // Closes the database and deletes its file (810005 on failure).
    bool closeAndDelete();
    // Deletes the file and creates the database anew at the same path (810006 on failure).
    bool reset();
    // Runs `block` in one exclusive transaction (810007 on failure).
    bool performTransaction(const std::function<bool()>& block);

    std::optional<std::vector<APMESnapshot>> fetchAllActivatedSnapshots(sdk::Error* error);
    std::optional<std::vector<APMESnapshot>> fetchAllPendingSnapshots(sdk::Error* error);
    std::optional<std::vector<APMESnapshot>> fetchAllLaunchedSnapshots(sdk::Error* error);
    // The rows of `table` with their row ids, in row-id order, at most `limit` of them.
    std::optional<std::vector<APMSqliteRecord>> allDataTypesFromTableWithName(
        std::string_view table, std::int64_t limit, sdk::Error* error);

    // Stores `snapshot` as the row of its SDK name in `table`, replacing the old row.
    bool upsertSnapshot(const APMPBSnapshot& snapshot, std::string_view table, double timestamp,
                        std::optional<bool> manuallyActivated, sdk::Error* error);
    // Stores each snapshot as pending, with its time and manual-activation mark; stops at the
    // first failure (earlier rows stay written).
    bool upsertPendingExperimentSnapshots(const std::vector<APMESnapshot>& snapshots,
                                          sdk::Error* error);
    // Experiment 0 goes to the launched table, the others to the activated table (an empty
    // rest leaves the activated row as it was); the pending row of the SDK name is deleted
    // unless it is newer than `timestamp`. A null snapshot: code 1.
    bool activateSnapshot(const APMESnapshot* snapshot, double timestamp, sdk::Error* error);
    // Activates every pending row not marked as activated by its client, in row-id order.
    bool activatePendingSnapshotsAutomatically(sdk::Error* error);
    // Deletes activated rows at least kStaleInterval old.
    bool deleteStaleActivatedSnapshots(sdk::Error* error);
    bool deleteActivatedExperimentsOfSDKName(std::string_view SDKName, sdk::Error* error);
    bool deletePendingExperimentsOfSDKName(std::string_view SDKName, sdk::Error* error);
    bool deleteLaunchedExperimentSDKName(std::string_view SDKName, sdk::Error* error);
    bool deleteExperimentsOfSDKName(std::string_view SDKName, std::string_view table,
                                    sdk::Error* error);

    // The open store; null while closed.
    APMSqliteStore* sqliteStore() const { return sqliteStore_.get(); }

  private:
    APMEDatabase() = default;

    // The open store, or null with a code-2 error.
    APMSqliteStore* openStore(sdk::Error* error) const;
    std::optional<std::vector<APMESnapshot>> fetchAllSnapshots(std::string_view table,
                                                               sdk::Error* error);

    std::unique_ptr<APMSqliteStore> sqliteStore_;
    // Where the database lives, also while it is closed, so reset can make it again.
    std::string databasePath_;
};
