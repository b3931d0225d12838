#pragma once

#include <memory>
#include <string>

#include "sdk/measurement/storage/APMDatabase.h"
#include "tests/sdk/measurement/MonitorRecorder.h"
#include "tests/sdk/measurement/storage/PersistenceTestSupport.h"
#include "tests/sdk/measurement/storage/StoreTestSupport.h"

namespace sdktest {

// The measurement database in a temporary home, with its persisted configuration.
class DatabaseTest : public MeasurementHomeTest {
  protected:
    static constexpr const char* kFileName = "vovidu-app-measurement.sql";

    std::unique_ptr<APMDatabase> openDatabase(sdk::Error* error = nullptr) {
        return APMDatabase::initWithDatabaseName(kFileName, config_, error);
    }
    std::filesystem::path databasePath() const { return measurementFolder() / kFileName; }
    std::string cli(const std::string& sql) { return sqliteCli(databasePath(), sql); }

    std::shared_ptr<APMPersistedConfig> config_ =
        APMPersistedConfig::initWithSuiteName("com.example.measurement");
    MonitorRecorder monitor_;
};

}  // namespace sdktest
