#include "app/localization/LocalizationManager.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <cstdlib>
#include <vector>

namespace cb {
namespace {

TEST(LanguageTest, RawValuesRoundTripAndOthersAreRejected) {
    for (Language language : kAllLanguages) {
        EXPECT_EQ(languageFromRawValue(rawValue(language)), language);
    }
    for (const char* other : {"EN", "De", "fr", "en-US", "", " ru"}) {
        EXPECT_FALSE(languageFromRawValue(other).has_value()) << other;
    }
    EXPECT_EQ(nativeName(Language::chinese), "中文");
}

TEST(LanguageTest, SystemDefaultTakesTheFirstKnownPrimaryLanguage) {
    struct Case {
        std::vector<std::string> preferred;
        Language expected;
    };
    const Case cases[] = {
        {{"fr-FR", "de-DE", "en-US"}, Language::german},
        {{"en-US", "ru-RU"}, Language::english},
        {{"ja-JP"}, Language::english},
        {{}, Language::english},
        {{"zh-Hans-CN"}, Language::chinese},
        {{"de-AT"}, Language::german},
        {{"EN-GB", "ru"}, Language::english},
        {{"pt-BR", "ru"}, Language::russian},
        {{"-", "--de--x"}, Language::german},
        {{"", "zh"}, Language::chinese},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(systemDefaultLanguage(c.preferred), c.expected)
            << (c.preferred.empty() ? "(empty)" : c.preferred.front());
    }
}

TEST(LanguageTest, LocaleNamesBecomeLanguageTags) {
    EXPECT_EQ(languageTagFromLocaleName("de_AT.UTF-8"), "de-AT");
    EXPECT_EQ(languageTagFromLocaleName("sr_RS@latin"), "sr-RS");
    EXPECT_EQ(languageTagFromLocaleName("ru"), "ru");
    EXPECT_EQ(languageTagFromLocaleName("C.UTF-8"), "");
    EXPECT_EQ(languageTagFromLocaleName("POSIX"), "");
}

// Sets the locale variables for one test and restores them afterwards.
class LocaleEnvironment {
  public:
    LocaleEnvironment() {
        for (const char* name : kNames) {
            const char* value = std::getenv(name);
            saved_.emplace_back(name, value ? std::optional<std::string>(value) : std::nullopt);
            unsetenv(name);
        }
    }
    ~LocaleEnvironment() {
        for (auto& [name, value] : saved_) {
            if (value) {
                setenv(name, value->c_str(), 1);
            } else {
                unsetenv(name);
            }
        }
    }
    void set(const char* name, const char* value) { setenv(name, value, 1); }

  private:
    static constexpr const char* kNames[] = {"LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG"};
    std::vector<std::pair<const char*, std::optional<std::string>>> saved_;
};

TEST(LanguageTest, PreferredLanguagesFollowTheLocaleVariables) {
    {
        LocaleEnvironment env;
        env.set("LANG", "de_AT.UTF-8");
        EXPECT_EQ(systemPreferredLanguages(), std::vector<std::string>{"de-AT"});
        env.set("LC_MESSAGES", "ru_RU.UTF-8");
        EXPECT_EQ(systemPreferredLanguages(), std::vector<std::string>{"ru-RU"});
        env.set("LANGUAGE", "fr:zh_CN");
        EXPECT_EQ(systemPreferredLanguages(), (std::vector<std::string>{"fr", "zh-CN", "ru-RU"}));
        EXPECT_EQ(systemDefaultLanguage(systemPreferredLanguages()), Language::chinese);
    }
    {
        LocaleEnvironment env;
        env.set("LANGUAGE", "de");
        env.set("LC_ALL", "C");  // a "C" message locale ignores LANGUAGE
        EXPECT_TRUE(systemPreferredLanguages().empty());
    }
}

TEST(LocalizationManagerTest, TextFallsBackFromCurrentToEnglishToTheKey) {
    LocalizationManager manager(nullptr, {"de-DE"});
    EXPECT_EQ(manager.current(), Language::german);
    EXPECT_EQ(manager.text("common.cancel"), "Abbrechen");
    for (Language language : kAllLanguages) {
        manager.setCurrent(language);
        EXPECT_EQ(manager.text("no.such.key"), "no.such.key");
        EXPECT_EQ(manager.text("COMMON.CANCEL"), "COMMON.CANCEL");
        EXPECT_EQ(manager.text(""), "");
    }
    manager.setCurrent(Language::russian);
    EXPECT_EQ(manager.text("common.cancel"), "Отмена");
    EXPECT_EQ(manager.format("fda.banner.title", {12}), "Некоторые папки пропущены (12)");
    EXPECT_EQ(manager.qformat("uninstall.confirmTitle", {"Заметки"}),
              QString::fromUtf8("Удалить Заметки?"));
}

TEST(LocalizationManagerTest, EveryAssignmentIsAnnouncedAndObserversStartWithTheCurrentValue) {
    LocalizationManager manager(nullptr, {"en-US"});
    std::vector<Language> seen;
    QObject context;
    manager.observeCurrent(&context, [&](Language language) { seen.push_back(language); });
    manager.setCurrent(Language::chinese);
    manager.setCurrent(Language::chinese);
    EXPECT_EQ(seen,
              (std::vector<Language>{Language::english, Language::chinese, Language::chinese}));
    EXPECT_EQ(manager.qtext("common.cancel"), QString::fromUtf8("取消"));
}

}  // namespace
}  // namespace cb
