#pragma once

#include <memory>
#include <string_view>

class ZEDOre;

// What a component container hands out: an object that tells which protocols (interfaces,
// named by strings) it conforms to. Callers get a typed instance with REZUzavuredeType.
class RZDComponentInstance {
  public:
    virtual ~RZDComponentInstance() = default;

    // True when the object implements the protocol named `protocol`.
    virtual bool conformsTo(std::string_view protocol) const = 0;
};

// Implemented by instances that want to hear of their app's deletion. The container calls it
// once per cached instance when its cached instances are removed.
class REZUzavuredeLifecycleMaintainer {
  public:
    virtual ~REZUzavuredeLifecycleMaintainer() = default;

    // `app` is the container's app, or nullptr when it is already gone.
    virtual void appWillBeDeleted(const std::shared_ptr<const ZEDOre>& app) = 0;
};
