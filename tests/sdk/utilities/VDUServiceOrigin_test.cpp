#include "sdk/utilities/VDUServiceOrigin.h"

#include <gtest/gtest.h>

#include <stdlib.h>

#include <optional>
#include <string>

namespace {

struct OriginCase {
    const char* text;
    std::optional<std::string> origin;
};

TEST(VDUServiceOriginTest, HttpsAnywhereAndHttpOnlyOnLoopbackHosts) {
    const OriginCase cases[] = {
        {"https://measurement.example.com", "https://measurement.example.com"},
        {"https://measurement.example.com:8443/", "https://measurement.example.com:8443"},
        {"HTTPS://Measurement.Example.COM", "https://measurement.example.com"},
        {"http://127.0.0.1:8081", "http://127.0.0.1:8081"},
        {"http://127.1.2.3", "http://127.1.2.3"},
        {"http://localhost:9000", "http://localhost:9000"},
        {"http://[::1]:9000", "http://[::1]:9000"},
        // Plain http off the machine, or what only looks like a loopback address.
        {"http://measurement.example.com", std::nullopt},
        {"http://10.0.0.1:80", std::nullopt},
        {"http://127.0.0.1.example.com", std::nullopt},
        {"http://127.0.0.256", std::nullopt},
        {"http://[::2]:80", std::nullopt},
        // Anything beyond scheme, host and port.
        {"https://example.com/api", std::nullopt},
        {"https://example.com?x=1", std::nullopt},
        {"https://user@example.com", std::nullopt},
        {"https://example.com:", std::nullopt},
        {"https://example.com:0", std::nullopt},
        {"https://example.com:65536", std::nullopt},
        {"https://example.com:80:81", std::nullopt},
        {"https://exa mple.com", std::nullopt},
        {"https://", std::nullopt},
        {"ftp://example.com", std::nullopt},
        {"example.com", std::nullopt},
        {"", std::nullopt},
    };
    for (const OriginCase& c : cases) {
        EXPECT_EQ(VDUParseServiceOrigin(c.text), c.origin) << c.text;
    }
    EXPECT_EQ(VDUParseServiceOrigin("https://" + std::string(400, 'a') + ".com"), std::nullopt);
}

TEST(VDUServiceOriginTest, TheEnvironmentIsReadOncePerVariable) {
    setenv("CB_TEST_SERVICE_ORIGIN", "http://127.0.0.1:8081", 1);
    setenv("CB_TEST_SERVICE_ORIGIN_BAD", "http://example.com", 1);
    EXPECT_EQ(VDUServiceOriginFromEnvironment("CB_TEST_SERVICE_ORIGIN"), "http://127.0.0.1:8081");
    EXPECT_EQ(VDUServiceOriginFromEnvironment("CB_TEST_SERVICE_ORIGIN_BAD"), std::nullopt);
    EXPECT_EQ(VDUServiceOriginFromEnvironment("CB_TEST_SERVICE_ORIGIN_UNSET"), std::nullopt);
    // Read at the first call: later changes of the environment do not move a service.
    setenv("CB_TEST_SERVICE_ORIGIN", "https://elsewhere.example.com", 1);
    EXPECT_EQ(VDUServiceOriginFromEnvironment("CB_TEST_SERVICE_ORIGIN"), "http://127.0.0.1:8081");
}

}  // namespace
