#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "sdk/utilities/Date.h"
#include "sdk/utilities/Error.h"
#include "sdk/utilities/VDUClassRegistry.h"

// The shared object of an optional conversion service library: told when the app was first
// launched, it works out on its own whether this installation belongs to an ads conversion and
// hands back a value for it.
//
// Thread-safety: the engine calls it from its worker queue; the completion may come on any
// thread.
class APMConversionService {
  public:
    // (value, error): the measurement value ("" when there is none), or an error.
    using Completion =
        std::function<void(std::optional<std::string> value, std::optional<sdk::Error> error)>;

    // Services below this version are the older "alpha" service.
    static constexpr std::int64_t kCurrentVersionNumber = 10001;

    virtual ~APMConversionService() = default;

    virtual std::int64_t versionNumber() const = 0;
    // No value when the first launch is not known.
    virtual void setFirstLaunchTime(std::optional<sdk::Date> firstLaunchTime) = 0;
    // Fetches the measurement info for no particular interaction; calls `completion` once.
    virtual void fetchMeasurementInfoForInteraction(Completion completion) = 0;
};

// The conversion service library as found by name ("ODCConversionService") in the class
// registry. No such library exists on this platform, so the program registers none; tests
// register fakes.
class ODCConversionService : public virtual VDUClass {
  public:
    static constexpr std::string_view kClassName = "ODCConversionService";

    std::string className() const override { return std::string(kClassName); }

    // The library's shared service; null when it offers none that the engine can use.
    virtual std::shared_ptr<APMConversionService> sharedInstance() const = 0;
};
