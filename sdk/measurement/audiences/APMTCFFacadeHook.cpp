#include "sdk/measurement/audiences/APMTCFFacadeHook.h"

#include <atomic>

namespace {

// Until a facade installs itself, the TCF client's event and consent go nowhere: there is no
// facade to log through or to hold the consent.
class NoFacade final : public APMTCFFacadeHook {
  public:
    void logInternalEvent(std::string_view, std::string_view,
                          const sdk::Value::Dictionary&) override {}
    void setConsent(const APMConsentSettings&, std::string_view) override {}
};

std::atomic<std::shared_ptr<APMTCFFacadeHook>>& installed() {
    static std::atomic<std::shared_ptr<APMTCFFacadeHook>> slot;
    return slot;
}

}  // namespace

std::shared_ptr<APMTCFFacadeHook> APMTCFFacadeHook::current() {
    static const std::shared_ptr<APMTCFFacadeHook> none = std::make_shared<NoFacade>();
    std::shared_ptr<APMTCFFacadeHook> hook = installed().load();
    return hook ? hook : none;
}

void APMTCFFacadeHook::install(std::shared_ptr<APMTCFFacadeHook> hook) {
    installed().store(std::move(hook));
}
