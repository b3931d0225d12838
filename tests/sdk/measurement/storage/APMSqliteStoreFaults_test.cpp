// Fault injection for what the store persists: each write or sync fails in turn, once or
// for good, and every state a power cut could leave is opened by the sqlite3 shell. The file
// must pass its integrity check, keep every transaction whole or not at all, and hold every
// transaction the store reported as committed.

#include <sqlite3.h>

#include <fstream>
#include <sstream>

#include "tests/sdk/measurement/storage/FaultInjectionVfs.h"
#include "tests/sdk/measurement/storage/StoreTestSupport.h"

namespace {

using sdktest::sqliteCli;
using Operation = FaultInjectionVfs::Operation;

// The rows each transaction of the scenario writes: transaction i writes 5 rows,
// 5 * i + 1 to 5 * i + 5; transaction 0 is the base, committed before any fault.
constexpr int kRowsPerTransaction = 5;
constexpr int kTransactions = 4;

bool writeTransaction(APMSqliteStore& store, int transaction) {
    return store.performTransactionWithError(nullptr, [&] {
        for (int i = 1; i <= kRowsPerTransaction; ++i) {
            const int n = transaction * kRowsPerTransaction + i;
            // A blob of a few pages, so a transaction spans many writes.
            if (!store.upsertRecord(
                    {{"n", n}, {"payload", sdk::Bytes(3000, static_cast<std::uint8_t>(n))}}, "t",
                    nullptr)) {
                return false;
            }
        }
        return true;
    });
}

std::unique_ptr<APMSqliteStore> openWithTable(const std::filesystem::path& path) {
    auto store = APMSqliteStore::initWithDatabasePath(path.string(), nullptr);
    if (store && !store->ensureTableWithName(
                     "t", {{"n", "INTEGER NOT NULL"}, {"payload", "BLOB NOT NULL"}}, {}, nullptr)) {
        store.reset();
    }
    return store;
}

// The transactions whose rows the file holds, checked to be whole: "0,2" for the base and
// transaction 2; "damaged: ..." or "torn: ..." otherwise.
std::string transactionsOnDisk(const std::filesystem::path& path) {
    const std::string integrity = sqliteCli(path, "pragma integrity_check");
    if (integrity != "ok\n") {
        return "damaged: " + integrity;
    }
    const std::string table = sqliteCli(path, "select count(*) from sqlite_master where name='t'");
    if (table != "1\n") {
        return "";
    }
    const std::string rows = sqliteCli(
        path,
        "select group_concat(t || ':' || c || ':' || ok, ' ') from (select (n - 1) / 5 as t, "
        "count(*) as c, min(length(payload) = 3000 and hex(substr(payload, 3000)) = "
        "printf('%02X', n)) as ok from t group by 1 order by 1)");
    std::string present;
    std::istringstream groups(rows);
    for (std::string group; groups >> group;) {
        const auto first = group.find(':');
        const auto second = group.find(':', first + 1);
        if (group.substr(first + 1, second - first - 1) != std::to_string(kRowsPerTransaction) ||
            group.substr(second + 1) != "1") {
            return "torn: " + rows;
        }
        present += (present.empty() ? "" : ",") + group.substr(0, first);
    }
    return present;
}

struct Outcome {
    std::vector<bool> committed;  // reported by the store, per transaction 1..kTransactions
};

// Runs transactions 1..kTransactions on a store at `path` that holds the base, with a
// checkpoint after transaction 2, then closes the store.
Outcome runScenario(const std::filesystem::path& path) {
    Outcome outcome;
    auto store = openWithTable(path);
    for (int transaction = 1; transaction <= kTransactions; ++transaction) {
        outcome.committed.push_back(store && writeTransaction(*store, transaction));
        if (store && transaction == 2) {
            sqlite3_wal_checkpoint_v2(store->sqliteHandle(), nullptr, SQLITE_CHECKPOINT_FULL,
                                      nullptr, nullptr);
        }
    }
    return outcome;
}

void prepareBase(const std::filesystem::path& path) {
    auto store = openWithTable(path);
    ASSERT_TRUE(store);
    ASSERT_TRUE(writeTransaction(*store, 0));
}

// Every committed transaction is on disk; one the store reported failed is not.
void expectOnDiskAsReported(const std::filesystem::path& path, const Outcome& outcome) {
    std::string expected = "0";
    for (int transaction = 1; transaction <= kTransactions; ++transaction) {
        if (outcome.committed[transaction - 1]) {
            expected += "," + std::to_string(transaction);
        }
    }
    EXPECT_EQ(transactionsOnDisk(path), expected);
}

TEST(APMSqliteStoreFaults, EachFailedWriteOrSyncLeavesTheFileIntactAndAsReported) {
    // Count the operations of a clean run first.
    std::uint64_t writes = 0;
    std::uint64_t syncs = 0;
    {
        cb::testsupport::TempDir dir("cb-sqlite-fault");
        FaultInjectionVfs vfs;
        prepareBase(dir / "test.sql");
        vfs.disarm();
        const Outcome clean = runScenario(dir / "test.sql");
        writes = vfs.writes();
        syncs = vfs.syncs();
        EXPECT_EQ(clean.committed, std::vector<bool>(kTransactions, true));
    }
    ASSERT_GT(writes, 10u);
    ASSERT_GT(syncs, 1u);

    for (Operation operation : {Operation::kWrite, Operation::kSync}) {
        const std::uint64_t count = operation == Operation::kWrite ? writes : syncs;
        for (bool persistent : {false, true}) {
            for (std::uint64_t n = 1; n <= count; ++n) {
                SCOPED_TRACE((operation == Operation::kWrite ? "write " : "sync ") +
                             std::to_string(n) + (persistent ? " and after" : " once"));
                cb::testsupport::TempDir dir("cb-sqlite-fault");
                const auto path = dir / "test.sql";
                Outcome outcome;
                {
                    FaultInjectionVfs vfs;
                    prepareBase(path);
                    vfs.failAt(operation, n, persistent);
                    outcome = runScenario(path);
                    EXPECT_TRUE(vfs.failed());
                    if (!persistent && operation == Operation::kWrite) {
                        // One failed write costs at most its own transaction.
                        EXPECT_GE(
                            std::count(outcome.committed.begin(), outcome.committed.end(), true),
                            kTransactions - 1);
                    }
                }
                expectOnDiskAsReported(path, outcome);
            }
        }
    }
}

// Writes `image` into `folder` under the same file names.
std::filesystem::path restore(const FaultInjectionVfs::Image& image,
                              const std::filesystem::path& original,
                              const std::filesystem::path& folder) {
    for (const auto& [path, content] : image) {
        const std::string name = std::filesystem::path(path).filename().string();
        std::ofstream(folder / name, std::ios::binary) << content;
    }
    return folder / original.filename();
}

TEST(APMSqliteStoreFaults, APowerCutLosesAtMostTheLastCommitsAndNeverDamagesTheFile) {
    cb::testsupport::TempDir dir("cb-sqlite-fault");
    const auto path = dir / "test.sql";
    std::vector<FaultInjectionVfs::Image> states;
    {
        FaultInjectionVfs vfs;
        prepareBase(path);
        const Outcome outcome = runScenario(path);
        ASSERT_EQ(outcome.committed, std::vector<bool>(kTransactions, true));
        states = vfs.powerCutStates();
    }
    ASSERT_GE(states.size(), 3u);
    std::vector<std::string> seen;
    for (std::size_t i = 0; i < states.size(); ++i) {
        SCOPED_TRACE("power cut after sync " + std::to_string(i + 1));
        cb::testsupport::TempDir copy("cb-sqlite-cut");
        const std::string onDisk = transactionsOnDisk(restore(states[i], path, copy.path()));
        // What survives is always a prefix of the commits.
        EXPECT_TRUE(onDisk.empty() || std::string("0,1,2,3,4").starts_with(onDisk)) << onDisk;
        seen.push_back(onDisk);
    }
    // The checkpoint after transaction 2 made it durable; closing made everything durable.
    EXPECT_NE(std::find(seen.begin(), seen.end(), "0,1,2"), seen.end());
    EXPECT_EQ(seen.back(), "0,1,2,3,4");
}

}  // namespace
