#include "app/views/FullDiskAccessPrompt.h"

#include <QPushButton>

#include "tests/app/views/ScreenTestSupport.h"

namespace cb {
namespace {

using test::buttonText;
using test::labelText;

class FullDiskAccessPromptTest : public ::testing::Test {
  protected:
    void SetUp() override { test::app(); }

    std::unique_ptr<FullDiskAccessPrompt> promptFor(std::filesystem::path url) {
        return std::make_unique<FullDiskAccessPrompt>(
            std::move(url), [this] { ++opens; }, [this] { ++continues; }, [this] { ++cancels; },
            loc);
    }

    LocalizationManager loc{nullptr, {"en"}};
    int opens = 0;
    int continues = 0;
    int cancels = 0;
};

TEST_F(FullDiskAccessPromptTest, ShowsTheTextsStepsAndPath) {
    auto prompt = promptFor("/");
    EXPECT_EQ(labelText(prompt.get(), "title"), "Full Disk Access required");
    EXPECT_EQ(labelText(prompt.get(), "body"),
              "To analyze this location correctly, Cellarbright needs permission in System "
              "Settings.");
    EXPECT_EQ(labelText(prompt.get(), "step1"), "Click “Open Settings”");
    EXPECT_EQ(labelText(prompt.get(), "step2"),
              "Enable the toggle next to “Cellarbright” under Full Disk Access");
    EXPECT_EQ(labelText(prompt.get(), "step3"), "Return here and press “Continue”");
    EXPECT_EQ(labelText(prompt.get(), "path"), "Path: /");
    EXPECT_EQ(buttonText(prompt.get(), "cancel"), "Cancel");
    EXPECT_EQ(buttonText(prompt.get(), "continueAnyway"), "Continue without access");
    EXPECT_EQ(buttonText(prompt.get(), "openSettings"), "Open Settings");
    for (const char* badge : {"badge1", "badge2", "badge3"}) {
        EXPECT_NE(prompt->findChild<QWidget*>(badge), nullptr) << badge;
    }
}

TEST_F(FullDiskAccessPromptTest, ReturnOpensSettingsWithoutClosingAndEscapeCancels) {
    auto prompt = promptFor("/Users/alice");
    test::showActive(prompt.get());
    for (int i = 0; i < 3; ++i) {
        QTest::keyClick(prompt.get(), Qt::Key_Return);
    }
    prompt->findChild<QPushButton*>("openSettings")->click();
    EXPECT_EQ(opens, 4);
    EXPECT_TRUE(prompt->isVisible());
    EXPECT_EQ(continues, 0);
    EXPECT_EQ(cancels, 0);
    QTest::keyClick(prompt.get(), Qt::Key_Escape);
    EXPECT_EQ(cancels, 1);
    EXPECT_EQ(continues, 0) << "Continue without access has no key";
    prompt->findChild<QPushButton*>("continueAnyway")->click();
    EXPECT_EQ(continues, 1);
}

TEST_F(FullDiskAccessPromptTest, LongPathKeepsItsBeginningAndEndOnTwoLines) {
    std::string path = "/Users/alice";
    for (int i = 0; i < 30; ++i) {
        path += "/nested-folder-" + std::to_string(i);
    }
    path += "/Target";
    auto prompt = promptFor(path);
    test::showActive(prompt.get());
    auto* line = prompt->findChild<MiddleElidedLabel*>("path");
    ASSERT_NE(line, nullptr);
    EXPECT_TRUE(line->isElided());
    const QStringList lines = line->text().split(u'\n');
    ASSERT_EQ(lines.size(), 2);
    EXPECT_TRUE(lines.front().startsWith("Path: /Users/alice/"));
    EXPECT_TRUE(lines.back().endsWith("/Target"));
    EXPECT_EQ(prompt->width(), 500);
}

TEST_F(FullDiskAccessPromptTest, LanguageSwitchReplacesEveryText) {
    auto prompt = promptFor("/Users/alice/Library");
    test::savePng(prompt.get(), "fda-prompt-en.png");
    loc.setCurrent(Language::german);
    EXPECT_EQ(labelText(prompt.get(), "title"), loc.qtext("fda.prompt.title"));
    EXPECT_EQ(labelText(prompt.get(), "step2"), loc.qtext("fda.step.toggle"));
    EXPECT_EQ(labelText(prompt.get(), "path"), "Pfad: /Users/alice/Library");
    EXPECT_EQ(buttonText(prompt.get(), "cancel"), "Abbrechen");
    EXPECT_EQ(buttonText(prompt.get(), "continueAnyway"), "Ohne Zugriff fortfahren");
    EXPECT_EQ(buttonText(prompt.get(), "openSettings"), "Einstellungen öffnen");
    test::savePng(prompt.get(), "fda-prompt-de.png");
}

}  // namespace
}  // namespace cb
