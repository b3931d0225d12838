#pragma once

#include "sdk/measurement/attribution/APMLifetimeValueStore.h"
#include "sdk/measurement/storage/APMDatabase.h"

// The engine's database as the lifetime-value recorder sees it. Borrows the database for the
// length of one event write.
class APMDatabaseLifetimeValueStore final : public APMLifetimeValueStore {
  public:
    explicit APMDatabaseLifetimeValueStore(APMDatabase& database) : database_(database) {}

    std::optional<std::vector<APMUserAttribute>> allLifetimeValueUserAttributes(
        sdk::Error* error) override {
        return database_.allLifetimeValueUserAttributes(error);
    }
    bool deleteUserAttributeWithName(std::string_view name, sdk::Error* error) override {
        return database_.deleteUserAttributeWithName(name, error);
    }
    bool updateUserAttribute(const APMUserAttribute& attribute, sdk::Error* error) override {
        return database_.updateUserAttribute(&attribute, error);
    }

  private:
    APMDatabase& database_;
};
