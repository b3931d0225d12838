#pragma once

#include <functional>
#include <memory>

#include "sdk/measurement/engine/APMEvent.h"

class APMDatabase;
class APMScheduler;

// What the conditional user property controller needs of the measurement engine: its store,
// whether it is enabled, its worker queue and its two event writers. The engine stands above
// the audiences, so it implements this and installs the provider (setProvider) the controller
// asks for the engine in force (current).
//
// Thread-safety: isEnabled and scheduler from any thread; database and the writers on the
// engine's worker queue. setProvider and current from any thread.
class APMConditionalUserPropertyEngine {
  public:
    // The engine in force, or null when there is none; called anew on every look-up, so a
    // replaced engine is seen at once.
    using Provider = std::function<std::shared_ptr<APMConditionalUserPropertyEngine>()>;

    virtual ~APMConditionalUserPropertyEngine() = default;

    // The event store; null until the engine's start opened it.
    virtual const std::shared_ptr<APMDatabase>& database() const = 0;
    virtual bool isEnabled() const = 0;
    // Never null.
    virtual const std::shared_ptr<APMScheduler>& scheduler() const = 0;
    // Takes `event` through the conditional user properties, then writes it and each event it
    // triggered.
    virtual void writeEventOnWorkerQueue(APMEvent event) = 0;
    // Writes `event` as it is, past the conditional user properties.
    virtual void writeFilteredEventOnWorkerQueue(APMEvent event) = 0;

    // Installs `provider` unless one was installed before; whether this call installed it. An
    // empty `provider` installs nothing.
    static bool setProvider(Provider provider);
    // The provider's engine; null while no provider is installed.
    static std::shared_ptr<APMConditionalUserPropertyEngine> current();
};
