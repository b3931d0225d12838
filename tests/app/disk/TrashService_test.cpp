#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/disk/FailureReason.h"
#include "app/disk/TrashService.h"
#include "app/localization/LocalizationManager.h"
#include "platform/trash/FreedesktopTrash.h"
#include "tests/support/Fixtures.h"
#include "tests/support/TempDir.h"
#include "tests/support/TrashFiles.h"
#include "tests/support/Unprivileged.h"

namespace fs = std::filesystem;
using cb::TrashFailure;

namespace {

using cb::testsupport::isTrashInfo;
using cb::testsupport::listTree;
using cb::testsupport::readText;

constexpr uid_t kNobody = 65534;

// The real Trash, except that chosen items are refused with a chosen reason (an empty reason
// stands for a refusal the system did not explain) and the error number of that text (EIO for
// texts of no system error). Counts the requests it gets.
class RefusingTrash : public platform::Trash {
  public:
    explicit RefusingTrash(fs::path home) : real_(std::move(home), ::getuid()) {}

    std::map<fs::path, std::string> refusals;
    int requests = 0;

    std::vector<platform::TrashedItem> moveToTrash(const std::vector<fs::path>& items) override {
        ++requests;
        std::vector<platform::TrashedItem> results;
        for (const fs::path& item : items) {
            auto refusal = refusals.find(item);
            results.push_back(refusal == refusals.end()
                                  ? real_.moveOne(item)
                                  : platform::TrashedItem{item, std::nullopt,
                                                          errorOf(refusal->second),
                                                          refusal->second});
        }
        return results;
    }

    const fs::path& home() const { return real_.homeTrash(); }

    static int errorOf(const std::string& reason) {
        for (int error : {EACCES, EPERM, ENOSPC, EROFS}) {
            if (reason == std::strerror(error))
                return error;
        }
        return EIO;
    }

  private:
    platform::FreedesktopTrash real_;
};

// A launcher standing in for pkexec; counts how often it is asked.
class CountingRunner : public platform::PrivilegedRunner {
  public:
    using platform::PrivilegedRunner::PrivilegedRunner;
    int runs = 0;
    platform::ProcessResult runShellScript(const std::string& script) override {
        ++runs;
        return platform::PrivilegedRunner::runShellScript(script);
    }
};

class TrashServiceTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        cb::LocalizationManager::shared().setCurrent(cb::Language::english);
    }

    void SetUp() override {
        for (const char* name : {"as-user", "refuse"}) {
            const std::string body = std::string(name) == "as-user"
                                         ? "exec \"$@\"\n"
                                         : "echo 'Error executing command' >&2\nexit 126\n";
            cb::testsupport::writeText(dir_ / name, "#!/bin/sh\n" + body);
            fs::permissions(dir_ / name,
                            fs::perms::owner_all | fs::perms::others_exec | fs::perms::others_read);
        }
        cb::testsupport::makeDir(items_);
    }

    // Opens the items folder to nobody for adding files; it is sticky, so root's item "roots" is
    // not nobody's to move. Returns nobody's home folder.
    fs::path prepareForNobody() {
        dir_.openToEveryone();
        ::chmod(items_.c_str(), 01777);
        cb::testsupport::writeText(items_ / "roots", "r");
        const fs::path home = dir_ / "nobody";
        cb::testsupport::makeDir(home, 0755);
        ::chown(home.c_str(), kNobody, kNobody);
        return home;
    }

    cb::testsupport::TempDir dir_{"cb-trash-service"};
    fs::path items_ = dir_ / "items";
    RefusingTrash trash_{dir_ / "data" / "Trash"};
    CountingRunner asUser_{(dir_ / "as-user").string()};
    CountingRunner refusing_{(dir_ / "refuse").string()};
};

TEST_F(TrashServiceTest, RecycleUsesTheHomeTrashOfXdgDataHome) {
    ::setenv("XDG_DATA_HOME", (dir_ / "xdg").c_str(), 1);
    cb::testsupport::writeText(items_ / "f.txt", "1");
    cb::testsupport::writeText(items_ / "folder" / "f.txt", "2");
    cb::testsupport::writeText(items_ / "other" / "f.txt", "3");
    cb::testsupport::writeText(items_ / "untouched", "u");

    std::vector<cb::RecycleResult> results;
    for (const char* item : {"f.txt", "folder", "other/f.txt"}) {
        results.push_back(cb::recycle(items_ / item));
    }
    ::unsetenv("XDG_DATA_HOME");

    const fs::path home = dir_ / "xdg" / "Trash";
    ASSERT_TRUE(results[0].ok() && results[1].ok() && results[2].ok());
    EXPECT_EQ(*results[0].trashedUrl, home / "files" / "f.txt");
    EXPECT_EQ(*results[1].trashedUrl, home / "files" / "folder");
    EXPECT_EQ(*results[2].trashedUrl, home / "files" / "f.2.txt");
    EXPECT_EQ(readText(home / "files" / "f.2.txt"), "3");
    EXPECT_EQ(listTree(items_), (std::vector<std::string>{"other", "untouched"}));
    for (const char* name : {"f.txt", "folder", "f.2.txt"}) {
        const std::string text = readText(home / "info" / (std::string(name) + ".trashinfo"));
        EXPECT_TRUE(isTrashInfo(text)) << text;
    }
}

TEST_F(TrashServiceTest, RecycleFailsWithTheReasonOrTheAdministratorHintAndNeverEscalates) {
    cb::testsupport::writeText(items_ / "a", "a");
    trash_.refusals[items_ / "a"] = "";
    cb::TrashService service(trash_, trash_.home(), asUser_);

    auto unexplained = service.recycle(items_ / "a");
    ASSERT_TRUE(unexplained.error.has_value());
    EXPECT_EQ(unexplained.error->kind(), cb::TrashError::Kind::failed);
    EXPECT_EQ(unexplained.error->errorDescription(),
              "Could not move to Trash (administrator rights may be required).");

    trash_.refusals[items_ / "a"] = "Permission denied";
    auto refused = service.recycle(items_ / "a");
    EXPECT_EQ(refused.error->errorDescription(), "Permission denied");
    auto missing = service.recycle(items_ / "missing");
    EXPECT_EQ(missing.error->errorDescription(), "No such file or directory");
    EXPECT_EQ(asUser_.runs, 0);
    EXPECT_TRUE(fs::exists(items_ / "a"));
}

TEST_F(TrashServiceTest, BatchWithNothingToMoveSendsNoRequest) {
    cb::TrashService service(trash_, trash_.home(), asUser_);
    auto none = service.recycleBatch({});
    EXPECT_TRUE(none.succeeded.empty());
    EXPECT_TRUE(none.failed.empty());

    auto missing = service.recycleBatch({items_ / "x", items_ / "y"});
    EXPECT_TRUE(missing.succeeded.empty());
    EXPECT_EQ(missing.failed, (std::vector<TrashFailure>{{items_ / "x", "file not found"},
                                                         {items_ / "y", "file not found"}}));
    EXPECT_EQ(trash_.requests, 0);
    EXPECT_EQ(asUser_.runs, 0);
}

TEST_F(TrashServiceTest, BatchSendsOnlyPermissionRefusalsToThePrivilegedMoveAndKeepsTheOrder) {
    const std::vector<std::string> names = {"missing1",     "ok",       "perm",        "full",
                                            "notpermitted", "missing2", "unexplained", "dangling"};
    std::vector<fs::path> items;
    for (const std::string& name : names)
        items.push_back(items_ / name);
    for (const char* name : {"ok", "perm", "full", "notpermitted", "unexplained"}) {
        cb::testsupport::writeText(items_ / name, name);
    }
    cb::testsupport::makeSymlink(items_ / "nowhere", items_ / "dangling");
    trash_.refusals[items_ / "perm"] = "You don't have PERMISSION to move it.";
    trash_.refusals[items_ / "full"] = "No space left on device";
    trash_.refusals[items_ / "notpermitted"] = "Operation not permitted";
    trash_.refusals[items_ / "unexplained"] = "";

    auto result = cb::TrashService(trash_, trash_.home(), asUser_).recycleBatch(items);

    EXPECT_EQ(trash_.requests, 1);
    EXPECT_EQ(asUser_.runs, 1);
    EXPECT_EQ(result.succeeded, (std::vector<fs::path>{items_ / "ok", items_ / "dangling",
                                                       items_ / "perm", items_ / "notpermitted"}));
    EXPECT_EQ(result.failed,
              (std::vector<TrashFailure>{{items_ / "missing1", "file not found"},
                                         {items_ / "missing2", "file not found"},
                                         {items_ / "full", "No space left on device", ENOSPC},
                                         {items_ / "unexplained", "could not move to Trash"}}));
    EXPECT_EQ(listTree(items_), (std::vector<std::string>{"full", "unexplained"}));
}

TEST_F(TrashServiceTest, BatchOneErrorForManyItemsGivesEachTheSameText) {
    // One cause for the whole batch: the home Trash is a link that leads nowhere. The real Trash
    // meets it once per item; each must carry the same text, which names the Trash folder and
    // does not send anything to the administrator prompt.
    cb::testsupport::makeSymlink(dir_ / "gone", trash_.home());
    for (const char* name : {"a", "b", "c"}) {
        cb::testsupport::writeText(items_ / name, name);
    }
    auto result = cb::TrashService(trash_, trash_.home(), asUser_)
                      .recycleBatch({items_ / "a", items_ / "b", items_ / "c"});
    EXPECT_TRUE(result.succeeded.empty());
    ASSERT_EQ(result.failed.size(), 3u);
    const std::string expected = "the Trash folder " + trash_.home().string() +
                                 " is a symbolic link that does not lead to a folder of yours on "
                                 "this disk";
    for (const TrashFailure& failure : result.failed) {
        EXPECT_EQ(failure.reason, expected) << failure.url;
    }
    EXPECT_EQ(trash_.requests, 1);
    EXPECT_EQ(asUser_.runs, 0);
    EXPECT_EQ(listTree(items_), (std::vector<std::string>{"a", "b", "c"}));
}

TEST_F(TrashServiceTest, AnOrdinaryUsersRefusedItemReachesTheDialogAndADismissalKeepsItInPlace) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to build the fixture for nobody";
    const fs::path home = prepareForNobody();

    auto child = cb::testsupport::runUnprivileged([&] {
        cb::testsupport::writeText(items_ / "mine", "m");
        platform::FreedesktopTrash trash(home / "Trash", kNobody);
        CountingRunner refusing((dir_ / "refuse").string());
        auto result = cb::TrashService(trash, trash.homeTrash(), refusing)
                          .recycleBatch({items_ / "missing", items_ / "mine", items_ / "roots"});
        std::string text;
        for (const auto& url : result.succeeded)
            text += "moved " + url.filename().string() + "\n";
        for (const auto& failure : result.failed) {
            text += "failed " + failure.url.filename().string() + ": " + failure.reason + "\n";
        }
        return text + "runs " + std::to_string(refusing.runs);
    });

    EXPECT_EQ(child.exitCode, 0) << child.output;
    EXPECT_EQ(child.output,
              "moved mine\nfailed missing: file not found\nfailed roots: user cancelled password "
              "prompt\nruns 1");
    EXPECT_TRUE(fs::exists(items_ / "roots"));
    EXPECT_TRUE(fs::exists(home / "Trash" / "files" / "mine"));
}

TEST_F(TrashServiceTest, WithoutElevationAnOrdinaryUserGetsTheItemsOwnRefusalInTheirLanguage) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to build the fixture for nobody";
    const fs::path home = prepareForNobody();
    cb::testsupport::writeText(dir_ / "no-agent",
                               "#!/bin/sh\necho 'Error executing command as another user: No "
                               "authentication agent found.' >&2\nexit 127\n");
    fs::permissions(dir_ / "no-agent",
                    fs::perms::owner_all | fs::perms::others_exec | fs::perms::others_read);

    auto child = cb::testsupport::runUnprivileged([&] {
        std::string text;
        for (const char* launcher : {"no-pkexec", "no-agent"}) {
            for (cb::Language language : {cb::Language::english, cb::Language::russian}) {
                cb::LocalizationManager::shared().setCurrent(language);
                platform::FreedesktopTrash trash(home / "Trash", kNobody);
                CountingRunner runner((dir_ / launcher).string());
                auto result = cb::TrashService(trash, trash.homeTrash(), runner)
                                  .recycleBatch({items_ / "roots"});
                text += std::string(launcher) + " runs " + std::to_string(runner.runs) + ":";
                for (const auto& failure : result.failed) {
                    text += " " + failure.url.filename().string() + ": " + failure.reason +
                            (cb::isPermissionError(failure.error) ? " (refused)" : "");
                }
                text += "\n";
            }
        }
        cb::LocalizationManager::shared().setCurrent(cb::Language::english);
        return text;
    });

    EXPECT_EQ(child.exitCode, 0) << child.output;
    EXPECT_EQ(child.output,
              "no-pkexec runs 1: roots: Operation not permitted (refused)\n"
              "no-pkexec runs 1: roots: Операция не позволена (refused)\n"
              "no-agent runs 1: roots: Operation not permitted (refused)\n"
              "no-agent runs 1: roots: Операция не позволена (refused)\n");
    EXPECT_TRUE(fs::exists(items_ / "roots"));
}

TEST_F(TrashServiceTest, ReasonsOfTheItemsOwnFailuresFollowTheInterfaceLanguage) {
    // A single missing item, and a Trash folder that cannot be had, which keeps its sentence.
    cb::testsupport::writeText(items_ / "a", "a");
    cb::testsupport::makeSymlink(dir_ / "gone", trash_.home());
    platform::FreedesktopTrash real(trash_.home(), ::getuid());
    const struct {
        cb::Language language;
        const char* missing;
    } cases[] = {{cb::Language::english, "No such file or directory"},
                 {cb::Language::russian, "Нет такого файла или каталога"},
                 {cb::Language::german, "Datei oder Verzeichnis nicht gefunden"},
                 {cb::Language::chinese, "没有那个文件或目录"}};
    for (const auto& c : cases) {
        cb::LocalizationManager::shared().setCurrent(c.language);
        cb::TrashService service(real, trash_.home(), asUser_);
        EXPECT_EQ(service.recycle(items_ / "missing").error->errorDescription(), c.missing);
        auto batch = service.recycleBatch({items_ / "a"});
        ASSERT_EQ(batch.failed.size(), 1u);
        EXPECT_EQ(batch.failed[0].reason.rfind("the Trash folder ", 0), 0u)
            << batch.failed[0].reason;
        EXPECT_EQ(batch.failed[0].error, 0);
    }
    cb::LocalizationManager::shared().setCurrent(cb::Language::english);
    EXPECT_EQ(asUser_.runs, 0);
}

}  // namespace
