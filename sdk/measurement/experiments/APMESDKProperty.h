#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "sdk/measurement/experiments/APMEClient.h"

// One SDK that takes part in experiments: its name, its version and the delegate that hears
// about its snapshots. A plain value holder; the experiments subsystem builds its request part.
class APMESDKProperty {
  public:
    explicit APMESDKProperty(std::string name) : name_(std::move(name)) {}

    const std::string& name() const { return name_; }
    std::int64_t version() const { return version_; }
    void setVersion(std::int64_t version) { version_ = version; }
    const std::weak_ptr<APMEClientDelegate>& delegate() const { return delegate_; }
    void setDelegate(std::weak_ptr<APMEClientDelegate> delegate) {
        delegate_ = std::move(delegate);
    }

  private:
    std::string name_;
    std::int64_t version_ = 0;
    std::weak_ptr<APMEClientDelegate> delegate_;
};
