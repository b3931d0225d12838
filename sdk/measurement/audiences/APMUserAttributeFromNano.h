#pragma once

#include <optional>

#include "sdk/measurement/engine/APMUserAttribute.h"
#include "sdk/measurement/messages/APMPBMessages.h"

// The user property a wire user attribute holds: its string value when it has one, else its
// double, else its integer (a float value alone is not read); its name; its set time in
// milliseconds as seconds; an empty origin. No value without a value, or when the name or value
// fails the internal user property rules.
std::optional<APMUserAttribute> APMUserAttributeFromNano(const APMPBUserAttribute& attribute);
