#pragma once

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "sdk/measurement/engine/APMDigest.h"
#include "sdk/measurement/engine/APMEvent.h"
#include "sdk/measurement/engine/APMParameterLimits.h"
#include "sdk/measurement/messages/APMPBAccessors.h"
#include "sdk/measurement/storage/APMRemoteConfig.h"
#include "tests/sdk/measurement/storage/RemoteConfigTestSupport.h"

namespace sdktest {

// Runs `command` in the shell; what it wrote to its standard output.
inline std::string shellOutput(const std::string& command) {
    std::string output;
    FILE* pipe = popen(command.c_str(), "r");
    EXPECT_NE(pipe, nullptr) << command;
    if (pipe == nullptr) {
        return output;
    }
    char buffer[4096];
    while (std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe)) {
        output.append(buffer, n);
    }
    EXPECT_EQ(pclose(pipe), 0) << command;
    return output;
}

// protoc's text of the message in `file`: `type` ("apmpb.Event") or, when empty, raw fields.
inline std::string protocDecode(const std::filesystem::path& file, const std::string& type = {}) {
    const std::string how = type.empty() ? "--decode_raw"
                                         : "-I '" + std::string(CB_MESSAGES_PROTO_DIR) +
                                               "' --decode=" + type + " upload.proto";
    return shellOutput("'" + std::string(CB_PROTOC) + "' " + how + " < '" + file.string() + "'");
}

// Bytes as an SQL blob literal, X'..'.
inline std::string blobLiteral(const sdk::Bytes& bytes) {
    static const char* const kDigits = "0123456789ABCDEF";
    std::string text = "X'";
    for (std::uint8_t byte : bytes) {
        text += kDigits[byte >> 4];
        text += kDigits[byte & 15];
    }
    return text + "'";
}

inline APMEvent makeEvent(const std::string& name, double timestamp,
                          const APMRawParameters& params = {}) {
    return APMEvent::initWithOrigin("app", false, name, timestamp, 0, params,
                                    APMRemoteConfig::current()->parameterLimits())
        .value();
}

// Bundle metadata for `appID` with a protocol version.
inline std::unique_ptr<APMPBMeasurementBundle> makeMetadata(const std::string& appID) {
    auto bundle = std::make_unique<APMPBMeasurementBundle>();
    APMPBSetInt32(bundle.get(), apmpb::MeasurementBundle::kProtocolVersion, 1);
    APMPBSetString(bundle.get(), apmpb::MeasurementBundle::kAppId, appID);
    return bundle;
}

// A database with a remote configuration of the given settings installed for the engine.
class RecordTest : public RemoteConfigTest {
  protected:
    void installSettings(const std::vector<std::pair<std::string, std::string>>& settings) {
        APMRemoteConfig::setCurrent(configWithSettings(settings));
    }
    void TearDown() override {
        APMRemoteConfig::setCurrent(nullptr);
        RemoteConfigTest::TearDown();
    }
    std::filesystem::path file(const std::string& name) const { return dir_.path() / name; }
};

}  // namespace sdktest
