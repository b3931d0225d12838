#pragma once

#include <memory>
#include <string_view>

#include "sdk/utilities/VDUImplementation.h"

class VDUHookSlotBase;

// Replaces the implementation of a method with another function, in place of the platform's
// method replacement: the methods that can be replaced are the hook slots that classes declare
// (see VDUHookSlot), found by class name, selector and kind (class or instance method).
//
// A broken precondition is reported through the calling thread's assertion handler (see
// AssertionHandler.h) with the texts below; when an installed handler returns, the call does
// nothing (and a lookup gives the null implementation).
//
// Thread-safety: every replacement and lookup runs on one serial queue, "com.vovidu.VDUSwizzler",
// entered synchronously, so they may be made from any thread.
//
// There is no listing of an object's member variables: C++ has no reflection of them, and
// nothing here needs one.
class VDUSwizzler {
  public:
    VDUSwizzler() = delete;

    // Makes `block` the implementation of the method. Asserts "The selector cannot be NULL"
    // (empty selector), "The class cannot be Nil" (empty class name), "Invalid parameter not
    // satisfying: block" (null block), "You're attempting to swizzle a method that doesn't exist.
    // (<class>, <selector>)" (no slot) and "The block does not have the signature of the method.
    // (<class>, <selector>)" (a function of another type).
    static void swizzleClass(std::string_view className, std::string_view selector,
                             bool isClassSelector, const VDUImplementation& block);

    // The method's current implementation. Asserts "The selector cannot be NULL", "The class
    // cannot be Nil" and "The Method for this class/selector combo doesn't exist (<class>,
    // <selector>)." (no slot), and then gives the null implementation.
    static VDUImplementation currentImplementationForClass(std::string_view className,
                                                           std::string_view selector,
                                                           bool isClassSelector);

    // Whether the class offers the method (`selector:existsInClass:isClassSelector:`). False for
    // empty names.
    static bool selectorExistsInClass(std::string_view selector, std::string_view className,
                                      bool isClassSelector);

    // Adds `slot` to the registry (held weakly), replacing a slot under the same class,
    // selector and kind. Called by VDUHookSlot::declare.
    static void registerSlot(const std::shared_ptr<VDUHookSlotBase>& slot);
};
