#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "sdk/measurement/script/APMPEventEditing.h"
#include "sdk/measurement/script/APMPKeyValueStore.h"
#include "sdk/measurement/script/APMPMessageLogger.h"
#include "sdk/measurement/script/APMPObjectProvider.h"
#include "sdk/measurement/script/APMPRuntime.h"

namespace script_test {

// The settings the stand-in "internal.remoteConfig" answers.
inline const std::map<std::string, std::string, std::less<>>& StandInSettings() {
    static const std::map<std::string, std::string, std::less<>> settings{
        {"measurement.custom", "text"},
        {"measurement.number", "60"},
    };
    return settings;
}

// An editing instance over `runtime` with stand-ins for the modules the remote configuration
// installs: a fixed settings table, fixed app metadata and, when `withLogger`, the real script
// logger (which reaches the engine's monitor; without it "internal.logger" is unknown). A test
// that watches the collector makes the runtime itself and keeps its object manager.
inline std::unique_ptr<APMPEventEditing> MakeEditingWithStandInModules(
    bool withLogger = true,
    std::unique_ptr<APMPRuntime> runtime = std::make_unique<APMPRuntime>()) {
    auto editing = std::make_unique<APMPEventEditing>(std::move(runtime));
    editing->setModuleCreator(
        [] {
            return std::make_shared<APMPKeyValueStore>(
                u"internal.remoteConfig", [](std::string_view key) -> std::optional<std::string> {
                    const auto found = StandInSettings().find(key);
                    return found == StandInSettings().end() ? std::nullopt
                                                            : std::optional(found->second);
                });
        },
        "internal.remoteConfig");
    editing->setModuleCreator(
        [] {
            return std::make_shared<APMPObjectProvider>(u"internal.appMetadata", [] {
                return sdk::Value(sdk::Value::Dictionary{{"platform", "macos"},
                                                         {"package_name", "com.example.app"},
                                                         {"vud_version", 111500},
                                                         {"app_version", "1.2"}});
            });
        },
        "internal.appMetadata");
    if (withLogger) {
        editing->setModuleCreator(
            [] { return std::make_shared<APMPMessageLogger>(std::make_shared<APMPixieLogger>()); },
            "internal.logger");
    }
    return editing;
}

}  // namespace script_test
