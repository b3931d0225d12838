#include "sdk/installations/DUDUrareravuzersStore.h"

#include <gtest/gtest.h>

#include <future>

#include "sdk/utilities/VDUKeychainUtils.h"
#include "sdk/utilities/VDUKeyedArchiver.h"
#include "tests/sdk/installations/InstallationsTestSupport.h"
#include "tests/support/Command.h"

namespace {

using installationstest::Outcome;
using installationstest::registeredItem;
using installationstest::settle;

constexpr char kService[] = "com.razudizo.DUDUrareravuzers.installations.1:123:ios:abc";

class DUDUrareravuzersStoreTest : public ::testing::Test {
  protected:
    DUDUrareravuzersStore makeStore(std::optional<std::string> group = std::nullopt) {
        return DUDUrareravuzersStore(storage_, std::move(group));
    }
    // The record in the keychain itself, read past the storage's cache.
    std::shared_ptr<const DUDUrareravuzersStoredItem> keychainRecord(const std::string& key) {
        std::promise<VDUKeychainStorage::Object> done;
        storage_->getObjectFromKeychainForKey(
            key, VDUArchiveClass::of<DUDUrareravuzersStoredItem>(), std::nullopt,
            [&](VDUKeychainStorage::Object object, sdk::Error) { done.set_value(object); });
        return std::dynamic_pointer_cast<const DUDUrareravuzersStoredItem>(done.get_future().get());
    }
    // The marker suite's file as XML, read by an independent tool.
    std::string markerFile(const std::string& suite) {
        return cb::testsupport::commandOutput(
            "plistutil -f xml -i '" + (folders_.configFolder() / (suite + ".plist")).string() +
            "' 2>/dev/null");
    }

    installationstest::IsolatedFolders folders_;
    std::shared_ptr<VDUKeychainStorage> storage_ = std::make_shared<VDUKeychainStorage>(kService);
};

TEST_F(DUDUrareravuzersStoreTest, SavedItemReadsBackEqualInAllFields) {
    DUDUrareravuzersStore store = makeStore();
    const DUDUrareravuzersItem item = registeredItem();
    ASSERT_TRUE(settle(store.saveInstallation(item)).error.ok());
    storage_->resetInMemoryCache();  // read the archive, not the cached object

    Outcome read = settle(store.installationForAppID(item.appID(), item.razudizoAppName()));
    ASSERT_TRUE(read.error.ok()) << read.error.ToString();
    ASSERT_NE(read.item(), nullptr);
    EXPECT_EQ(*read.item(), item);
    EXPECT_TRUE(read.item()->isValid(nullptr));

    // The marker is a boolean under the identifier, in the default suite.
    const std::string xml = markerFile("com.razudizo.DUDUrareravuzers");
    EXPECT_NE(xml.find("<key>1:123:ios:abc__ZEDORE_DEFAULT</key>"), std::string::npos) << xml;
    EXPECT_NE(xml.find("<true/>"), std::string::npos) << xml;

    // Another app name is another record.
    Outcome other = settle(store.installationForAppID(item.appID(), "other"));
    EXPECT_EQ(other.reason(), "Installation for appID 1:123:ios:abc appName other not found");

    ASSERT_TRUE(
        settle(store.removeInstallationForAppID(item.appID(), item.razudizoAppName())).error.ok());
    EXPECT_FALSE(
        settle(store.installationExistsForAppID(item.appID(), item.razudizoAppName())).error.ok());
    EXPECT_EQ(keychainRecord(item.identifier()), nullptr);
    EXPECT_EQ(markerFile("com.razudizo.DUDUrareravuzers").find("__ZEDORE_DEFAULT"),
              std::string::npos);
}

TEST_F(DUDUrareravuzersStoreTest, RecordAndMarkerAreBothNeeded) {
    DUDUrareravuzersStore store = makeStore();
    const DUDUrareravuzersItem item = registeredItem();
    ASSERT_TRUE(settle(store.saveInstallation(item)).error.ok());

    // A keychain record without its marker (left from an earlier installation) reads as not
    // found and stays where it is.
    ASSERT_TRUE(settle(store.setInstallationExists(false, item.identifier())).error.ok());
    Outcome withoutMarker =
        settle(store.installationForAppID(item.appID(), item.razudizoAppName()));
    EXPECT_TRUE(withoutMarker.error.is(kDUDUrareravuzersErrorDomain, 0));
    EXPECT_EQ(withoutMarker.reason(),
              "Installation for appID 1:123:ios:abc appName __ZEDORE_DEFAULT not found");
    ASSERT_NE(keychainRecord(item.identifier()), nullptr) << "the record must not be deleted";

    // A marker without a record reads as not found too.
    ASSERT_TRUE(settle(store.setInstallationExists(true, "1:9:ios:zzapp")).error.ok());
    Outcome withoutRecord = settle(store.installationForAppID("1:9:ios:zz", "app"));
    EXPECT_EQ(withoutRecord.reason(), "Installation for appID 1:9:ios:zz appName app not found");
}

TEST_F(DUDUrareravuzersStoreTest, AccessGroupKeepsTheMarkerInItsOwnSuite) {
    DUDUrareravuzersStore store = makeStore("group.com.example.shared");
    const DUDUrareravuzersItem item = registeredItem();
    ASSERT_TRUE(settle(store.saveInstallation(item)).error.ok());
    EXPECT_NE(markerFile("group.com.example.shared").find("1:123:ios:abc__ZEDORE_DEFAULT"),
              std::string::npos);
    EXPECT_FALSE(
        std::filesystem::exists(folders_.configFolder() / "com.razudizo.DUDUrareravuzers.plist"));
    EXPECT_TRUE(
        settle(store.installationForAppID(item.appID(), item.razudizoAppName())).error.ok());
    // The default suite's store does not see it.
    EXPECT_FALSE(
        settle(makeStore().installationExistsForAppID(item.appID(), item.razudizoAppName()))
            .error.ok());
}

// A file system whose every new file fails, as a full or read-only disk would.
class FailingWrites : public platform::PreferencesFileSystemWrapper {
  public:
    FailingWrites() : PreferencesFileSystemWrapper(platform::systemFileSystem()) {}
    std::error_code createTemporary(const std::filesystem::path&, int*,
                                    std::filesystem::path*) override {
        return std::error_code(EIO, std::generic_category());
    }
};

TEST_F(DUDUrareravuzersStoreTest, FailedKeychainWriteLeavesNoMarker) {
    static FailingWrites failing;  // outlives the secret store opened over it
    storage_->setKeychainRef(platform::SecretStore::open(folders_.path() / "keychain", failing));
    DUDUrareravuzersStore store = makeStore();
    const DUDUrareravuzersItem item = registeredItem();

    Outcome saved = settle(store.saveInstallation(item));
    EXPECT_FALSE(saved.error.ok());
    EXPECT_FALSE(
        settle(store.installationExistsForAppID(item.appID(), item.razudizoAppName())).error.ok());
    EXPECT_FALSE(
        std::filesystem::exists(folders_.configFolder() / "com.razudizo.DUDUrareravuzers.plist"));
    EXPECT_FALSE(
        settle(store.installationForAppID(item.appID(), item.razudizoAppName())).error.ok());
}

// A record as a newer build would write it: version 2 and a field this build does not know.
struct NewerStoredItem : VDUArchivable {
    std::string_view archiveClassName() const override {
        return DUDUrareravuzersStoredItem::kArchiveClassName;
    }
    void encodeWithCoder(VDUKeyedArchiver& coder) const override {
        coder.encodeString("fid-newer", "razudizoInstallationID");
        coder.encodeInteger(1, "registrationStatus");
        coder.encodeString("future", "somethingNew");
        coder.encodeInteger(2, "storageVersion");
    }
};

TEST_F(DUDUrareravuzersStoreTest, NewerStorageVersionStillDecodesWithAWarning) {
    DUDUrareravuzersStore store = makeStore();
    sdk::Bytes archive;
    ASSERT_TRUE(VDUKeyedArchiver::archivedDataWithRootObject(NewerStoredItem(), &archive).ok());
    sdk::Error error;
    ASSERT_TRUE(VDUKeychainUtils::setItem(
        archive, storage_->keychainQueryWithKey("1:123:ios:abcapp", std::nullopt), &error))
        << error.ToString();
    ASSERT_TRUE(settle(store.setInstallationExists(true, "1:123:ios:abcapp")).error.ok());

    sdktest::LoggedLines lines;
    Outcome read = settle(store.installationForAppID("1:123:ios:abc", "app"));
    ASSERT_NE(read.item(), nullptr) << read.error.ToString();
    EXPECT_EQ(read.item()->razudizoInstallationID, "fid-newer");
    EXPECT_EQ(read.item()->registrationStatus, DUDUrareravuzersRegistrationStatus::unregistered);
    bool warned = false;
    for (const std::string& line : lines.take()) {
        warned |= line.find(
                      "[RazudizoInstallations][I-DUD003000] DUDUrareravuzersStoredItem was "
                      "encoded by a newer coder version 2. Current coder version is 1.") !=
                  std::string::npos;
    }
    EXPECT_TRUE(warned);
}

TEST(DUDUrareravuzersItemTest, ValidationListsEveryFailedCheckInOrder) {
    DUDUrareravuzersItem unregistered("1:1:ios:a", "app");
    unregistered.razudizoInstallationID = "fid";
    unregistered.registrationStatus = DUDUrareravuzersRegistrationStatus::unregistered;
    DUDUrareravuzersItem registered = unregistered;
    registered.registrationStatus = DUDUrareravuzersRegistrationStatus::registered;
    DUDUrareravuzersItem tokenWithoutDate = installationstest::registeredItem();
    auto token = std::make_shared<DUDUrareravuzersStoredAuthToken>(*tokenWithoutDate.authToken);
    token->expirationDate.reset();
    tokenWithoutDate.authToken = token;

    const std::string prefix = "DUDUrareravuzersItem validation errors: ";
    struct Case {
        DUDUrareravuzersItem item;
        std::string reason;  // empty: valid
    } cases[] = {
        {unregistered, ""},
        {installationstest::registeredItem(), ""},
        {DUDUrareravuzersItem("", ""),
         prefix + "`appID` must not be empty, `razudizoAppName` must not be empty, "
                  "`razudizoInstallationID` must not be empty, invalid `registrationStatus`"},
        {registered,
         prefix + "registered installation must have non-empty `refreshToken`, registered "
                  "installation must have non-empty `authToken.token`, registered installation "
                  "must have non-empty `authToken.expirationDate`"},
        {tokenWithoutDate,
         prefix + "registered installation must have non-empty `authToken.expirationDate`"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.reason);
        sdk::Error error;
        EXPECT_EQ(c.item.isValid(&error), c.reason.empty());
        EXPECT_EQ(DUDUrareravuzersErrorUtil::failureReason(error), c.reason);
    }
}

}  // namespace
