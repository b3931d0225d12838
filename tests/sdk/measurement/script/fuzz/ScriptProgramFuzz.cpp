// script_program_fuzz: arbitrary bytes decoded as a Program; every entity of it (top-level
// instructions and activity data) is converted, then the program is loaded into a fresh editing
// instance (stand-in host modules, no logger: it would reach the engine's monitor) and one
// event runs through whatever callbacks it registered. Nothing may crash, leak, hang or trip a
// sanitizer.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <variant>

#include "EditingTestSupport.h"
#include "sdk/measurement/messages/APMPBAccessors.h"
#include "sdk/measurement/messages/APMPBMessages.h"
#include "sdk/measurement/messages/MessageLog.h"
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
    const auto editing = script_test::MakeEditingWithStandInModules(/*withLogger=*/false);
    if (!editing->loadProgram(*program).ok()) {
        return 0;
    }
    sdk::Error error;
    editing->handleEvent(
        APMPEvent("purchase", 1700000000.5, {{"i", 2}, {"d", 2.5}, {"s", "x"}, {"_syn", 1}}),
        error);
    return 0;
}
