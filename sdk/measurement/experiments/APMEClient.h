#pragma once

#include <memory>
#include <optional>
#include <string_view>

#include "sdk/utilities/Error.h"
#include "sdk/utilities/Value.h"

class APMEClient;

// Receives a client's news. Calls come on the experiment manager's queue.
class APMEClientDelegate {
  public:
    virtual ~APMEClientDelegate() = default;
    // A new snapshot was stored for the client's SDK.
    virtual void clientDidReceiveNewSnapshot(APMEClient& client) = 0;
    // A fetch failed.
    virtual void clientDidReceiveFetchError(APMEClient& client, const sdk::Error& error) = 0;
    // Asked before each fetch.
    virtual bool shouldFetchExperimentsForClient(APMEClient& client) = 0;
};

// One SDK's view of the experiments: its flags and the activation of stored snapshots. The
// experiments subsystem implements it; until then tests pass their own.
class APMEClient {
  public:
    virtual ~APMEClient() = default;
    // Activates the newest stored snapshot of the client's SDK; false with `error` set when it
    // cannot.
    virtual bool activateLatestSnapshot(sdk::Error* error) = 0;
    // The flag's current value, or none.
    virtual std::optional<sdk::Value> objectForKeyedSubscript(std::string_view flagName) = 0;
    // The delegate, held weakly.
    virtual void setDelegate(std::weak_ptr<APMEClientDelegate> delegate) = 0;
};
