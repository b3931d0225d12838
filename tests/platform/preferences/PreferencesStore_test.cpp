#include "platform/preferences/PreferencesStore.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <thread>

#include "platform/preferences/PlistCodec.h"
#include "tests/platform/preferences/FailingFileSystem.h"
#include "tests/platform/preferences/HostilePlists.h"
#include "tests/platform/preferences/TemporaryFolder.h"

namespace platform {
namespace {

namespace fs = std::filesystem;

std::string readAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

void writeAll(const fs::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

// The dictionary actually on disk, read without the store.
PlistDictionary onDisk(const fs::path& path) {
    std::optional<PlistValue> root = decodePlist(readAll(path));
    const PlistDictionary* dictionary = root ? root->getIf<PlistDictionary>() : nullptr;
    return dictionary ? *dictionary : PlistDictionary{{"<damaged>", true}};
}

size_t entriesIn(const fs::path& folder) {
    return static_cast<size_t>(std::distance(fs::directory_iterator(folder), {}));
}

class PreferencesStoreTest : public ::testing::Test {
  protected:
    std::shared_ptr<PreferencesStore> open(std::string_view suite = "com.example.Test") {
        return PreferencesStore::suite(suite, folder_.path() / "prefs", systemFileSystem());
    }
    TemporaryFolder folder_;
};

TEST_F(PreferencesStoreTest, WritesKeepTheOtherKeysAndLandOnDisk) {
    auto store = open();
    EXPECT_FALSE(store->get("missing").has_value());
    ASSERT_FALSE(store->set("language", "ru"));
    ASSERT_FALSE(store->set("count", 3));
    ASSERT_FALSE(store->set("nested", PlistDictionary{{"a", PlistArray{1.5, true}}}));
    ASSERT_FALSE(store->set("count", 4));
    ASSERT_FALSE(store->remove("nested"));
    ASSERT_FALSE(store->remove("never-there"));

    PlistDictionary expected{{"language", "ru"}, {"count", 4}};
    EXPECT_EQ(onDisk(store->path()), expected);
    EXPECT_EQ(store->allKeys(), (std::vector<std::string>{"count", "language"}));
    EXPECT_EQ(store->get("language"), PlistValue("ru"));
    EXPECT_EQ(store->path(), folder_.path() / "prefs" / "com.example.Test.plist");
    EXPECT_EQ(fs::status(store->path()).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);
}

TEST_F(PreferencesStoreTest, RemoveAllEmptiesTheSuiteInOneWrite) {
    auto store = open();
    ASSERT_FALSE(store->removeAll()) << "an empty suite writes nothing";
    EXPECT_FALSE(fs::exists(store->path()));
    ASSERT_FALSE(store->set("a", 1));
    // A key another writer added since our last read goes too.
    PlistDictionary both{{"a", 1}, {"b", 2}};
    writeAll(store->path(), encodeXmlPlist(both));
    ASSERT_FALSE(store->removeAll());
    EXPECT_EQ(onDisk(store->path()), PlistDictionary{});
    EXPECT_TRUE(store->allKeys().empty());
}

TEST_F(PreferencesStoreTest, OneStorePerSuiteAndBadNamesAreRefused) {
    EXPECT_EQ(open().get(), open().get());
    EXPECT_NE(open().get(), open("other").get());
    using namespace std::string_view_literals;
    for (std::string_view bad : {""sv, "."sv, ".."sv, "a/b"sv, "a\0b"sv}) {
        EXPECT_EQ(open(bad), nullptr) << bad;
    }
}

TEST_F(PreferencesStoreTest, SeesWhatAnotherProcessWrote) {
    auto store = open();
    ASSERT_FALSE(store->set("mine", 1));
    EXPECT_FALSE(store->get("theirs").has_value());  // loads the file before the child writes
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // A separate process: writes through its own copy of the store.
        _exit(store->set("theirs", "hello") ? 1 : 0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(store->get("theirs"), PlistValue("hello"));
    EXPECT_EQ(store->get("mine"), PlistValue(1));
}

TEST_F(PreferencesStoreTest, OpeningASuiteRemovesTheTemporaryFilesOfKilledWriters) {
    const fs::path folder = folder_.path() / "prefs";
    fs::create_directories(folder);
    writeAll(folder / "com.example.Test.plist", encodeBinaryPlist(PlistDictionary{{"kept", 1}}));
    const std::vector<std::string> leftovers = {".com.example.Test.plist.a1B2c3",
                                                ".com.example.Test.plist.ZZZZZZ"};
    const std::vector<std::string> others = {
        ".other.plist.a1B2c3",              // another suite's, which that suite clears itself
        ".com.example.Test.plist.a1B2c",    // not mkstemp's shape
        ".com.example.Test.plist.a1B2c3d",  // nor this
        "com.example.Test.plist.a1B2c3",    // no leading dot
        "other.plist"};
    for (const auto& name : leftovers) {
        writeAll(folder / name, std::string(1024, 'x'));
    }
    for (const auto& name : others) {
        writeAll(folder / name, "y");
    }
    fs::create_directory(folder / ".com.example.Test.plist.dir123");  // not a file

    auto store = open();
    for (const auto& name : leftovers) {
        EXPECT_FALSE(fs::exists(folder / name)) << name;
    }
    for (const auto& name : others) {
        EXPECT_TRUE(fs::exists(folder / name)) << name;
    }
    EXPECT_TRUE(fs::is_directory(folder / ".com.example.Test.plist.dir123"));
    EXPECT_EQ(store->get("kept"), PlistValue(1));
}

TEST_F(PreferencesStoreTest, AFifoOrAFolderInPlaceOfTheFileReadsAsEmptyWithoutWaiting) {
    for (bool fifo : {true, false}) {
        SCOPED_TRACE(fifo ? "fifo" : "folder");
        const std::string suite = fifo ? "com.example.Fifo" : "com.example.Folder";
        const fs::path path = folder_.path() / "prefs" / (suite + ".plist");
        fs::create_directories(path.parent_path());
        if (fifo) {
            ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
        } else {
            fs::create_directory(path);
        }
        // In a child, so a read that blocks on the FIFO fails the test instead of hanging it.
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            ::alarm(10);
            ::testing::internal::CaptureStderr();
            auto store = open(suite);
            const bool empty = !store->get("language").has_value() && store->allKeys().empty();
            const std::string log = ::testing::internal::GetCapturedStderr();
            _exit(empty && log.find("not a regular file") != std::string::npos ? 0 : 1);
        }
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
            << (WIFSIGNALED(status) ? "killed by signal " + std::to_string(WTERMSIG(status))
                                    : "exit " + std::to_string(WEXITSTATUS(status)));
    }
}

TEST_F(PreferencesStoreTest, ReadsXmlWrittenByOthersAndKeepsItsKeysOnWrite) {
    auto store = open();
    fs::create_directories(store->path().parent_path());
    writeAll(store->path(), encodeXmlPlist(PlistDictionary{{"old", "kept"}}));
    EXPECT_EQ(store->get("old"), PlistValue("kept"));
    ASSERT_FALSE(store->set("new", false));
    EXPECT_EQ(onDisk(store->path()), (PlistDictionary{{"old", "kept"}, {"new", false}}));
}

TEST_F(PreferencesStoreTest, DamagedFileIsSetAsideReportedAndTheSuiteStartsEmpty) {
    auto store = open();
    fs::create_directories(store->path().parent_path());
    fs::path aside = store->path();
    aside += ".damaged";
    // Each would crash the reader, exhaust memory or simply not parse; none is lost.
    const std::pair<const char*, std::string> damaged[] = {
        {"garbage", "bplist00 this is not a property list"},
        {"200,000 nested arrays", hostile::deepXml(200000)},
        {"shared references", hostile::sharedReferences(24)},
    };
    for (const auto& [name, bytes] : damaged) {
        SCOPED_TRACE(name);
        fs::remove(aside);
        writeAll(store->path(), bytes);
        ::testing::internal::CaptureStderr();
        EXPECT_FALSE(store->get("language").has_value());
        EXPECT_TRUE(store->allKeys().empty());
        std::string log = ::testing::internal::GetCapturedStderr();
        EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 1) << log;
        EXPECT_NE(log.find(aside.string()), std::string::npos) << log;
        EXPECT_FALSE(fs::exists(store->path()));
        EXPECT_EQ(readAll(aside), bytes);
    }
    ASSERT_FALSE(store->set("language", "de"));
    EXPECT_EQ(onDisk(store->path()), (PlistDictionary{{"language", "de"}}));

    // A file set aside before is never replaced: the next one takes the next free name.
    writeAll(store->path(), "not a plist either");
    EXPECT_TRUE(store->allKeys().empty());
    fs::path second = store->path();
    second += ".damaged-2";
    EXPECT_EQ(readAll(second), "not a plist either");
    EXPECT_EQ(readAll(aside), damaged[2].second);
}

TEST_F(PreferencesStoreTest, ADamagedFileThatCannotBeSetAsideIsNeverWrittenOver) {
    // Renaming it aside fails; the writes themselves would succeed.
    struct NoSetAside : PreferencesFileSystemWrapper {
        NoSetAside() : PreferencesFileSystemWrapper(systemFileSystem()) {}
        std::error_code rename(const fs::path& from, const fs::path& to) override {
            return to.string().find(".damaged") != std::string::npos
                       ? FailingFileSystem::injected()
                       : PreferencesFileSystemWrapper::rename(from, to);
        }
    } noSetAside;
    TemporaryFolder folder;
    auto store = PreferencesStore::suite("s", folder.path(), noSetAside);
    writeAll(store->path(), "garbage");
    ::testing::internal::CaptureStderr();
    EXPECT_TRUE(store->allKeys().empty());
    EXPECT_EQ(store->set("language", "de"), FailingFileSystem::injected());
    std::string log = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 1) << log;
    EXPECT_EQ(readAll(store->path()), "garbage");
}

TEST_F(PreferencesStoreTest, AFileThatCannotBeReadIsLeftWhereItIs) {
    // Not the file's fault (permissions, I/O): it stays for when it can be read again.
    struct Unreadable : PreferencesFileSystemWrapper {
        Unreadable() : PreferencesFileSystemWrapper(systemFileSystem()) {}
        std::error_code readFile(const fs::path&, size_t, std::string*) override {
            return std::make_error_code(std::errc::permission_denied);
        }
    } unreadable;
    TemporaryFolder folder;
    auto store = PreferencesStore::suite("s", folder.path(), unreadable);
    writeAll(store->path(), "garbage");
    ::testing::internal::CaptureStderr();
    EXPECT_TRUE(store->allKeys().empty());
    (void)::testing::internal::GetCapturedStderr();
    EXPECT_EQ(readAll(store->path()), "garbage");
    EXPECT_EQ(entriesIn(folder.path()), 1u);
}

TEST_F(PreferencesStoreTest, TopLevelThatIsNotADictionaryCountsAsDamaged) {
    auto store = open();
    fs::create_directories(store->path().parent_path());
    writeAll(store->path(), encodeBinaryPlist(PlistArray{"a"}));
    ::testing::internal::CaptureStderr();
    EXPECT_TRUE(store->allKeys().empty());
    EXPECT_NE(::testing::internal::GetCapturedStderr().find("not a dictionary"), std::string::npos);
}

TEST_F(PreferencesStoreTest, ConcurrentWritersLoseNoKey) {
    auto store = open();
    std::vector<std::thread> writers;
    for (int t = 0; t < 4; ++t) {
        writers.emplace_back([&, t] {
            for (int i = 0; i < 10; ++i) {
                EXPECT_FALSE(store->set("k" + std::to_string(t) + "-" + std::to_string(i), i));
                (void)store->get("k0-0");
            }
        });
    }
    for (std::thread& writer : writers) {
        writer.join();
    }
    EXPECT_EQ(onDisk(store->path()).size(), 40u);
}

TEST_F(PreferencesStoreTest, AFailedWriteAtAnyStepLeavesTheFileAsItWas) {
    for (const char* step : {"createTemporary", "writeAll", "sync", "close", "rename"}) {
        SCOPED_TRACE(step);
        TemporaryFolder folder;
        FailingFileSystem failing(step);
        auto store = PreferencesStore::suite("s", folder.path(), failing);
        writeAll(store->path(), encodeBinaryPlist(PlistDictionary{{"keep", "me"}}));
        const std::string before = readAll(store->path());

        EXPECT_EQ(store->set("keep", "changed"), FailingFileSystem::injected());
        EXPECT_EQ(readAll(store->path()), before);
        EXPECT_EQ(store->get("keep"), PlistValue("me"));
        EXPECT_EQ(entriesIn(folder.path()), 1u) << "a temporary file was left behind";
    }
}

TEST(PreferencesFolderTest, FollowsXdgConfigHome) {
    const char* saved = std::getenv("XDG_CONFIG_HOME");
    std::string restore = saved ? saved : "";
    setenv("XDG_CONFIG_HOME", "/tmp/cb-config", 1);
    EXPECT_EQ(PreferencesStore::defaultFolder(), fs::path("/tmp/cb-config/cellarbright"));
    setenv("XDG_CONFIG_HOME", "relative/ignored", 1);
    EXPECT_EQ(PreferencesStore::defaultFolder(),
              fs::path(std::getenv("HOME")) / ".config" / "cellarbright");
    if (saved) {
        setenv("XDG_CONFIG_HOME", restore.c_str(), 1);
    } else {
        unsetenv("XDG_CONFIG_HOME");
    }
}

}  // namespace
}  // namespace platform
