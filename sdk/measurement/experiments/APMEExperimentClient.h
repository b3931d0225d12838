#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "sdk/measurement/storage/APMEClient.h"
#include "sdk/measurement/storage/APMESDKProperty.h"
#include "sdk/utilities/Value.h"

class APMEExperimentManager;

// The client the experiment manager hands to a registered SDK: its flags (activated, then
// launched, then default), the activation of its pending snapshot and its staleness, all
// answered by the manager under the SDK's name.
//
// Thread-safety: every call may come from any thread but the manager's queue.
class APMEExperimentClient final : public APMEClient {
  public:
    // A client of `property` (copied) with `defaultFlags`; null property: 830000 and none.
    static std::shared_ptr<APMEExperimentClient> initWithSDKProperty(
        const APMESDKProperty* property, std::map<std::string, sdk::Value> defaultFlags,
        std::weak_ptr<APMEExperimentManager> manager);

    // The flag's value; an empty name: 830002 and none.
    std::optional<sdk::Value> valueForFlag(std::string_view flagName);
    std::optional<sdk::Value> objectForKeyedSubscript(std::string_view flagName) override;
    bool activateLatestSnapshot(sdk::Error* error) override;
    void setDelegate(std::weak_ptr<APMEClientDelegate> delegate) override;
    std::shared_ptr<APMEClientDelegate> delegate() const;
    // True when the activated snapshot is more than three days old.
    bool hasStaleSnapshot();
    void resetToDefaults();
    const std::string& SDKName() const { return SDKProperty_.name(); }
    const APMESDKProperty& SDKProperty() const { return SDKProperty_; }
    const std::map<std::string, sdk::Value>& defaultFlags() const { return defaultFlags_; }

    APMEExperimentClient(APMESDKProperty property, std::map<std::string, sdk::Value> defaultFlags,
                         std::weak_ptr<APMEExperimentManager> manager)
        : SDKProperty_(std::move(property)),
          defaultFlags_(std::move(defaultFlags)),
          manager_(std::move(manager)) {}

  private:
    const APMESDKProperty SDKProperty_;
    const std::map<std::string, sdk::Value> defaultFlags_;
    const std::weak_ptr<APMEExperimentManager> manager_;
    mutable std::mutex mutex_;
    std::weak_ptr<APMEClientDelegate> delegate_;  // guarded by mutex_
};
