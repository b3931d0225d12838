#pragma once

#include <filesystem>
#include <optional>

#include "sdk/measurement/engine/APMAEU.h"

// Test only (defined in sdk/measurement/engine/APMAEU.cpp): makes APMAEU::appStoreRURL()
// answer `url` in the whole process; no value goes back to none. Any thread.
void TEST_APMSetAppStoreRURL(std::optional<std::filesystem::path> url);
