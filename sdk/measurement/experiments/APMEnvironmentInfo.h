#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

// The device facts a measurement bundle and an experiment request carry.
//
// Thread-safety: every member may be called from any thread; the device model is computed once.
class APMEnvironmentInfo {
  public:
    static APMEnvironmentInfo& sharedInstance();

    // The device model of the install-environment probe, computed once; an empty model logs
    // 14000 with the system's error text.
    const std::string& deviceModel();
    // The system version ("major.minor", then ".patch" when the patch is not 0).
    std::string deviceOSVersion();
    // The user's first preferred language, lower-cased with '-' between its parts ("en-us");
    // none (logging 14001) when there is none or it is "C" or "POSIX".
    std::optional<std::string> userDefaultLanguage();
    // The local time zone's offset from GMT, in minutes.
    std::int32_t timeZoneOffsetMinutes();

    // The language rule above over `getenv`: the first non-empty of LANGUAGE (its first entry),
    // LC_ALL, LC_MESSAGES and LANG, without encoding or modifier. Exposed for tests.
    static std::optional<std::string> languageFromEnvironment(
        const std::function<const char*(const char*)>& getenv);

  private:
    APMEnvironmentInfo() = default;
};
