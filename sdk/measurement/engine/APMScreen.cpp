#include "sdk/measurement/engine/APMScreen.h"

#include "sdk/measurement/engine/APMDataTypeValidator.h"
#include "sdk/measurement/engine/APMMonitor.h"

namespace {

bool isValid(const std::optional<std::string>& value, std::int32_t maxValueLength,
             std::uint64_t* failureCode) {
    return value &&
           APMDataTypeValidator::isValidScreenParameterValue(*value, maxValueLength, failureCode);
}

}  // namespace

APMParameters APMScreenParameters(const APMScreen& screen, std::int32_t maxValueLength) {
    APMParameters parameters{{"_si", APMValue(screen.instanceID())}};
    const std::optional<std::string>& className = screen.className();
    if (!className || className->empty()) {
        APMMonitor::shared().logWithLevel(3, 31014, "Screen class name is empty");
    }
    if (className) {
        std::uint64_t failure = 0;
        if (!isValid(className, maxValueLength, &failure)) {
            APMMonitor::shared().logWithLevel(3, 31015, "Screen class name is invalid. Error code",
                                              static_cast<std::int64_t>(failure));
            return parameters;
        }
        parameters.emplace("_sc", APMValue(*className));
    }
    std::uint64_t failure = 0;
    if (isValid(screen.name(), maxValueLength, &failure)) {
        parameters.emplace("_sn", APMValue(*screen.name()));
    }
    return parameters;
}

APMParameters APMPreviousScreenParameters(const APMScreen& screen, std::int32_t maxValueLength) {
    APMParameters parameters{{"_pi", APMValue(screen.instanceID())}};
    std::uint64_t failure = 0;
    if (isValid(screen.className(), maxValueLength, &failure)) {
        parameters.emplace("_pc", APMValue(*screen.className()));
    }
    if (isValid(screen.name(), maxValueLength, &failure)) {
        parameters.emplace("_pn", APMValue(*screen.name()));
    }
    return parameters;
}
