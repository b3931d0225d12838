#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "sdk/measurement/messages/APMPBMessages.h"
#include "sdk/utilities/Error.h"

class APMPEventEditing;

// Reads a setting of the remote configuration as its cached text; none when it has none.
using APMPSettingReader = std::function<std::optional<std::string>(std::string_view key)>;

// The editing instance of a configuration's program: a fresh APMPEventEditing with the modules a
// configuration's programs may require ("internal.remoteConfig" answering from `settings` as
// they stand when the program asks, "internal.appMetadata" with the app as programs see it,
// "internal.logger" through the script logger), with `program` loaded. Null, with `error` set,
// when the program cannot load. The remote configuration is handed this function by the engine.
std::shared_ptr<APMPEventEditing> APMPLoadConfigurationProgram(const APMPBProgram& program,
                                                               APMPSettingReader settings,
                                                               sdk::Error* error);
