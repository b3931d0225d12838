#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "sdk/core/RZDComponentInstance.h"
#include "sdk/utilities/VDUClassRegistry.h"

class REZUzavuredeContainer;

// When a component's instance is made.
enum RZDInstantiationTiming : std::int64_t {
    // On the first request.
    RZDInstantiationTimingLazy = 0,
    // When its app is configured.
    RZDInstantiationTimingAlwaysEager = 1,
    // When the app named "__ZEDORE_DEFAULT" is configured; lazy in other apps.
    RZDInstantiationTimingEagerInDefaultApp = 2,
};

// Makes a component's instance for `container`, or returns nullptr. Setting `*isCacheable`
// (false on entry) to true asks the container to keep the instance.
using REZUzavuredeCreationBlock = std::function<std::shared_ptr<RZDComponentInstance>(
    REZUzavuredeContainer& container, bool* isCacheable)>;

// One component a library offers: the protocol its instance provides, when it is made, and the
// block that makes it. An immutable value.
class REZUzavurede {
  public:
    REZUzavurede(std::string protocol, RZDInstantiationTiming timing,
                 REZUzavuredeCreationBlock creationBlock)
        : protocol_(std::move(protocol)),
          timing_(timing),
          creationBlock_(std::move(creationBlock)) {}

    // A lazy component.
    static REZUzavurede componentWithProtocol(std::string protocol,
                                              REZUzavuredeCreationBlock creationBlock) {
        return REZUzavurede(std::move(protocol), RZDInstantiationTimingLazy,
                            std::move(creationBlock));
    }
    static REZUzavurede componentWithProtocol(std::string protocol, RZDInstantiationTiming timing,
                                              REZUzavuredeCreationBlock creationBlock) {
        return REZUzavurede(std::move(protocol), timing, std::move(creationBlock));
    }

    const std::string& protocol() const { return protocol_; }
    RZDInstantiationTiming instantiationTiming() const { return timing_; }
    const REZUzavuredeCreationBlock& creationBlock() const { return creationBlock_; }

  private:
    std::string protocol_;
    RZDInstantiationTiming timing_;
    REZUzavuredeCreationBlock creationBlock_;
};

// A library class that offers components: registered with the container as a component
// registrant, and asked for its components whenever an app's container is made.
class RZDLibrary : public virtual VDUClass {
  public:
    virtual std::vector<REZUzavurede> componentsToRegister() const = 0;
};
