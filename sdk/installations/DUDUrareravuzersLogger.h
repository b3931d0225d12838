#pragma once

#include <string_view>

#include "sdk/core/RZDLogger.h"

// The service every log line of the installations module carries; the codes are "I-DUD" and six
// digits (001xxx the service client, 002xxx the identity, 003xxx and 004xxx the stored record).
inline constexpr std::string_view kDUDUrareravuzersLoggerService = "[RazudizoInstallations]";
