#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "HeartbeatTestSupport.h"
#include "sdk/core/heartbeat/FileStorage.h"
#include "sdk/core/heartbeat/StorageFactory.h"
#include "sdk/core/heartbeat/UserDefaultsStorage.h"
#include "tests/sdk/utilities/UtilitiesTestSupport.h"
#include "tests/support/Fixtures.h"
#include "tests/support/TempDir.h"

namespace heartbeat {
namespace {

class StorageBackEndsTest : public ::testing::Test {
  protected:
    cb::testsupport::TempDir folder_{"cb-heartbeat-storage"};
    sdktest::ScopedEnv dataHome_{"XDG_DATA_HOME", folder_.path().string()};
    sdktest::ScopedEnv configHome_{"XDG_CONFIG_HOME", (folder_.path() / "config").string()};
};

TEST_F(StorageBackEndsTest, FileStorageWritesAtomicallyAndNeverDeletes) {
    FileStorage storage(folder_ / "a/b/file");
    sdk::Bytes out{9};
    EXPECT_EQ(storage.read(&out), StorageError::readError);
    EXPECT_EQ(out, sdk::Bytes{9});

    EXPECT_EQ(storage.write(std::nullopt), std::nullopt);
    EXPECT_EQ(storage.read(&out), std::nullopt);
    EXPECT_TRUE(out.empty());

    EXPECT_EQ(storage.write(sdk::Bytes{'h', 'i'}), std::nullopt);
    EXPECT_EQ(storage.read(&out), std::nullopt);
    EXPECT_EQ(heartbeattest::text(out), "hi");
    // Only the file itself is left in the folder: no temporary file stays behind.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder_ / "a/b"),
                            std::filesystem::directory_iterator()),
              1);
}

TEST_F(StorageBackEndsTest, FileStorageFailuresLeaveTheOldFile) {
    FileStorage storage(folder_ / "locked/file");
    ASSERT_EQ(storage.write(sdk::Bytes{'o', 'l', 'd'}), std::nullopt);
    ::chmod((folder_ / "locked").c_str(), 0500);
    const bool privileged = ::geteuid() == 0;
    if (!privileged) {
        EXPECT_EQ(storage.write(sdk::Bytes{'n', 'e', 'w'}), StorageError::writeError);
    }
    ::chmod((folder_ / "locked").c_str(), 0700);
    sdk::Bytes out;
    if (!privileged) {
        ASSERT_EQ(storage.read(&out), std::nullopt);
        EXPECT_EQ(heartbeattest::text(out), "old");
    }

    // A folder where the file should be, a parent that is a file, a named pipe, a huge file.
    std::filesystem::create_directories(folder_ / "dir/file");
    EXPECT_EQ(FileStorage(folder_ / "dir/file").write(std::nullopt), StorageError::writeError);
    EXPECT_EQ(FileStorage(folder_ / "dir/file").read(&out), StorageError::readError);
    EXPECT_EQ(FileStorage(folder_ / "locked/file/below").write(std::nullopt),
              StorageError::writeError);
    cb::testsupport::makeFifo(folder_ / "pipe");
    EXPECT_EQ(FileStorage(folder_ / "pipe").read(&out), StorageError::readError);
    std::filesystem::resize_file(folder_ / "locked/file", FileStorage::kMaxFileSize + 1);
    EXPECT_EQ(storage.read(&out), StorageError::readError);
}

TEST_F(StorageBackEndsTest, FactoryPlacesTheFileUnderApplicationSupport) {
    const std::pair<std::string, std::string> names[] = {
        {"a:b:c", "heartbeats-a_b_c"},
        {"plain", "heartbeats-plain"},
        {"1:2:ios:ab", "heartbeats-1_2_ios_ab"},
        {"../../x", "heartbeats-.._.._x"},
        {std::string("a\0b", 3), "heartbeats-a_b"},
    };
    for (const auto& [id, name] : names) {
        EXPECT_EQ(StorageFactory::fileName(id), name);
    }
    const auto storage = StorageFactory::makeStorage("x:y");
    const auto* file = dynamic_cast<const FileStorage*>(storage.get());
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(file->url(), folder_ / "vovidu-heartbeat-storage/heartbeats-x_y");
}

TEST_F(StorageBackEndsTest, UserDefaultsStorageKeepsDataUnderItsKey) {
    UserDefaultsStorage storage("heartbeat-suite", "bundle");
    sdk::Bytes out;
    EXPECT_EQ(storage.read(&out), StorageError::readError);
    EXPECT_EQ(storage.write(sdk::Bytes{1, 2, 3}), std::nullopt);
    EXPECT_EQ(UserDefaultsStorage("heartbeat-suite", "bundle").read(&out), std::nullopt);
    EXPECT_EQ(out, (sdk::Bytes{1, 2, 3}));
    EXPECT_TRUE(std::filesystem::exists(folder_ / "config/cellarbright/heartbeat-suite.plist"));
    EXPECT_EQ(storage.write(std::nullopt), std::nullopt);
    EXPECT_EQ(storage.read(&out), StorageError::readError);
    // A suite that cannot be opened reads as nothing and swallows writes.
    EXPECT_EQ(UserDefaultsStorage("a/b", "k").write(sdk::Bytes{1}), std::nullopt);
    EXPECT_EQ(UserDefaultsStorage("a/b", "k").read(&out), StorageError::readError);
}

}  // namespace
}  // namespace heartbeat
