#include "sdk/utilities/VDUSwizzler.h"

#include <map>
#include <optional>
#include <string>
#include <tuple>

#include "platform/dispatch/DispatchQueue.h"
#include "sdk/utilities/AssertionHandler.h"
#include "sdk/utilities/FormatString.h"
#include "sdk/utilities/VDUHookSlot.h"

namespace {

constexpr std::string_view kFile = "VDUSwizzler";

using SlotKey = std::tuple<std::string, std::string, bool>;  // class, selector, class method

// The registry of hook slots and the queue that guards it.
struct SwizzlerState {
    platform::QueueRef queue = platform::DispatchQueue::createSerial("com.vovidu.VDUSwizzler");
    std::map<SlotKey, std::weak_ptr<VDUHookSlotBase>> slots;  // touched only on queue
};

SwizzlerState& swizzlerState() {
    static SwizzlerState& state = *new SwizzlerState();  // lives for the process
    return state;
}

// Runs on the queue: the live slot under the key, or null.
std::shared_ptr<VDUHookSlotBase> findSlot(SwizzlerState& state, std::string_view className,
                                          std::string_view selector, bool isClassSelector) {
    const auto it =
        state.slots.find(SlotKey(std::string(className), std::string(selector), isClassSelector));
    return it == state.slots.end() ? nullptr : it->second.lock();
}

// Checks the names every call needs; false after reporting a missing one.
bool namesPresent(std::string_view className, std::string_view selector) {
    if (selector.empty()) {
        sdk::handleAssertionFailure(kFile, "The selector cannot be NULL");
        return false;
    }
    if (className.empty()) {
        sdk::handleAssertionFailure(kFile, "The class cannot be Nil");
        return false;
    }
    return true;
}

// Reports `format` filled with the class and selector names.
void assertWithNames(std::string_view format, std::string_view className,
                     std::string_view selector) {
    sdk::handleAssertionFailure(
        kFile, sdk::formatString(format, {{sdk::FormatArg(className), sdk::FormatArg(selector)}}));
}

}  // namespace

void VDUSwizzler::swizzleClass(std::string_view className, std::string_view selector,
                               bool isClassSelector, const VDUImplementation& block) {
    if (!namesPresent(className, selector)) {
        return;
    }
    if (!block) {
        sdk::handleInvalidParameter(kFile, "block");
        return;
    }
    enum class Outcome { kReplaced, kNoMethod, kWrongSignature } outcome = Outcome::kReplaced;
    SwizzlerState& state = swizzlerState();
    state.queue->sync([&] {
        const std::shared_ptr<VDUHookSlotBase> slot =
            findSlot(state, className, selector, isClassSelector);
        if (!slot) {
            outcome = Outcome::kNoMethod;
        } else if (slot->signature() != block.signature()) {
            outcome = Outcome::kWrongSignature;
        } else {
            slot->setImplementation(block);
        }
    });
    // Reported here, not on the queue: the assertion handler is the calling thread's.
    if (outcome == Outcome::kNoMethod) {
        assertWithNames("You're attempting to swizzle a method that doesn't exist. (%@, %@)",
                        className, selector);
    } else if (outcome == Outcome::kWrongSignature) {
        assertWithNames("The block does not have the signature of the method. (%@, %@)", className,
                        selector);
    }
}

VDUImplementation VDUSwizzler::currentImplementationForClass(std::string_view className,
                                                             std::string_view selector,
                                                             bool isClassSelector) {
    if (!namesPresent(className, selector)) {
        return {};
    }
    std::optional<VDUImplementation> current;
    SwizzlerState& state = swizzlerState();
    state.queue->sync([&] {
        if (const auto slot = findSlot(state, className, selector, isClassSelector)) {
            current = slot->implementation();
        }
    });
    if (!current) {
        assertWithNames("The Method for this class/selector combo doesn't exist (%@, %@).",
                        className, selector);
        return {};
    }
    return *current;
}

bool VDUSwizzler::selectorExistsInClass(std::string_view selector, std::string_view className,
                                        bool isClassSelector) {
    bool exists = false;
    SwizzlerState& state = swizzlerState();
    state.queue->sync(
        [&] { exists = findSlot(state, className, selector, isClassSelector) != nullptr; });
    return exists;
}

void VDUSwizzler::registerSlot(const std::shared_ptr<VDUHookSlotBase>& slot) {
    SwizzlerState& state = swizzlerState();
    state.queue->sync([&] {
        std::erase_if(state.slots, [](const auto& entry) { return entry.second.expired(); });
        state.slots.insert_or_assign(
            SlotKey(slot->className(), slot->selector(), slot->isClassSelector()), slot);
    });
}
