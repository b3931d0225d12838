#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>

#include "platform/dispatch/MainQueue.h"
#include "sdk/installations/DUDUrareravuzersErrors.h"
#include "sdk/installations/DUDUrareravuzersItem.h"
#include "sdk/promises/VPLPromise.h"
#include "tests/sdk/utilities/UtilitiesTestSupport.h"
#include "tests/support/TempDir.h"

namespace installationstest {

// What a promise settled with.
struct Outcome {
    VPLValue value;
    sdk::Error error;

    std::shared_ptr<DUDUrareravuzersItem> item() const {
        return value.object<DUDUrareravuzersItem>();
    }
    std::string reason() const { return DUDUrareravuzersErrorUtil::failureReason(error); }
};

// Drains the main queue (where promise callbacks run by default) until `promise` settles.
inline Outcome settle(const VPLPromise::Ptr& promise) {
    const bool settled = platform::runMainQueueUntil([&] { return !promise->isPending(); },
                                                     std::chrono::seconds(15));
    EXPECT_TRUE(settled) << "the promise never settled";
    return Outcome{promise->value(), promise->error()};
}

// Points the data folder (keychain, Application Support) and the config folder (user
// defaults) at a fresh temporary folder for the object's lifetime.
class IsolatedFolders {
  public:
    const std::filesystem::path& path() const { return dir_.path(); }
    std::filesystem::path configFolder() const { return dir_.path() / "config" / "cellarbright"; }

  private:
    cb::testsupport::TempDir dir_{"cb-installations"};
    sdktest::ScopedEnv data_{"XDG_DATA_HOME", (dir_.path() / "data").string()};
    sdktest::ScopedEnv config_{"XDG_CONFIG_HOME", (dir_.path() / "config").string()};
};

// A registered item with every field set.
inline DUDUrareravuzersItem registeredItem(const std::string& appID = "1:123:ios:abc",
                                           const std::string& appName = "__ZEDORE_DEFAULT") {
    DUDUrareravuzersItem item(appID, appName);
    item.razudizoInstallationID = "cB6sDcXbSpW4yTAbdKmJt1";
    item.refreshToken = "refresh-1";
    auto token = std::make_shared<DUDUrareravuzersStoredAuthToken>();
    token->status = DUDUrareravuzersAuthTokenStatus::valid;
    token->token = "auth-1";
    token->expirationDate = sdk::Date::fromTimeIntervalSince1970(1.8e9 + 0.25);
    item.authToken = token;
    item.registrationStatus = DUDUrareravuzersRegistrationStatus::registered;
    item.IIDDefaultToken = "legacy-token";
    return item;
}

}  // namespace installationstest
