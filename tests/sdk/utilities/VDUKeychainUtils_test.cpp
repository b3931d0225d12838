#include "sdk/utilities/VDUKeychainUtils.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <vector>

#include "platform/preferences/PlistCodec.h"
#include "tests/platform/preferences/FailingFileSystem.h"
#include "tests/platform/preferences/TemporaryFolder.h"

namespace {

namespace fs = std::filesystem;
using sdk::Value;

// Reading any file fails with EIO.
class UnreadableFileSystem : public platform::PreferencesFileSystemWrapper {
  public:
    UnreadableFileSystem() : PreferencesFileSystemWrapper(platform::systemFileSystem()) {}
    std::error_code readFile(const fs::path&, size_t, std::string*) override {
        return std::error_code(EIO, std::generic_category());
    }
};

class VDUKeychainUtilsTest : public ::testing::Test {
  protected:
    Value::Dictionary query(std::string account) const {
        return {{std::string(platform::kSecClass), platform::kSecClassGenericPassword},
                {std::string(platform::kSecAttrService), "svc"},
                {std::string(platform::kSecAttrAccount), std::move(account)},
                {std::string(platform::kSecUseKeychain), folder_.path().string()}};
    }
    std::string reasonOf(const sdk::Error& error) const {
        const Value* reason = error.userInfoValue(kLocalizedFailureReasonErrorKey);
        return reason && reason->string() ? *reason->string() : "";
    }
    platform::TemporaryFolder folder_;
};

TEST_F(VDUKeychainUtilsTest, ItemsAreAddedUpdatedReadAndRemoved) {
    sdk::Error error = sdk::Error("stale", 1);
    EXPECT_EQ(VDUKeychainUtils::getItemWithQuery(query("a"), &error), std::nullopt);
    EXPECT_TRUE(error.ok()) << "not found is no error";

    ASSERT_TRUE(VDUKeychainUtils::setItem(sdk::Bytes{1, 2}, query("a"), &error));
    ASSERT_TRUE(VDUKeychainUtils::setItem(sdk::Bytes{3}, query("a"), nullptr));
    EXPECT_EQ(VDUKeychainUtils::getItemWithQuery(query("a"), &error), sdk::Bytes{3});

    // The one item file records the data-protection flag and the accessibility it was added with.
    std::vector<fs::path> files(fs::directory_iterator(folder_.path()), {});
    ASSERT_EQ(files.size(), 1u);
    std::ifstream in(files[0], std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), {});
    auto item = platform::decodePlist(bytes);
    ASSERT_TRUE(item.has_value());
    const auto& attributes = *item->getIf<platform::PlistDictionary>()
                                  ->at("attributes")
                                  .getIf<platform::PlistDictionary>();
    EXPECT_EQ(attributes.at(std::string(platform::kSecUseDataProtectionKeychain)),
              platform::PlistValue(true));
    EXPECT_EQ(attributes.at(std::string(platform::kSecAttrAccessible)),
              platform::PlistValue(
                  std::string(platform::kSecAttrAccessibleAfterFirstUnlockThisDeviceOnly)));

    ASSERT_TRUE(VDUKeychainUtils::removeItemWithQuery(query("a"), &error));
    EXPECT_EQ(VDUKeychainUtils::getItemWithQuery(query("a"), &error), std::nullopt);
    EXPECT_TRUE(VDUKeychainUtils::removeItemWithQuery(query("a"), &error)) << "nothing to delete";
    EXPECT_TRUE(error.ok());
}

TEST_F(VDUKeychainUtilsTest, QueriesAlwaysGoToTheDataProtectionKeychain) {
    Value::Dictionary sent = VDUKeychainUtils::multiplatformQueryWithQuery(query("a"));
    EXPECT_EQ(sent.at(std::string(platform::kSecUseDataProtectionKeychain)), Value(true));
    sent.erase(std::string(platform::kSecUseDataProtectionKeychain));
    EXPECT_EQ(sent, query("a"));
}

TEST_F(VDUKeychainUtilsTest, FailuresNameTheFunctionAndStatus) {
    sdk::Error error = VDUKeychainUtils::keychainErrorWithFunction("SecItemAdd", -36);
    EXPECT_TRUE(error.is("com.vdu.keychain.ErrorDomain", 0));
    EXPECT_EQ(reasonOf(error), "SecItemAdd (-36)");

    ASSERT_TRUE(VDUKeychainUtils::setItem(sdk::Bytes{1}, query("old"), &error));
    {
        platform::FailingFileSystem failing("rename");
        auto keychain = platform::SecretStore::open(folder_.path(), failing);
        EXPECT_FALSE(VDUKeychainUtils::setItem(sdk::Bytes{2}, query("new"), &error));
        EXPECT_EQ(reasonOf(error), "SecItemAdd (-36)");
        EXPECT_FALSE(VDUKeychainUtils::setItem(sdk::Bytes{2}, query("old"), &error));
        EXPECT_EQ(reasonOf(error), "SecItemUpdate (-36)");
    }
    {
        UnreadableFileSystem unreadable;
        auto keychain = platform::SecretStore::open(folder_.path(), unreadable);
        EXPECT_EQ(VDUKeychainUtils::getItemWithQuery(query("old"), &error), std::nullopt);
        EXPECT_EQ(reasonOf(error), "SecItemCopyMatching (-36)");
        // A failed read stops the write, whether or not the caller asked for the error.
        EXPECT_FALSE(VDUKeychainUtils::setItem(sdk::Bytes{3}, query("old"), nullptr));
        EXPECT_FALSE(VDUKeychainUtils::setItem(sdk::Bytes{3}, query("old"), &error));
        EXPECT_EQ(reasonOf(error), "SecItemCopyMatching (-36)");
    }
    EXPECT_EQ(VDUKeychainUtils::getItemWithQuery(query("old"), &error), sdk::Bytes{1});

    std::ofstream(folder_.path() / "file") << "not a folder";
    Value::Dictionary broken = query("a");
    broken[std::string(platform::kSecUseKeychain)] = (folder_.path() / "file").string();
    EXPECT_FALSE(VDUKeychainUtils::removeItemWithQuery(broken, &error));
    EXPECT_EQ(reasonOf(error), "SecItemDelete (-36)");
}

}  // namespace

namespace {

TEST_F(VDUKeychainUtilsTest, TwoProcessesSettingTheSameNewItemsAtOnceBothSucceed) {
    constexpr int kItems = 300;
    int start[2];
    ASSERT_EQ(pipe(start), 0);
    std::vector<pid_t> children;
    for (const char* value : {"first", "second"}) {
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            ::close(start[1]);
            char go = 0;
            if (::read(start[0], &go, 1) != 0) {  // both start when the pipe closes
                _exit(100);
            }
            int failures = 0;
            for (int i = 0; i < kItems; ++i) {
                sdk::Error error;
                const std::string data(value);
                if (!VDUKeychainUtils::setItem(sdk::Bytes(data.begin(), data.end()),
                                               query("item-" + std::to_string(i)), &error)) {
                    ++failures;
                }
            }
            _exit(std::min(failures, 99));
        }
        children.push_back(child);
    }
    ::close(start[0]);
    ::close(start[1]);
    for (pid_t child : children) {
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
            << "failed calls in one process: " << WEXITSTATUS(status);
    }
    // One item each, holding one of the two values whole.
    EXPECT_EQ(std::distance(fs::directory_iterator(folder_.path()), {}), kItems);
    for (int i = 0; i < kItems; ++i) {
        sdk::Error error;
        const std::optional<sdk::Bytes> data =
            VDUKeychainUtils::getItemWithQuery(query("item-" + std::to_string(i)), &error);
        ASSERT_TRUE(data) << i << " " << error.ToString();
        const std::string text(data->begin(), data->end());
        EXPECT_TRUE(text == "first" || text == "second") << text;
    }
}

}  // namespace
