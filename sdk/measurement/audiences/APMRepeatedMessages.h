#pragma once

#include <cstdint>
#include <memory>
#include <variant>
#include <vector>

#include "sdk/measurement/messages/APMPBAccessors.h"

// The elements of a repeated message slot of `message` as wrappers of class W, in order; empty
// for a null message.
template <class W>
std::vector<std::shared_ptr<W>> APMRepeatedMessagesOf(const NANOMessageBase* message,
                                                      std::int32_t slot) {
    std::vector<std::shared_ptr<W>> elements;
    if (message == nullptr) {
        return elements;
    }
    for (const APMPBRepeatedElement& element :
         APMPBGetRepeated<W>(message, slot).value_or(APMPBRepeatedArray{})) {
        if (const auto* wrapper = std::get_if<std::shared_ptr<NANOMessageBase>>(&element)) {
            if (auto typed = std::dynamic_pointer_cast<W>(*wrapper)) {
                elements.push_back(std::move(typed));
            }
        }
    }
    return elements;
}
