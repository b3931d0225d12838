#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/dispatch/DispatchQueue.h"
#include "sdk/utilities/Error.h"
#include "sdk/utilities/Value.h"

class APMEClient;
class APMESDKProperty;

// Receives a client's news. Every operation is optional: a delegate that does not take one
// answers false to respondsTo for it, and the manager then leaves it out. New snapshots are
// told on the delegate's queue (the main queue when it has none); the other calls come on the
// experiment manager's queue or the fetching worker queue.
class APMEClientDelegate {
  public:
    enum class Operation { kShouldFetchExperiments, kDidReceiveNewSnapshot, kDidReceiveFetchError };

    virtual ~APMEClientDelegate() = default;
    // Whether the delegate takes `operation`.
    virtual bool respondsTo(Operation /*operation*/) const { return true; }
    // A new snapshot was stored for the client's SDK.
    virtual void clientDidReceiveNewSnapshot(APMEClient& /*client*/) {}
    // A fetch failed.
    virtual void clientDidReceiveFetchError(APMEClient& /*client*/, const sdk::Error& /*error*/) {}
    // Asked before each fetch.
    virtual bool shouldFetchExperimentsForClient(APMEClient& /*client*/) { return true; }
    // Custom properties computed at each request for the SDK of `property`; they win over its
    // own on equal names.
    virtual std::map<std::string, std::string> dynamicCustomPropertiesForSDKProperty(
        const APMESDKProperty& /*property*/) {
        return {};
    }
    // The queue on which to tell of new snapshots; null for the main queue.
    virtual platform::QueueRef queue() const { return nullptr; }
};

// One SDK's view of the experiments: its flags and the activation of stored snapshots. The
// experiments subsystem implements it (APMEExperimentClient); tests may pass their own.
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
