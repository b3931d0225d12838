// The device facts: the language rule over the locale variables, and the live values.
#include "sdk/measurement/experiments/APMEnvironmentInfo.h"

#include <gtest/gtest.h>

#include <map>

#include "tests/sdk/measurement/MonitorRecorder.h"
#include "tests/sdk/utilities/UtilitiesTestSupport.h"

namespace {

TEST(APMEnvironmentInfoTest, LanguageComesFromTheFirstLocaleVariableSet) {
    struct Case {
        std::map<std::string, std::string> environment;
        std::optional<std::string> expected;
    };
    const Case cases[] = {
        {{{"LANG", "en_US.UTF-8"}}, "en-us"},
        {{{"LANG", "de_DE@euro"}}, "de-de"},
        {{{"LANGUAGE", "fr_CA:en"}, {"LANG", "en_US.UTF-8"}}, "fr-ca"},
        {{{"LANGUAGE", ""}, {"LC_ALL", "pt_BR.UTF-8"}, {"LANG", "en_US"}}, "pt-br"},
        {{{"LC_MESSAGES", "sr_RS.UTF-8@latin"}, {"LANG", "en"}}, "sr-rs"},
        {{{"LANG", "C"}}, std::nullopt},
        {{{"LC_ALL", "C.UTF-8"}, {"LANG", "en_US"}}, std::nullopt},
        {{{"LANG", "POSIX"}}, std::nullopt},
        {{}, std::nullopt},
    };
    for (const Case& c : cases) {
        const auto language = APMEnvironmentInfo::languageFromEnvironment([&](const char* name) {
            const auto found = c.environment.find(name);
            return found == c.environment.end() ? nullptr : found->second.c_str();
        });
        EXPECT_EQ(language, c.expected) << c.expected.value_or("(none)");
    }
}

TEST(APMEnvironmentInfoTest, LiveValues) {
    sdktest::MonitorRecorder recorder;
    APMEnvironmentInfo& info = APMEnvironmentInfo::sharedInstance();
    EXPECT_FALSE(info.deviceModel().empty());
    EXPECT_EQ(&info.deviceModel(), &info.deviceModel());
    EXPECT_FALSE(info.deviceOSVersion().empty());
    {
        sdktest::ScopedEnv lang("LANG", "C");
        sdktest::ScopedEnv all("LC_ALL", "");
        sdktest::ScopedEnv messages("LC_MESSAGES", "");
        sdktest::ScopedEnv language("LANGUAGE", "");
        EXPECT_EQ(info.userDefaultLanguage(), std::nullopt);
        EXPECT_TRUE(recorder.saw(14001));
    }
    {
        sdktest::ScopedEnv tz("TZ", "UTC-5:30");  // POSIX sign: east of Greenwich
        tzset();
        EXPECT_EQ(info.timeZoneOffsetMinutes(), 330);
    }
    tzset();
}

}  // namespace
