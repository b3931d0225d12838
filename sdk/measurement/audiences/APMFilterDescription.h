#pragma once

#include <string>

#include "sdk/measurement/engine/APMValue.h"
#include "sdk/measurement/messages/APMPBMessages.h"

// Short one-line texts of filter messages and parameters for monitor contexts, e.g.
// "APMPBNumberFilter{type=3 value=0.3}". Fields that are absent are left out.
std::string APMDescribeNumberFilter(const APMPBNumberFilter& filter);
std::string APMDescribeStringFilter(const APMPBStringFilter& filter);
std::string APMDescribeFilter(const APMPBFilter& filter);
// "{name=value, ...}" in name order.
std::string APMDescribeParameters(const APMParameters& parameters);
