#include "sdk/measurement/script/APMPConfigurationProgram.h"

#include "platform/bundle/Bundle.h"
#include "sdk/measurement/engine/APMLibraryVersion.h"
#include "sdk/measurement/script/APMPEventEditing.h"
#include "sdk/measurement/script/APMPKeyValueStore.h"
#include "sdk/measurement/script/APMPMessageLogger.h"
#include "sdk/measurement/script/APMPObjectProvider.h"
#include "sdk/measurement/script/APMPixieLogger.h"

namespace {

// The app as programs see it; "app_version" only when the bundle names one.
sdk::Value appMetadata() {
    sdk::Value::Dictionary metadata{
        {"platform", "macos"},
        {"package_name", platform::Bundle::mainBundleIdentifier()},
        {"vud_version", APMLibraryVersion()},
    };
    if (const auto& bundle = platform::Bundle::main()) {
        if (auto version = bundle->infoString("CFBundleShortVersionString")) {
            metadata.emplace("app_version", std::move(*version));
        }
    }
    return sdk::Value(std::move(metadata));
}

}  // namespace

std::shared_ptr<APMPEventEditing> APMPLoadConfigurationProgram(const APMPBProgram& program,
                                                               APMPSettingReader settings,
                                                               sdk::Error* error) {
    auto editing = std::make_shared<APMPEventEditing>();
    editing->setModuleCreator(
        [settings = std::move(settings)] {
            return std::make_shared<APMPKeyValueStore>(u"internal.remoteConfig", settings);
        },
        "internal.remoteConfig");
    editing->setModuleCreator(
        [] { return std::make_shared<APMPObjectProvider>(u"internal.appMetadata", appMetadata); },
        "internal.appMetadata");
    editing->setModuleCreator(
        [] { return std::make_shared<APMPMessageLogger>(std::make_shared<APMPixieLogger>()); },
        "internal.logger");
    sdk::Error loaded = editing->loadProgram(program);
    if (!loaded.ok()) {
        if (error != nullptr) {
            *error = std::move(loaded);
        }
        return nullptr;
    }
    return editing;
}
