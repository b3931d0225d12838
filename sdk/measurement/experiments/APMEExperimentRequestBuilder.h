#pragma once

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "sdk/measurement/messages/APMPBMessages.h"
#include "sdk/measurement/storage/APMESDKProperty.h"

// The device and app facts an experiment request carries, read anew for every request.
struct APMEExperimentEnvironment {
    // The user's first preferred language, lower-cased; absent when there is none.
    std::optional<std::string> language;
    std::string bundleIdentifier;
    bool isFromAppStore = false;
    // The measurement identity's diversion key, used for SDKs without their own.
    std::string measurementDiversionKey;
};

// Builds the experiments service's request from the registered SDKs. One shared instance;
// safe to use from any thread.
class APMEExperimentRequestBuilder {
  public:
    using EnvironmentProvider = std::function<APMEExperimentEnvironment()>;

    APMEExperimentRequestBuilder();

    static APMEExperimentRequestBuilder& sharedInstance();

    // Stores `property` under its name, replacing an earlier one; null logs 880000.
    void addSDKProperty(std::shared_ptr<APMESDKProperty> property);
    // Where the environment facts come from (tests pass their own); the default reads the
    // environment info, the main bundle and the measurement identity.
    void setEnvironmentProvider(EnvironmentProvider provider);

    APMPBAppProperty appPropertyProto() const;
    // A new request: the app property and one client property per stored SDK that yields one.
    APMPBExperimentRequest request() const;

    // The request form of `property`, or null (860001) when neither it nor the measurement
    // identity has a diversion key. Custom properties go in name order, so equal requests
    // encode equally; the delegate's dynamic ones win on equal names.
    static std::shared_ptr<APMPBClientProperty> proto(const APMESDKProperty& property,
                                                      const std::string& measurementDiversionKey);

  private:
    APMEExperimentEnvironment environment() const;
    static APMPBAppProperty appPropertyProto(const APMEExperimentEnvironment& environment);

    mutable std::mutex mutex_;
    std::map<std::string, std::shared_ptr<APMESDKProperty>> clientPropertyBySDKName_;
    EnvironmentProvider environmentProvider_;
};
