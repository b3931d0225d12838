// The language choice in the user's preferences: read at start, written on a real change only,
// and seen by the next process.
#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "app/localization/LocalizationManager.h"
#include "platform/bundle/Bundle.h"
#include "platform/preferences/PlistCodec.h"
#include "tests/platform/preferences/TemporaryFolder.h"

namespace cb {
namespace {

namespace fs = std::filesystem;
using platform::PlistValue;
using platform::PreferencesStore;

std::string readAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

// Counts the files the store puts in place.
class CountingFileSystem : public platform::PreferencesFileSystemWrapper {
  public:
    CountingFileSystem() : PreferencesFileSystemWrapper(platform::systemFileSystem()) {}
    std::error_code rename(const fs::path& from, const fs::path& to) override {
        ++writes;
        return PreferencesFileSystemWrapper::rename(from, to);
    }
    int writes = 0;
};

// Points XDG_CONFIG_HOME at a temporary folder for one test.
class LanguagePersistenceTest : public ::testing::Test {
  protected:
    LanguagePersistenceTest() {
        if (const char* saved = std::getenv("XDG_CONFIG_HOME")) {
            savedConfigHome_ = saved;
        }
        setenv("XDG_CONFIG_HOME", folder_.path().c_str(), 1);
        store_ = PreferencesStore::suite(platform::kFallbackBundleIdentifier,
                                         PreferencesStore::defaultFolder(), files_);
    }
    ~LanguagePersistenceTest() override {
        if (savedConfigHome_) {
            setenv("XDG_CONFIG_HOME", savedConfigHome_->c_str(), 1);
        } else {
            unsetenv("XDG_CONFIG_HOME");
        }
    }

    void store(const std::string& raw) {
        std::ofstream(store_->path(), std::ios::binary) << platform::encodeBinaryPlist(
            platform::PlistDictionary{{std::string(LocalizationManager::kLanguageKey), raw}});
    }

    platform::TemporaryFolder folder_;
    std::optional<std::string> savedConfigHome_;
    CountingFileSystem files_;
    std::shared_ptr<PreferencesStore> store_;
};

TEST_F(LanguagePersistenceTest, AStoredRawValueWinsOverTheSystemLanguages) {
    fs::create_directories(store_->path().parent_path());
    store("de");
    LocalizationManager manager(store_, {"ru-RU", "en-US"});
    EXPECT_EQ(manager.current(), Language::german);
    EXPECT_EQ(files_.writes, 0);
}

TEST_F(LanguagePersistenceTest, UnknownStoredValuesAreIgnoredAndKept) {
    fs::create_directories(store_->path().parent_path());
    for (const char* unknown : {"DE", "fr", "en-US", ""}) {
        store(unknown);
        const std::string before = readAll(store_->path());
        LocalizationManager manager(store_, {"ru-RU"});
        EXPECT_EQ(manager.current(), Language::russian) << unknown;
        manager.setCurrent(Language::russian);  // unchanged: still nothing is written
        EXPECT_EQ(readAll(store_->path()), before) << unknown;
    }
    EXPECT_EQ(files_.writes, 0);
}

// Starts this test program again as a new process, running only the child test below in the
// given locale, and returns what it printed.
std::string startInNewProcess(const char* locale) {
    std::array<char, 4096> self{};
    ssize_t length = readlink("/proc/self/exe", self.data(), self.size() - 1);
    if (length <= 0) {
        return "readlink failed";
    }
    std::string command = std::string("CB_LANGUAGE_CHILD=1 LANGUAGE= LC_MESSAGES= LANG= LC_ALL=") +
                          locale + " '" + std::string(self.data(), static_cast<size_t>(length)) +
                          "' --gtest_filter=LanguageChildProcess.* 2>&1";
    std::string output;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        std::array<char, 256> buffer{};
        while (fgets(buffer.data(), buffer.size(), pipe) != nullptr) {
            output += buffer.data();
        }
        pclose(pipe);
    }
    return output;
}

TEST_F(LanguagePersistenceTest, ChoosingALanguageWritesOnceAndTheNextProcessStartsInIt) {
    LocalizationManager manager(store_, {"en-US"});
    EXPECT_EQ(manager.current(), Language::english);
    EXPECT_EQ(files_.writes, 0);  // the start language is not stored
    EXPECT_NE(startInNewProcess("de_DE.UTF-8").find("start language: de"), std::string::npos);

    manager.setCurrent(Language::russian);
    EXPECT_EQ(files_.writes, 1);
    manager.setCurrent(Language::russian);
    EXPECT_EQ(files_.writes, 1);
    EXPECT_EQ(store_->get(LocalizationManager::kLanguageKey), PlistValue("ru"));

    std::string child = startInNewProcess("de_DE.UTF-8");
    EXPECT_NE(child.find("start language: ru"), std::string::npos) << child;
}

TEST_F(LanguagePersistenceTest, ACorruptFileIsReportedOnceAndKeptAside) {
    fs::create_directories(store_->path().parent_path());
    const std::string garbage = "<?xml version=\"1.0\"?><plist><dict><key>Cellar";
    std::ofstream(store_->path(), std::ios::binary) << garbage;

    ::testing::internal::CaptureStderr();
    LocalizationManager manager(store_, {});
    EXPECT_EQ(manager.current(), Language::english);
    manager.setCurrent(Language::english);
    EXPECT_EQ(manager.text("common.cancel"), "Cancel");
    std::string log = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 1) << log;
    EXPECT_NE(log.find(store_->path().string()), std::string::npos) << log;
    fs::path aside = store_->path();
    aside += ".damaged";
    EXPECT_EQ(readAll(aside), garbage);
    EXPECT_FALSE(fs::exists(store_->path()));

    manager.setCurrent(Language::chinese);
    EXPECT_EQ(store_->get(LocalizationManager::kLanguageKey), PlistValue("zh"));
    EXPECT_EQ(files_.writes, 2);  // the rename aside, then the one real change
}

// Runs only when started by startInNewProcess(): reports the language the shared manager of a
// fresh process starts in, from the standard suite under XDG_CONFIG_HOME.
TEST(LanguageChildProcess, ReportsTheStartLanguage) {
    if (std::getenv("CB_LANGUAGE_CHILD") == nullptr) {
        GTEST_SKIP() << "helper of LanguagePersistenceTest";
    }
    std::printf("start language: %s\n",
                std::string(rawValue(LocalizationManager::shared().current())).c_str());
}

}  // namespace
}  // namespace cb
