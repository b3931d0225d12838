#include "sdk/measurement/experiments/APMEnvironmentInfo.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "sdk/measurement/engine/APMMonitor.h"
#include "sdk/utilities/VDUAppEnvironmentUtil.h"

APMEnvironmentInfo& APMEnvironmentInfo::sharedInstance() {
    // Never destroyed: code running during exit may still ask.
    static APMEnvironmentInfo* const shared = new APMEnvironmentInfo();
    return *shared;
}

const std::string& APMEnvironmentInfo::deviceModel() {
    static const std::string& model = []() -> const std::string& {
        errno = 0;
        const std::string& m = VDUAppEnvironmentUtil::deviceModel();
        if (m.empty()) {
            const int error = errno;
            APMMonitor::shared().logWithLevel(2, 14000, "Failed to get device model",
                                              std::string(std::strerror(error)));
        }
        return m;
    }();
    return model;
}

std::string APMEnvironmentInfo::deviceOSVersion() {
    return VDUAppEnvironmentUtil::systemVersion();
}

std::optional<std::string> APMEnvironmentInfo::userDefaultLanguage() {
    std::optional<std::string> language =
        languageFromEnvironment([](const char* name) { return std::getenv(name); });
    if (!language) {
        APMMonitor::shared().logWithLevel(2, 14001, "Failed to get preferred language");
    }
    return language;
}

std::int32_t APMEnvironmentInfo::timeZoneOffsetMinutes() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    if (localtime_r(&now, &local) == nullptr) {
        return 0;
    }
    return static_cast<std::int32_t>(local.tm_gmtoff / 60);
}

std::optional<std::string> APMEnvironmentInfo::languageFromEnvironment(
    const std::function<const char*(const char*)>& getenv) {
    std::string_view value;
    for (const char* name : {"LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* found = getenv(name);
        if (found != nullptr && *found != '\0') {
            value = found;
            break;
        }
    }
    // LANGUAGE lists several, colon-separated; the others hold one.
    value = value.substr(0, value.find(':'));
    value = value.substr(0, value.find_first_of(".@"));
    if (value.empty() || value == "C" || value == "POSIX") {
        return std::nullopt;
    }
    std::string language(value);
    std::replace(language.begin(), language.end(), '_', '-');
    std::transform(language.begin(), language.end(), language.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return language;
}
