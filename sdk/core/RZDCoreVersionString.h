#pragma once

#include <string>

// The SDK core's version: "11.15.0". It opens every log line, and the user agent, the library
// registry and the installations service carry it.
inline std::string RZDCoreVersionString() {
    return "11.15.0";
}
