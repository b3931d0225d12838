#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// A class that other SDK code may look up by name, in place of the platform's class lookup.
// What a class can do beyond its name is told by the interfaces it also derives from (a library
// with components derives from the core's RZDLibrary, for example); callers ask with
// dynamic_pointer_cast, as they would ask a class whether it answers a selector. Derive
// virtually, so one class may take several such interfaces.
class VDUClass {
  public:
    virtual ~VDUClass() = default;

    // The name the class is found under, e.g. "REROdazadeve".
    virtual std::string className() const = 0;

    // The version the class reports as its SDK version, or nullopt when it reports none.
    virtual std::optional<std::string> sdkVersion() const { return std::nullopt; }
};

// The process-wide table of named classes ("a class named X exists").
//
// Static initialisers of a static library are dropped by the linker when nothing else in their
// object file is used, so libraries do not register from them: each library offers a function
// that registers its classes, and the program calls those functions before it configures the
// SDK. Registration is idempotent per name. All members are safe to call from any thread.
class VDUClassRegistry {
  public:
    VDUClassRegistry() = delete;

    // Registers `cls` under its className(). Returns false, and keeps the class already there,
    // when another class object holds the name; registering the same object again returns true.
    // A null class or an empty name registers nothing and returns false.
    static bool registerClass(std::shared_ptr<const VDUClass> cls);

    // The class registered under `name`, or nullptr when there is none.
    static std::shared_ptr<const VDUClass> classNamed(std::string_view name);

    // The class under `name` when it also derives from T, else nullptr.
    template <typename T>
    static std::shared_ptr<const T> classNamed(std::string_view name) {
        return std::dynamic_pointer_cast<const T>(classNamed(name));
    }

    // Every registered name, sorted.
    static std::vector<std::string> registeredClassNames();

    // Test hook: forgets the class under `name`.
    static void TEST_unregisterClass(std::string_view name);
};
