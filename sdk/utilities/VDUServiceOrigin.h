#pragma once

#include <optional>
#include <string>
#include <string_view>

// The origins of the SDK's services (scheme, host and port, nothing else) as a deployment sets
// them in the environment, one variable per service. Without one a service keeps its built-in
// address.
//
// An origin is "https://" followed by a host and an optional port; "http://" is taken only for
// a loopback host ("localhost", 127.0.0.0/8, "[::1]"), where nothing travels off the machine.
// No user information, path, query or fragment (one trailing "/" is allowed and dropped).

// The environment variables, one per service.
inline constexpr const char* kVDUMeasurementOriginVariable = "CELLARBRIGHT_MEASUREMENT_API_BASE";
inline constexpr const char* kVDUConfigurationOriginVariable =
    "CELLARBRIGHT_CONFIGURATION_API_BASE";
inline constexpr const char* kVDUExperimentsOriginVariable = "CELLARBRIGHT_EXPERIMENTS_API_BASE";
inline constexpr const char* kVDUInstallationsOriginVariable =
    "CELLARBRIGHT_INSTALLATIONS_API_BASE";

// `text` as an origin: scheme and host in lower case, no trailing "/"; none when it is not one
// by the rules above.
std::optional<std::string> VDUParseServiceOrigin(std::string_view text);

// The origin named by the environment variable `variable`, read on the first call for that
// variable and kept for the rest of the run. Unset or empty: none. Another value that is not an
// origin logs a warning (I-VDU000100, with the variable's name) and gives none. Thread-safe.
std::optional<std::string> VDUServiceOriginFromEnvironment(const char* variable);
