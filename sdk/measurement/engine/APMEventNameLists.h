#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>

#include "sdk/measurement/engine/APMEventNames.h"
#include "sdk/measurement/engine/APMValue.h"

// The fixed name tables of the event pipeline besides the event name maps (APMEventNames.h):
// the error code names, the ecommerce and item parameter lists and the small name tests over
// them. Built once and shared read-only; safe from any thread.

using APMNameMap = std::map<std::string, std::string, std::less<>>;

// Error code -> name, 25 entries (none for 24-27).
const std::map<std::int64_t, std::string>& APMErrorCodeNames();

bool APMIsEcommerceEvent(std::string_view name);
// Names that do not count as custom parameters inside an item.
bool APMIsItemParameter(std::string_view name);
bool APMIsPurchaseEvent(std::string_view name);
// Events marked as conversions when they are written.
bool APMIsDefaultConversionEvent(std::string_view name);
bool APMIsNotErrorName(std::string_view name);

// Any of "_si", "_sc", "_sn" present.
bool APMHasScreenParameters(const APMParameters& parameters);
// Those of "_si", "_sc", "_sn" that are present.
APMParameters APMScreenParametersFromEvent(const APMParameters& parameters);
// A copy without the names that begin with "cad_".
APMParameters APMRemoveGADParameters(const APMParameters& parameters);
// Some value is an array.
bool APMHasArrayParameter(const APMParameters& parameters);

// English collation order of two optional names (none sorts first): -1, 0 or 1.
int APMCompareEnglish(const std::string* a, const std::string* b);
