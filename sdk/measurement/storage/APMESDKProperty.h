#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "sdk/measurement/storage/APMEClient.h"

// One SDK that takes part in experiments: its name, its version and the delegate that hears
// about its snapshots. A plain value holder; the experiment fetching builds its request part.
class APMESDKProperty {
  public:
    explicit APMESDKProperty(std::string name) : name_(std::move(name)) {}

    const std::string& name() const { return name_; }
    std::int64_t version() const { return version_; }
    void setVersion(std::int64_t version) { version_ = version; }
    const std::string& appID() const { return appID_; }
    void setAppID(std::string appID) { appID_ = std::move(appID); }
    // An SDK with a diversion key keeps its experiment IDs out of the measurement bundles.
    const std::string& diversionKey() const { return diversionKey_; }
    void setDiversionKey(std::string diversionKey) { diversionKey_ = std::move(diversionKey); }
    const std::map<std::string, std::string>& customProperties() const { return customProperties_; }
    void setCustomProperties(std::map<std::string, std::string> customProperties) {
        customProperties_ = std::move(customProperties);
    }
    const std::weak_ptr<APMEClientDelegate>& delegate() const { return delegate_; }
    void setDelegate(std::weak_ptr<APMEClientDelegate> delegate) {
        delegate_ = std::move(delegate);
    }

  private:
    std::string name_;
    std::int64_t version_ = 0;
    std::string appID_;
    std::string diversionKey_;
    std::map<std::string, std::string> customProperties_;
    std::weak_ptr<APMEClientDelegate> delegate_;
};
