#include "platform/secretstore/SecretStore.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "platform/folders/Folders.h"
#include "tests/platform/preferences/FailingFileSystem.h"
#include "tests/platform/preferences/TemporaryFolder.h"

namespace platform {
namespace {

namespace fs = std::filesystem;

PlistData bytes(std::string_view text) {
    return PlistData{std::vector<uint8_t>(text.begin(), text.end())};
}

PlistDictionary password(std::string service, std::string account) {
    return {{std::string(kSecClass), std::string(kSecClassGenericPassword)},
            {std::string(kSecAttrService), std::move(service)},
            {std::string(kSecAttrAccount), std::move(account)}};
}

PlistDictionary with(PlistDictionary attributes, std::string_view name, PlistValue value) {
    attributes.insert_or_assign(std::string(name), std::move(value));
    return attributes;
}

// The data a query finds, or the status as text.
std::string lookup(SecretStore& store, const PlistDictionary& query) {
    PlistData data;
    SecStatus status = store.copyMatching(query, &data);
    return status == errSecSuccess ? std::string(data.bytes.begin(), data.bytes.end())
                                   : "status " + std::to_string(status);
}

// `stat -c %a`: the mode as an independent tool reports it.
std::string modeOf(const fs::path& path) {
    std::string command = "stat -c %a '" + path.string() + "'";
    FILE* pipe = ::popen(command.c_str(), "r");
    char buffer[32] = {};
    std::string mode = pipe && std::fgets(buffer, sizeof buffer, pipe) ? buffer : "";
    if (pipe) {
        ::pclose(pipe);
    }
    return mode.substr(0, mode.find('\n'));
}

std::vector<std::string> namesIn(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

// Points XDG_DATA_HOME at a temporary folder for the test's duration.
class SecretStoreTest : public ::testing::Test {
  protected:
    void SetUp() override {
        const char* saved = std::getenv("XDG_DATA_HOME");
        saved_ = saved ? std::optional<std::string>(saved) : std::nullopt;
        setenv("XDG_DATA_HOME", home_.path().c_str(), 1);
    }
    void TearDown() override {
        if (saved_) {
            setenv("XDG_DATA_HOME", saved_->c_str(), 1);
        } else {
            unsetenv("XDG_DATA_HOME");
        }
    }
    TemporaryFolder home_;
    std::optional<std::string> saved_;
};

TEST_F(SecretStoreTest, LivesInAPrivateFolderUnderApplicationSupportWithPrivateFiles) {
    EXPECT_EQ(applicationSupportFolder(), home_.path());
    EXPECT_EQ(SecretStore::defaultFolder(), home_.path() / "cellarbright" / "keychain");
    auto store = SecretStore::forQuery({});
    EXPECT_EQ(store->folder(), SecretStore::defaultFolder());
    EXPECT_EQ(lookup(*store, password("svc", "acct")), "status -25300");  // no folder yet

    ASSERT_EQ(store->add(with(password("svc", "acct"), kSecValueData, bytes("s3cret"))),
              errSecSuccess);
    EXPECT_EQ(lookup(*store, password("svc", "acct")), "s3cret");
    EXPECT_EQ(modeOf(store->folder()), "700");
    std::vector<std::string> files = namesIn(store->folder());
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(modeOf(store->folder() / files[0]), "600");
}

TEST_F(SecretStoreTest, AnExistingSharedFolderIsMadePrivateOnTheFirstWrite) {
    fs::create_directories(SecretStore::defaultFolder());
    fs::permissions(SecretStore::defaultFolder(), fs::perms::all);
    ASSERT_EQ(SecretStore::forQuery({})->add(password("s", "a")), errSecSuccess);
    EXPECT_EQ(modeOf(SecretStore::defaultFolder()), "700");
}

TEST_F(SecretStoreTest, AnItemAddedByAnotherProcessIsRead) {
    auto store = SecretStore::forQuery({});
    EXPECT_EQ(lookup(*store, password("svc", "theirs")), "status -25300");
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        _exit(store->add(with(password("svc", "theirs"), kSecValueData, bytes("hello"))));
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(lookup(*store, password("svc", "theirs")), "hello");
}

TEST_F(SecretStoreTest, QueriesMatchEveryAttributeTheyName) {
    auto store = SecretStore::forQuery({});
    PlistDictionary grouped = with(password("svc", "a"), kSecAttrAccessGroup, "group.one");
    ASSERT_EQ(store->add(with(grouped, kSecValueData, bytes("in group"))), errSecSuccess);
    ASSERT_EQ(store->add(with(with(password("other", "a"), kSecAttrGeneric, "tokens"),
                              kSecValueData, bytes("generic"))),
              errSecSuccess);
    PlistDictionary key = {{std::string(kSecClass), std::string(kSecClassKey)},
                           {std::string(kSecAttrKeyType), std::string(kSecAttrKeyTypeRSA)},
                           {std::string(kSecAttrApplicationTag), bytes("tag-public")},
                           {std::string(kSecValueData), bytes("key bytes")}};
    ASSERT_EQ(store->add(key), errSecSuccess);

    struct Case {
        const char* name;
        PlistDictionary query;
        std::string expected;
    };
    const Case cases[] = {
        {"without a group finds the grouped item", password("svc", "a"), "in group"},
        {"the same group", grouped, "in group"},
        {"another group", with(password("svc", "a"), kSecAttrAccessGroup, "group.two"),
         "status -25300"},
        {"another account", password("svc", "b"), "status -25300"},
        {"generic attribute", with(password("other", "a"), kSecAttrGeneric, "tokens"), "generic"},
        {"wrong generic attribute", with(password("other", "a"), kSecAttrGeneric, "x"),
         "status -25300"},
        {"options and recorded attributes take no part",
         with(with(password("svc", "a"), kSecReturnData, true), kSecAttrAccessible, "other"),
         "in group"},
        {"key by tag and type",
         {{std::string(kSecClass), std::string(kSecClassKey)},
          {std::string(kSecAttrApplicationTag), bytes("tag-public")}},
         "key bytes"},
        {"key with another tag",
         {{std::string(kSecClass), std::string(kSecClassKey)},
          {std::string(kSecAttrApplicationTag), bytes("tag-private")}},
         "status -25300"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(lookup(*store, c.query), c.expected) << c.name;
    }
}

TEST_F(SecretStoreTest, AddUpdateAndRemoveFollowTheIdentity) {
    auto store = SecretStore::forQuery({});
    ASSERT_EQ(store->add(with(password("svc", "a"), kSecValueData, bytes("one"))), errSecSuccess);
    EXPECT_EQ(store->add(with(password("svc", "a"), kSecValueData, bytes("two"))),
              errSecDuplicateItem);
    ASSERT_EQ(store->add(with(with(password("svc", "a"), kSecAttrAccessGroup, "g"), kSecValueData,
                              bytes("grouped"))),
              errSecSuccess);
    EXPECT_EQ(store->add({}), errSecParam);

    // Both items match a query without a group: an update changes both, a delete removes both.
    ASSERT_EQ(store->update(password("svc", "a"), bytes("updated")), errSecSuccess);
    EXPECT_EQ(lookup(*store, with(password("svc", "a"), kSecAttrAccessGroup, "g")), "updated");
    EXPECT_EQ(store->update(password("svc", "missing"), bytes("x")), errSecItemNotFound);
    ASSERT_EQ(store->remove(password("svc", "a")), errSecSuccess);
    EXPECT_TRUE(namesIn(store->folder()).empty());
    EXPECT_EQ(store->remove(password("svc", "a")), errSecItemNotFound);
}

TEST_F(SecretStoreTest, NamesThatLookLikePathsStayInsideTheFolder) {
    const fs::path folder = home_.path() / "only" / "here";
    auto store = SecretStore::open(folder);
    const std::string names[] = {"/",          "..", "../../escaped", "a/b", std::string(300, 'x'),
                                 "/etc/passwd"};
    for (const std::string& name : names) {
        ASSERT_EQ(store->add(with(with(password(name, name), kSecAttrAccessGroup, name),
                                  kSecValueData, bytes(name))),
                  errSecSuccess)
            << name;
    }
    for (const std::string& name : names) {
        EXPECT_EQ(lookup(*store, password(name, name)), name);
    }
    EXPECT_EQ(namesIn(home_.path()), std::vector<std::string>{"only"});
    EXPECT_EQ(namesIn(home_.path() / "only"), std::vector<std::string>{"here"});
    EXPECT_EQ(namesIn(folder).size(), std::size(names));
}

TEST_F(SecretStoreTest, ForeignAndDamagedFilesArePassedOver) {
    auto store = SecretStore::forQuery({});
    ASSERT_EQ(store->add(with(password("svc", "a"), kSecValueData, bytes("kept"))), errSecSuccess);
    std::ofstream(store->folder() / (std::string(64, 'a') + ".item")) << "not a plist";
    std::ofstream(store->folder() / "notes.txt") << "hello";
    EXPECT_EQ(lookup(*store, password("svc", "a")), "kept");
    EXPECT_EQ(lookup(*store, {}), "kept");
}

TEST_F(SecretStoreTest, OpeningAFolderRemovesTheTemporaryItemFilesOfKilledWriters) {
    const fs::path folder = home_.path() / "keychain";
    TemporaryFolder seed;
    // A real item's file, and temporary copies of it as a writer killed before its rename
    // leaves them: each holds the whole secret, also after the item itself is removed.
    {
        auto writer = SecretStore::open(seed.path());
        ASSERT_EQ(writer->add(with(password("svc", "a"), kSecValueData, bytes("s3cret"))),
                  errSecSuccess);
    }
    const std::string item = namesIn(seed.path()).at(0);
    fs::create_directories(folder);
    fs::copy_file(seed.path() / item, folder / item);
    const std::vector<std::string> leftovers = {"." + item + ".Ab12Cd",
                                                "." + std::string(64, 'e') + ".item.x9Y8z7"};
    for (const std::string& name : leftovers) {
        fs::copy_file(seed.path() / item, folder / name);
    }
    const std::vector<std::string> others = {".notes.txt.Ab12Cd", "notes.txt",
                                             "." + item + ".Ab12C"};
    for (const std::string& name : others) {
        std::ofstream(folder / name) << "x";
    }

    auto store = SecretStore::open(folder);
    std::vector<std::string> expected = others;
    expected.push_back(item);
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(namesIn(folder), expected);
    EXPECT_EQ(lookup(*store, password("svc", "a")), "s3cret");
}

TEST_F(SecretStoreTest, AFifoOrAFolderNamedLikeAnItemIsSkippedWithADiagnostic) {
    for (bool fifo : {true, false}) {
        SCOPED_TRACE(fifo ? "fifo" : "folder");
        TemporaryFolder folder;
        auto store = SecretStore::open(folder.path());
        ASSERT_EQ(store->add(with(password("svc", "a"), kSecValueData, bytes("first"))),
                  errSecSuccess);
        const std::vector<std::string> before = namesIn(folder.path());
        ASSERT_EQ(store->add(with(password("svc", "b"), kSecValueData, bytes("second"))),
                  errSecSuccess);
        const std::vector<std::string> after = namesIn(folder.path());
        ASSERT_EQ(after.size(), 2u);
        const std::string name = after[0] == before[0] ? after[1] : after[0];
        fs::remove(folder.path() / name);
        if (fifo) {
            ASSERT_EQ(::mkfifo((folder.path() / name).c_str(), 0600), 0);
        } else {
            fs::create_directory(folder.path() / name);
        }
        // In a child, so a read that blocks on the FIFO fails the test instead of hanging it.
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            ::alarm(10);
            ::testing::internal::CaptureStderr();
            int failures = 0;
            failures += lookup(*store, password("svc", "a")) != "first";
            failures += lookup(*store, password("svc", "b")) != "status -25300";
            failures += lookup(*store, {}) != "first";
            failures += store->add(with(password("svc", "c"), kSecValueData, bytes("third"))) !=
                        errSecSuccess;
            failures += store->update(password("svc", "a"), bytes("changed")) != errSecSuccess;
            failures += lookup(*store, password("svc", "c")) != "third";
            const std::string log = ::testing::internal::GetCapturedStderr();
            // Said once, naming the entry, however often it is passed over.
            failures += log.find(name) == std::string::npos;
            failures += std::count(log.begin(), log.end(), '\n') != 1;
            _exit(failures);
        }
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
            << (WIFSIGNALED(status) ? "killed by signal " + std::to_string(WTERMSIG(status))
                                    : std::to_string(WEXITSTATUS(status)) + " checks failed");
    }
}

TEST_F(SecretStoreTest, AFailedWriteAtAnyStepKeepsThePreviousItemAndNoTemporaryFile) {
    for (const char* step :
         {"lockFolder", "createTemporary", "writeAll", "sync", "close", "rename"}) {
        SCOPED_TRACE(step);
        TemporaryFolder folder;
        ASSERT_EQ(SecretStore::open(folder.path())
                      ->add(with(password("svc", "a"), kSecValueData, bytes("previous"))),
                  errSecSuccess);
        const std::vector<std::string> before = namesIn(folder.path());

        // The first store of the folder is gone, so this one opens on the failing system.
        FailingFileSystem failing(step);
        auto store = SecretStore::open(folder.path(), failing);
        EXPECT_EQ(store->update(password("svc", "a"), bytes("next")), errSecIO);
        EXPECT_EQ(store->add(with(password("svc", "b"), kSecValueData, bytes("new"))), errSecIO);
        EXPECT_EQ(lookup(*store, password("svc", "a")), "previous");
        EXPECT_EQ(namesIn(folder.path()), before);
    }
}

TEST_F(SecretStoreTest, AnUnreadableFolderIsAFileFailure) {
    const fs::path notAFolder = home_.path() / "file";
    std::ofstream(notAFolder) << "x";
    auto store = SecretStore::open(notAFolder);
    EXPECT_EQ(lookup(*store, password("svc", "a")), "status -36");
    EXPECT_EQ(store->add(password("svc", "a")), errSecIO);
    EXPECT_EQ(store->remove(password("svc", "a")), errSecIO);
}

}  // namespace
}  // namespace platform
