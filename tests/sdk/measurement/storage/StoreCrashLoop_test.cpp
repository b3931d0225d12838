// The stores' write path killed at random moments, round after round: what a crash of the app
// in the middle of its writes leaves, and what the next start makes of it.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <random>
#include <regex>
#include <set>
#include <thread>

#include "platform/preferences/PreferencesStore.h"
#include "platform/secretstore/SecretStore.h"
#include "sdk/measurement/storage/APMPersistentDictionary.h"
#include "tests/sdk/measurement/storage/PersistenceTestSupport.h"
#include "tests/sdk/measurement/storage/StoreTestSupport.h"

namespace {

namespace fs = std::filesystem;

constexpr const char* kSuite = "com.example.crash";

class StoreCrashLoopTest : public sdktest::MeasurementHomeTest {
  protected:
    fs::path databasePath() const { return measurementFolder() / "crash.sql"; }
    fs::path keychainFolder() const { return dir_ / "keychain"; }

    // The write path of one child process: opens every store as the app does at start, then
    // writes until it is killed: an event per transaction, its number sent to `ack` once the
    // transaction has committed, then the persisted dictionary, a preference and a keychain
    // item, each replaced whole through a temporary file.
    [[noreturn]] void writeUntilKilled(int ack) {
        auto store = APMSqliteStore::initWithDatabasePath(databasePath().string(), nullptr);
        if (!store ||
            !store->ensureTableWithName(
                "events", {{"event_id", "INTEGER NOT NULL"}, {"payload", "BLOB NOT NULL"}}, {},
                nullptr)) {
            _exit(2);
        }
        const std::optional<sdk::Value> last =
            store->numberForQuery("SELECT max(event_id) FROM events", {}, nullptr);
        auto dictionary = APMPersistentDictionary::initWithFileName(kSuite);
        auto preferences = platform::PreferencesStore::suite(kSuite, preferencesFolder(),
                                                             platform::systemFileSystem());
        auto keychain = platform::SecretStore::open(keychainFolder());
        if (!dictionary || !preferences) {
            _exit(3);
        }
        const platform::PlistDictionary item = {
            {std::string(platform::kSecClass), std::string(platform::kSecClassGenericPassword)},
            {std::string(platform::kSecAttrService), "crash"},
            {std::string(platform::kSecAttrAccount), "secret"}};
        for (std::int64_t id = last ? last->numberAsInt().value_or(0) + 1 : 1;; ++id) {
            const auto fill = static_cast<std::uint8_t>(id);
            const sdk::Value payload(sdk::Bytes(4096, fill));
            if (!store->performTransactionWithError(nullptr, [&] {
                    return store->upsertRecord({{"event_id", id}, {"payload", payload}}, "events",
                                               nullptr);
                })) {
                _exit(4);
            }
            if (::write(ack, &id, sizeof id) != sizeof id) {
                _exit(5);
            }
            dictionary->setObject(sdk::Value(sdk::Bytes(256 * 1024, fill)), "payload");
            dictionary->persistToDisk();
            (void)preferences->set("payload",
                                   platform::PlistData{std::vector<uint8_t>(512 * 1024, fill)});
            const platform::PlistData secret{std::vector<uint8_t>(128 * 1024, fill)};
            platform::PlistDictionary added = item;
            added.insert_or_assign(std::string(platform::kSecValueData), secret);
            if (keychain->add(added) == platform::errSecDuplicateItem) {
                (void)keychain->update(item, secret);
            }
        }
    }

    // Names in `folder` shaped like the stores' temporary files (".<name>.XXXXXX").
    static std::vector<std::string> temporaryFilesIn(const fs::path& folder) {
        std::vector<std::string> found;
        std::error_code error;
        for (fs::directory_iterator it(folder, error), end; !error && it != end;
             it.increment(error)) {
            const std::string name = it->path().filename().string();
            if (std::regex_match(name, std::regex(R"(\..+\.[A-Za-z0-9]{6})"))) {
                found.push_back(name);
            }
        }
        return found;
    }

    std::vector<std::string> allTemporaryFiles() const {
        std::vector<std::string> all;
        for (const fs::path& folder :
             {measurementFolder(), preferencesFolder(), keychainFolder()}) {
            for (std::string& name : temporaryFilesIn(folder)) {
                all.push_back(folder.filename().string() + "/" + name);
            }
        }
        return all;
    }
};

TEST_F(StoreCrashLoopTest, KilledWritersLoseNoAcknowledgedEventAndLeaveNoTemporaryFiles) {
    // Each writer is a forked child, killed whatever it is doing. A child that cannot get going
    // (its copy of the parent holding a lock another thread had at the fork) only acknowledges
    // nothing, so it weakens a round but cannot make the test pass wrongly.
    std::set<std::int64_t> acknowledged;
    int killedMidWrite = 0;  // rounds after which temporary files lay beside a store
    std::mt19937 random(20261211);
    std::uniform_int_distribution<int> delay(20, 150);
    for (int round = 0; round < 30; ++round) {
        SCOPED_TRACE(round);
        int pipeFds[2];
        ASSERT_EQ(pipe2(pipeFds, O_CLOEXEC), 0);
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            ::close(pipeFds[0]);
            writeUntilKilled(pipeFds[1]);
        }
        ::close(pipeFds[1]);
        std::this_thread::sleep_for(std::chrono::milliseconds(delay(random)));
        ::kill(child, SIGKILL);
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFSIGNALED(status))
            << "the writer stopped by itself with " << WEXITSTATUS(status);
        std::int64_t id = 0;
        while (::read(pipeFds[0], &id, sizeof id) == sizeof id) {
            acknowledged.insert(id);
        }
        ::close(pipeFds[0]);
        if (!allTemporaryFiles().empty()) {
            ++killedMidWrite;
        }
    }
    // The loop did what it is for: writers were killed between writing and renaming.
    std::cout << killedMidWrite << " of 30 writers were killed mid-write; " << acknowledged.size()
              << " events acknowledged\n";
    ASSERT_GT(killedMidWrite, 0);
    ASSERT_GT(acknowledged.size(), 30u);

    // The next start opens every store.
    sdk::Error error;
    auto store = APMSqliteStore::initWithDatabasePath(databasePath().string(), &error);
    ASSERT_TRUE(store) << error.ToString();
    auto dictionary = APMPersistentDictionary::initWithFileName(kSuite);
    ASSERT_TRUE(dictionary);
    auto preferences = platform::PreferencesStore::suite(kSuite, preferencesFolder(),
                                                         platform::systemFileSystem());
    ASSERT_TRUE(preferences);
    auto keychain = platform::SecretStore::open(keychainFolder());

    EXPECT_EQ(allTemporaryFiles(), std::vector<std::string>{});
    EXPECT_EQ(sdktest::sqliteCli(databasePath(), "pragma integrity_check"), "ok\n");
    EXPECT_EQ(
        sdktest::sqliteCli(databasePath(),
                           "select event_id from events group by event_id having count(*) > 1"),
        "");
    const auto rows = store->recordsForQuery("SELECT event_id FROM events", {}, &error);
    ASSERT_TRUE(rows) << error.ToString();
    std::set<std::int64_t> stored;
    for (const APMSqliteRecord& row : *rows) {
        stored.insert(*row.at("event_id").intValue());
    }
    for (std::int64_t id : acknowledged) {
        EXPECT_TRUE(stored.count(id)) << "acknowledged event " << id << " is missing";
    }
    // Each file is one whole version: the old one or the new one.
    const std::optional<sdk::Value> payload = dictionary->objectForKey("payload");
    ASSERT_TRUE(payload && payload->bytes());
    EXPECT_EQ(payload->bytes()->size(), 256u * 1024);
    const std::optional<platform::PlistValue> preference = preferences->get("payload");
    ASSERT_TRUE(preference && preference->getIf<platform::PlistData>());
    EXPECT_EQ(preference->getIf<platform::PlistData>()->bytes.size(), 512u * 1024);
}

}  // namespace
