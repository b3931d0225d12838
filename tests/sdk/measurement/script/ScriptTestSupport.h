#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "sdk/measurement/script/APMPError.h"
#include "sdk/measurement/script/APMPNumberValue.h"
#include "sdk/measurement/script/APMPRuntimeValue.h"
#include "sdk/measurement/script/APMPStatementValue.h"
#include "sdk/measurement/script/APMPStringValue.h"
#include "sdk/measurement/script/APMPUnicode.h"

namespace script_test {

inline APMPValueRef Str(std::string_view text) {
    return APMPStringValue::make(APMPFromUTF8(text));
}

inline APMPValueRef Num(double value) {
    return APMPNumberValue::make(value);
}

inline APMPValueRef Call(std::u16string name, APMPValueList arguments) {
    return std::make_shared<APMPStatementValue>(std::move(name), std::move(arguments));
}

// The value's string in UTF-8, or "<error N>" when the conversion fails.
inline std::string StringOf(const APMPRuntimeValue& value) {
    sdk::Error error;
    const std::u16string text = value.stringValueOrError(error);
    return error.ok() ? APMPToUTF8(text) : "<error " + std::to_string(error.code()) + ">";
}

inline bool IsScriptError(const sdk::Error& error, APMPErrorCode code) {
    return APMPIsError(error, code);
}

}  // namespace script_test
