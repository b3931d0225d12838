#pragma once

#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <typeindex>
#include <utility>

#include "sdk/utilities/VDUImplementation.h"
#include "sdk/utilities/VDUSwizzler.h"

// One replaceable method, in place of a method that the platform's run time could re-point: a
// class that offers a method for replacement declares a slot for it under its class name, the
// selector and whether it is a class or an instance method, and calls the method through the
// slot. VDUSwizzler finds the slot by those three and replaces or reads its implementation.
//
// Thread-safety: calls through the slot and replacements may happen on any threads at once; a
// call runs the implementation that was current when it began.
class VDUHookSlotBase {
  public:
    virtual ~VDUHookSlotBase() = default;

    const std::string& className() const { return className_; }
    const std::string& selector() const { return selector_; }
    bool isClassSelector() const { return isClassSelector_; }

    // The function type of the method.
    std::type_index signature() const { return signature_; }

    // The current implementation (never null).
    VDUImplementation implementation() const {
        std::lock_guard lock(mutex_);
        return implementation_;
    }

    VDUHookSlotBase(const VDUHookSlotBase&) = delete;
    VDUHookSlotBase& operator=(const VDUHookSlotBase&) = delete;

  protected:
    VDUHookSlotBase(std::string className, std::string selector, bool isClassSelector,
                    VDUImplementation implementation)
        : className_(std::move(className)),
          selector_(std::move(selector)),
          isClassSelector_(isClassSelector),
          signature_(implementation.signature()),
          implementation_(std::move(implementation)) {}

  private:
    friend class VDUSwizzler;

    // Replaces the implementation. Only VDUSwizzler calls this, with one of signature().
    void setImplementation(VDUImplementation implementation) {
        std::lock_guard lock(mutex_);
        implementation_ = std::move(implementation);
    }

    const std::string className_;
    const std::string selector_;
    const bool isClassSelector_;
    const std::type_index signature_;
    mutable std::mutex mutex_;
    VDUImplementation implementation_;  // guarded by mutex_
};

template <typename Signature>
class VDUHookSlot;

// A slot for a method of type R(Args...).
template <typename R, typename... Args>
class VDUHookSlot<R(Args...)> final : public VDUHookSlotBase {
  public:
    using Function = std::function<R(Args...)>;

    // Makes a slot with `implementation` and registers it with VDUSwizzler, replacing a slot
    // registered earlier under the same class, selector and kind. The registry holds the slot
    // weakly: keep the returned pointer for as long as the method may be replaced (usually a
    // static of the class that offers it).
    // REQUIRES: class name and selector not empty, `implementation` not empty (else throws
    // std::invalid_argument).
    static std::shared_ptr<VDUHookSlot> declare(std::string className, std::string selector,
                                                bool isClassSelector, Function implementation) {
        if (className.empty() || selector.empty() || !implementation) {
            throw std::invalid_argument("a hook slot needs a class, a selector and a function");
        }
        auto slot = std::make_shared<VDUHookSlot>(Passkey(), std::move(className),
                                                  std::move(selector), isClassSelector,
                                                  VDUImplementation(std::move(implementation)));
        VDUSwizzler::registerSlot(slot);
        return slot;
    }

    // Calls the current implementation.
    R operator()(Args... args) const {
        const VDUImplementation current = implementation();
        return (*current.template function<R(Args...)>())(std::forward<Args>(args)...);
    }

    // Public only for std::make_shared.
    struct Passkey {
        explicit Passkey() = default;
    };
    VDUHookSlot(Passkey, std::string className, std::string selector, bool isClassSelector,
                VDUImplementation implementation)
        : VDUHookSlotBase(std::move(className), std::move(selector), isClassSelector,
                          std::move(implementation)) {}
};
