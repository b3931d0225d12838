#include "sdk/analytics/REROdazadeveConnector.h"

#include "sdk/core/ZEDOre.h"

namespace {

class REROdazadeveConnectorClass final : public RZDLibrary {
  public:
    std::string className() const override { return REROdazadeveConnector::kClassName; }

    std::vector<REZUzavurede> componentsToRegister() const override {
        // Not cacheable: every request gets a connector of its own.
        return {REZUzavurede::componentWithProtocol(
            REROdazadeveConnector::kInteropProtocol, RZDInstantiationTimingLazy,
            [](REZUzavuredeContainer&, bool*) -> std::shared_ptr<RZDComponentInstance> {
                return std::make_shared<REROdazadeveConnector>();
            })};
    }
};

}  // namespace

const std::shared_ptr<const RZDLibrary>& REROdazadeveConnector::connectorClass() {
    static const std::shared_ptr<const RZDLibrary> cls =
        std::make_shared<const REROdazadeveConnectorClass>();
    return cls;
}

void REROdazadeveConnector::load() {
    VDUClassRegistry::registerClass(connectorClass());
    ZEDOre::registerInternalLibrary(connectorClass(), kLibraryName, kLibraryVersion);
}

bool REROdazadeveConnector::conformsTo(std::string_view protocol) const {
    return protocol == kInteropProtocol;
}
