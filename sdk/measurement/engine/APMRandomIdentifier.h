#pragma once

#include <string>

// A new random ID: a version-4 UUID without dashes, 32 upper-case hexadecimal characters. App
// instance IDs and the experiment diversion key are made from it. Safe from any thread.
std::string APMRandomIdentifier();
