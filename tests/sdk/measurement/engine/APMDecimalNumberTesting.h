#pragma once

#include <optional>
#include <string>

#include "sdk/measurement/engine/APMDecimalNumber.h"

// Test only (defined in sdk/measurement/engine/APMDecimalNumber.cpp): compiles `pattern` in
// place of the decimal-number expression from the next call on; no value restores it. Any
// thread.
void TEST_setDecimalNumberPattern(std::optional<std::string> pattern);
