#pragma once

#include <functional>
#include <memory>
#include <typeindex>
#include <typeinfo>
#include <utility>

// The implementation of a replaceable method (see VDUHookSlot and VDUSwizzler): a function of
// one signature, held without its type so that implementations of every method travel through
// one interface, and compared by identity. A null implementation holds nothing. Immutable, so
// copies may be shared between threads; the function itself must be safe to call from the
// threads that call the method.
class VDUImplementation {
  public:
    // The null implementation.
    VDUImplementation() = default;

    // Holds `function`; an empty function gives the null implementation (of that signature).
    template <typename R, typename... Args>
    explicit VDUImplementation(std::function<R(Args...)> function)
        : signature_(typeid(R(Args...))) {
        if (function) {
            function_ = std::make_shared<const std::function<R(Args...)>>(std::move(function));
        }
    }

    // Whether a function is held.
    explicit operator bool() const { return function_ != nullptr; }

    // The function type it was made from, e.g. typeid(int(int)); typeid(void) when made empty.
    std::type_index signature() const { return signature_; }

    // The function when one of `Signature` is held, else null. The pointer lives as long as
    // this implementation or a copy of it.
    template <typename Signature>
    const std::function<Signature>* function() const {
        if (!function_ || signature_ != std::type_index(typeid(Signature))) {
            return nullptr;
        }
        return static_cast<const std::function<Signature>*>(function_.get());
    }

    // True when both hold the same function object (copies of one implementation), or both
    // are null.
    bool operator==(const VDUImplementation& other) const { return function_ == other.function_; }

  private:
    std::shared_ptr<const void> function_;  // a std::function<signature_>
    std::type_index signature_ = typeid(void);
};
