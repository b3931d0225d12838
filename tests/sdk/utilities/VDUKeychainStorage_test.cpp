#include "sdk/utilities/VDUKeychainStorage.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <future>
#include <thread>

#include "sdk/utilities/ValueJson.h"
#include "tests/platform/preferences/TemporaryFolder.h"
#include "tests/sdk/utilities/ArchiveFixtures.h"
#include "tests/sdk/utilities/UtilitiesTestSupport.h"

namespace {

namespace fs = std::filesystem;
using sdktest::TestRecord;
using sdktest::TestToken;

struct Outcome {
    VDUKeychainStorage::Object object;
    sdk::Error error;
    bool onStoreQueue = false;
};

// Applies the folder's write permission to the owner even for root, the way it applies to
// everyone else, so a read-only folder is read-only in a test that runs as root.
class PermissionCheckingFileSystem : public platform::PreferencesFileSystemWrapper {
  public:
    PermissionCheckingFileSystem() : PreferencesFileSystemWrapper(platform::systemFileSystem()) {}
    std::error_code createTemporary(const fs::path& target, int* fd, fs::path* path) override {
        struct stat info {};
        if (::stat(target.parent_path().c_str(), &info) == 0 && (info.st_mode & S_IWUSR) == 0) {
            return std::error_code(EACCES, std::generic_category());
        }
        return PreferencesFileSystemWrapper::createTemporary(target, fd, path);
    }
};

class VDUKeychainStorageTest : public ::testing::Test {
  protected:
    // Starts a get; the future holds its outcome.
    std::future<Outcome> startGet(const std::string& key, const VDUArchiveClass& objectClass,
                                  std::optional<std::string> group = std::nullopt) {
        auto done = std::make_shared<std::promise<Outcome>>();
        storage_.getObjectForKey(key, objectClass, std::move(group),
                                 [this, done](VDUKeychainStorage::Object object, sdk::Error error) {
                                     done->set_value({object, error, onStoreQueue()});
                                 });
        return done->get_future();
    }
    Outcome get(const std::string& key, const VDUArchiveClass& objectClass) {
        return startGet(key, objectClass).get();
    }
    Outcome getRecord(const std::string& key) {
        return get(key, VDUArchiveClass::of<TestRecord>());
    }

    // Starts a set; the future holds its outcome.
    std::future<Outcome> startSet(VDUKeychainStorage::Object object, const std::string& key) {
        auto done = std::make_shared<std::promise<Outcome>>();
        storage_.setObject(object, key, std::nullopt,
                           [this, done](VDUKeychainStorage::Object stored, sdk::Error error) {
                               done->set_value({stored, error, onStoreQueue()});
                           });
        return done->get_future();
    }
    Outcome set(VDUKeychainStorage::Object object, const std::string& key) {
        return startSet(std::move(object), key).get();
    }
    sdk::Error remove(const std::string& key) {
        std::promise<sdk::Error> done;
        storage_.removeObjectForKey(key, std::nullopt, [&](sdk::Error error) {
            EXPECT_TRUE(onStoreQueue());
            done.set_value(error);
        });
        return done.get_future().get();
    }
    bool onStoreQueue() const {
        return storage_.keychainQueue()->isCurrent() || storage_.inMemoryCacheQueue()->isCurrent();
    }
    static std::optional<std::string> identifierOf(const Outcome& outcome) {
        auto record = std::dynamic_pointer_cast<const TestRecord>(outcome.object);
        return record ? record->identifier : std::nullopt;
    }

    platform::TemporaryFolder data_;
    sdktest::ScopedEnv dataHome_{"XDG_DATA_HOME", data_.path().string()};
    VDUKeychainStorage storage_{"com.example.service"};
    const fs::path keychainFolder_ = data_.path() / "cellarbright" / "keychain";
};

TEST_F(VDUKeychainStorageTest, StoresReadsAndRemovesObjects) {
    Outcome never = getRecord("never");
    EXPECT_EQ(never.object, nullptr);
    EXPECT_TRUE(never.error.ok());
    EXPECT_TRUE(never.onStoreQueue);

    // A get made right after a set answers the new object, written or not.
    std::future<Outcome> setting = startSet(sdktest::makeRecord("one"), "k");
    EXPECT_EQ(identifierOf(getRecord("k")), "one");
    Outcome stored = setting.get();
    EXPECT_TRUE(stored.error.ok()) << stored.error.ToString();
    EXPECT_EQ(identifierOf(stored), "one");
    EXPECT_TRUE(stored.onStoreQueue);

    // From the keychain again: the archive holds the nested object too.
    storage_.resetInMemoryCache();
    Outcome read = getRecord("k");
    ASSERT_EQ(identifierOf(read), "one");
    EXPECT_EQ(std::dynamic_pointer_cast<const TestRecord>(read.object)->token->token, "t-one");
    EXPECT_EQ(storage_.inMemoryCache()->count(), 1u) << "a read object is cached again";

    EXPECT_TRUE(remove("k").ok());
    EXPECT_EQ(getRecord("k").object, nullptr);
    EXPECT_TRUE(remove("k").ok()) << "removing a missing key succeeds";
}

TEST_F(VDUKeychainStorageTest, TheCacheKeepsTheFiveMostRecentObjects) {
    EXPECT_EQ(storage_.inMemoryCache()->countLimit(), 5u);
    for (int i = 1; i <= 6; ++i) {
        ASSERT_TRUE(
            set(sdktest::makeRecord("v" + std::to_string(i)), "k" + std::to_string(i)).error.ok());
    }
    // Behind the store's back, every item file goes.
    fs::remove_all(keychainFolder_);
    EXPECT_EQ(identifierOf(getRecord("k6")), "v6");
    Outcome evicted = getRecord("k1");
    EXPECT_EQ(evicted.object, nullptr);
    EXPECT_TRUE(evicted.error.ok());
}

TEST_F(VDUKeychainStorageTest, ReadingAsAnotherClassIsAnArchiverError) {
    ASSERT_TRUE(set(sdktest::makeRecord("one"), "k").error.ok());
    for (bool cached : {true, false}) {
        SCOPED_TRACE(cached ? "cached" : "from the keychain");
        if (!cached) {
            storage_.resetInMemoryCache();
        }
        Outcome wrong = get("k", VDUArchiveClass::of<TestToken>());
        EXPECT_EQ(wrong.object, nullptr);
        EXPECT_TRUE(wrong.error.is(sdk::kCocoaErrorDomain, 4864)) << wrong.error.ToString();
    }
}

TEST_F(VDUKeychainStorageTest, AFailedWriteLeavesNothingBehindInTheCache) {
    PermissionCheckingFileSystem permissions;
    auto keychain = platform::SecretStore::open(data_.path() / "locked", permissions);
    storage_.setKeychainRef(keychain);
    ASSERT_TRUE(set(sdktest::makeRecord("kept"), "old").error.ok());
    fs::permissions(keychain->folder(), fs::perms::owner_read | fs::perms::owner_exec);

    Outcome failed = set(sdktest::makeRecord("lost"), "new");
    EXPECT_EQ(failed.object, nullptr);
    EXPECT_TRUE(failed.error.is("com.vdu.keychain.ErrorDomain", 0));
    EXPECT_EQ(*failed.error.userInfoValue("NSLocalizedFailureReason"),
              sdk::Value("SecItemAdd (-36)"));
    Outcome after = getRecord("new");
    EXPECT_EQ(after.object, nullptr);
    EXPECT_TRUE(after.error.ok());
    EXPECT_EQ(identifierOf(getRecord("old")), "kept");
    fs::permissions(keychain->folder(), fs::perms::owner_all);
}

TEST_F(VDUKeychainStorageTest, QueriesNameTheItemAndTheKeychain) {
    using sdk::Value;
    Value::Dictionary expected{
        {std::string(platform::kSecClass), platform::kSecClassGenericPassword},
        {std::string(platform::kSecAttrService), "com.example.service"},
        {std::string(platform::kSecAttrAccount), "key"},
        {std::string(platform::kSecUseDataProtectionKeychain), true}};
    EXPECT_EQ(storage_.keychainQueryWithKey("key", std::nullopt), expected);

    storage_.setKeychainRef(platform::SecretStore::open(data_.path() / "other"));
    const std::string folder = (data_.path() / "other").string();
    expected.emplace(std::string(platform::kSecAttrAccessGroup), "group");
    expected.emplace(std::string(platform::kSecUseKeychain), folder);
    expected.emplace(std::string(platform::kSecMatchSearchList), Value::Array{folder});
    EXPECT_EQ(storage_.keychainQueryWithKey("key", "group"), expected);

    // Items land in the named keychain, and a get without the group finds the grouped item.
    std::promise<sdk::Error> done;
    storage_.setObject(
        sdktest::makeRecord("grouped"), "key", "group",
        [&](VDUKeychainStorage::Object, sdk::Error error) { done.set_value(error); });
    ASSERT_TRUE(done.get_future().get().ok());
    storage_.resetInMemoryCache();
    EXPECT_EQ(identifierOf(getRecord("key")), "grouped");
    EXPECT_FALSE(fs::exists(keychainFolder_));
    EXPECT_EQ(storage_.keychainQueue()->label(), "com.vdu.KeychainStorage.Keychain");
    EXPECT_EQ(storage_.inMemoryCacheQueue()->label(), "com.vdu.KeychainStorage.InMemoryCache");
}

// A get that missed the cache reads the keychain while a set (or remove) of the same key waits
// behind it: the object it read must not take the new state's place in the cache.
TEST_F(VDUKeychainStorageTest, AReadInFlightDoesNotUndoALaterSetOrRemove) {
    ASSERT_TRUE(set(sdktest::makeRecord("old"), "k").error.ok());
    for (bool removing : {false, true}) {
        SCOPED_TRACE(removing ? "remove" : "set");
        storage_.resetInMemoryCache();
        // Holds the keychain queue until the get and the change have both passed the cache.
        std::promise<void> release;
        storage_.keychainQueue()->async([gate = release.get_future().share()] { gate.wait(); });
        std::future<Outcome> pending = startGet("k", VDUArchiveClass::of<TestRecord>());
        std::future<sdk::Error> changed;
        std::future<Outcome> stored;
        if (removing) {
            auto done = std::make_shared<std::promise<sdk::Error>>();
            changed = done->get_future();
            storage_.removeObjectForKey("k", std::nullopt,
                                        [done](sdk::Error error) { done->set_value(error); });
        } else {
            stored = startSet(sdktest::makeRecord("new"), "k");
        }
        storage_.inMemoryCacheQueue()->sync([] {});
        release.set_value();
        EXPECT_EQ(identifierOf(pending.get()), removing ? "new" : "old");
        ASSERT_TRUE(removing ? changed.get().ok() : stored.get().error.ok());
        storage_.inMemoryCacheQueue()->sync([] {});  // the get's caching, if any, has run
        EXPECT_EQ(identifierOf(getRecord("k")),
                  removing ? std::nullopt : std::optional<std::string>("new"));
    }
}

// Each writer sets a key and reads it straight back while another thread keeps resetting the
// cache: whatever the interleaving, the read must answer the object just stored.
TEST_F(VDUKeychainStorageTest, ResetsRacingGetsAndSetsNeverServeAStaleObject) {
    std::atomic<bool> done{false};
    std::thread resetter([&] {
        while (!done.load()) {
            storage_.resetInMemoryCache();
            std::this_thread::yield();
        }
    });
    std::vector<std::thread> writers;
    for (int w = 0; w < 3; ++w) {
        writers.emplace_back([&, w] {
            const std::string key = "writer" + std::to_string(w);
            for (int i = 0; i < 15; ++i) {
                const std::string value = key + "-" + std::to_string(i);
                std::future<Outcome> pending = startGet(key, VDUArchiveClass::of<TestRecord>());
                ASSERT_TRUE(set(sdktest::makeRecord(value), key).error.ok());
                pending.get();
                ASSERT_EQ(identifierOf(getRecord(key)), value);
                if (i % 5 == 4) {
                    ASSERT_TRUE(remove(key).ok());
                    ASSERT_EQ(getRecord(key).object, nullptr);
                }
            }
        });
    }
    for (std::thread& writer : writers) {
        writer.join();
    }
    done = true;
    resetter.join();
}

TEST(VDULRUCacheTest, EvictsTheLeastRecentlyUsedEntry) {
    VDULRUCache<std::string, int> cache(3);
    cache.setObject(1, "a");
    cache.setObject(2, "b");
    cache.setObject(3, "c");
    EXPECT_EQ(cache.objectForKey("a"), 1);  // "b" is now the least recently used
    cache.setObject(4, "d");
    EXPECT_EQ(cache.objectForKey("b"), std::nullopt);
    cache.setObject(30, "c");  // replacing counts as a use
    cache.setObject(5, "e");
    EXPECT_EQ(cache.objectForKey("a"), std::nullopt);
    EXPECT_EQ(cache.objectForKey("c"), 30);
    EXPECT_EQ(cache.objectForKey("d"), 4);
    EXPECT_EQ(cache.count(), 3u);
    cache.removeObjectForKey("c");
    EXPECT_EQ(cache.count(), 2u);
    cache.removeAllObjects();
    EXPECT_EQ(cache.count(), 0u);
}

}  // namespace
