// script_program_fuzz: arbitrary bytes decoded as a Program; every entity of it (top-level
// instructions and activity data) is converted, and the instructions run in a fresh runtime.
// Nothing may crash, leak, hang or trip a sanitizer.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <variant>

#include "sdk/measurement/messages/APMPBAccessors.h"
#include "sdk/measurement/messages/APMPBMessages.h"
#include "sdk/measurement/messages/MessageLog.h"
#include "sdk/measurement/script/APMPRuntime.h"
#include "sdk/measurement/script/APMPRuntimeEntityConverter.h"

namespace {

void convertAll(const APMPBRepeatedArray& entities) {
    for (const auto& element : entities) {
        if (const auto* entity = std::get_if<std::shared_ptr<NANOMessageBase>>(&element)) {
            sdk::Error error;
            APMPRuntimeEntityConverter::runtimeValueFromRuntimeEntity(**entity, error);
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The codec's diagnostics would only slow the fuzzer down.
    apmpb::MessageLog::setCodecSink([](std::string_view) {});
    apmpb::MessageLog::setAccessorSink([](std::string_view) {});
    const auto program = APMPBProgram::initWithBuffer(std::span(data, size));
    if (!program) {
        return 0;
    }
    const auto instructions =
        APMPBGetRepeated<APMPBRuntimeEntity>(program.get(), apmpb::Program::kInstructions);
    convertAll(instructions.value_or(APMPBRepeatedArray{}));
    if (const auto activities =
            APMPBGetMessage<APMPBOgtActivities>(program.get(), apmpb::Program::kOgtActivities)) {
        const auto list =
            APMPBGetRepeated<APMPBOgtActivity>(activities.get(), apmpb::OgtActivities::kActivities);
        for (const auto& element : list.value_or(APMPBRepeatedArray{})) {
            if (const auto* activity = std::get_if<std::shared_ptr<NANOMessageBase>>(&element)) {
                convertAll(
                    APMPBGetRepeated<APMPBRuntimeEntity>(activity->get(), apmpb::OgtActivity::kData)
                        .value_or(APMPBRepeatedArray{}));
            }
        }
    }
    APMPRuntime runtime;
    sdk::Error error;
    runtime.executeStatements(instructions.value_or(APMPBRepeatedArray{}), error);
    runtime.collectGarbage();
    return 0;
}
