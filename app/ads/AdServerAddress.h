#pragma once

#include <QUrl>
#include <optional>
#include <string>
#include <string_view>

#include "app/localization/Language.h"

namespace cb {

// The ad server's address when CELLARBRIGHT_API_BASE names none: a placeholder under the
// reserved ".invalid" domain, so a build without a configured server never reaches a real host.
inline constexpr std::string_view kDefaultAdServerBaseURL = "https://ads.cellarbright.invalid";

// Returns the ad server's base address: the value of CELLARBRIGHT_API_BASE when it parses as a
// URL (parseURL, taken unchanged), else kDefaultAdServerBaseURL. The environment is read once
// per process, on the first call; later changes to it have no effect. Thread-safe.
QUrl adServerBaseURL();

// Makes the next adServerBaseURL() read the environment again. Tests only.
void TEST_resetAdServerBaseURL();

// Returns the main bundle's "CFBundleShortVersionString" when it is a string, else "0.0.0"
// (also when the program does not run from a bundle). Read anew at each call.
std::string appVersionString();

// Returns the address of the current-ad request: `base` with its path replaced by
// "/api/v1/ads/current" and its query by "locale", "app_version", "app_id" = "cellarbright" and
// "protocol" = "1", in that order, values percent-encoded. Returns nullopt when the result is
// not a valid URL.
std::optional<std::string> currentAdAddress(const QUrl& base, Language locale,
                                            std::string_view appVersion);

// Returns the address of the direct click report: the path of `base` without its trailing
// slashes, then "/api/v1/ads/", the ad's `id` as one path segment, then "/click". In `id` only
// unreserved characters stay as they are; "." and ".." are encoded in full, so no id can name
// another path of the server.
std::string clickReportAddress(const QUrl& base, std::string_view id);

}  // namespace cb
