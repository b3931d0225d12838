#pragma once

#include <memory>
#include <string_view>

#include "sdk/core/REZUzavurede.h"
#include "sdk/core/RZDComponentInstance.h"

// The analytics library as the core's component system sees it. The class registers with the
// core as the library "rzd-analytics" at "11.15.0" and offers one lazy component for the
// protocol "REROdazadeveInterop"; each request makes a new, uncached connector instance.
class REROdazadeveConnector final : public RZDComponentInstance {
  public:
    static constexpr const char* kClassName = "REROdazadeveConnector";
    static constexpr const char* kInteropProtocol = "REROdazadeveInterop";
    static constexpr const char* kLibraryName = "rzd-analytics";
    static constexpr const char* kLibraryVersion = "11.15.0";

    // The class object: named kClassName, an RZDLibrary whose componentsToRegister() is the one
    // lazy "REROdazadeveInterop" component. The same object on every call.
    static const std::shared_ptr<const RZDLibrary>& connectorClass();

    // The load-time hook: registers the class object in the class registry and with the core
    // (ZEDOre::registerInternalLibrary as "rzd-analytics", "11.15.0"). Safe to call again.
    static void load();

    // True for "REROdazadeveInterop".
    bool conformsTo(std::string_view protocol) const override;
};
