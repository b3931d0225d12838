#pragma once

#include <memory>

#include "sdk/utilities/VDUClassRegistry.h"

// A start-up companion of the engine: switches off an older measurement component when a
// program carries one next to this SDK. The component is looked up by name only
// ("VIZIverirozidi" in the class registry); nothing else of it is relied on. This program
// registers no such class, so the switch is normally a no-op.
class APMBackwardCompatibilityUtil {
  public:
    APMBackwardCompatibilityUtil() = delete;

    // What the older component's instances answer to.
    class SwitchableInstance {
      public:
        virtual ~SwitchableInstance() = default;
        virtual void setIsEnabled(bool enabled) = 0;
    };

    // What the older component's class answers to: its shared instance (null when it has none).
    class SwitchableClass : public virtual VDUClass {
      public:
        virtual std::shared_ptr<SwitchableInstance> sharedInstance() const = 0;
    };

    // When a class named "VIZIverirozidi" is registered, answers sharedInstance() and yields an
    // instance, tells that instance setIsEnabled(false) and returns true; otherwise false.
    // Called once while the engine starts its components; any thread.
    static bool disableVIZIverirozidi();
};
