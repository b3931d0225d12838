#include "sdk/core/RZDTimestamp.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

#include "sdk/core/RZDException.h"
#include "tests/sdk/utilities/UtilitiesTestSupport.h"

namespace {

// The reason of the "Invalid timestamp" exception the constructor raises, or "" when none.
std::string rejection(std::int64_t seconds, std::int32_t nanoseconds) {
    try {
        RZDTimestamp(seconds, nanoseconds);
    } catch (const RZDException& e) {
        EXPECT_EQ(e.name(), "Invalid timestamp");
        return e.reason();
    }
    return "";
}

TEST(RZDTimestampTest, RangeChecks) {
    EXPECT_EQ(rejection(0, 1000000000), "Timestamp nanoseconds out of range: 1000000000");
    EXPECT_EQ(rejection(0, -1), "Timestamp nanoseconds out of range: -1");
    EXPECT_EQ(rejection(253402300799, 999999999), "");
    EXPECT_EQ(rejection(253402300800, 0), "Timestamp seconds out of range: 253402300800");
    EXPECT_EQ(rejection(-62135596800, 0), "");
    EXPECT_EQ(rejection(-62135596801, 0), "Timestamp seconds out of range: -62135596801");
    EXPECT_THROW(RZDTimestamp::timestampWithDate(sdk::Date::fromTimeIntervalSince1970(1e300)),
                 RZDException);
}

TEST(RZDTimestampTest, DatesSplitIntoSecondsAndNanosecondsAboveThem) {
    const struct {
        double since1970;
        std::int64_t seconds;
        std::int32_t nanoseconds;
        bool exact;
    } cases[] = {
        {-1.5, -2, 500000000, true},
        {1.25, 1, 250000000, true},
        {-2.0, -2, 0, true},
        {0.0, 0, 0, true},
        // 1.0 - 1e-17 rounds to a whole second: it stays within the second below.
        {-1e-17, -1, 999999999, false},
    };
    for (const auto& c : cases) {
        RZDTimestamp t =
            RZDTimestamp::timestampWithDate(sdk::Date::fromTimeIntervalSince1970(c.since1970));
        EXPECT_EQ(t.seconds(), c.seconds) << c.since1970;
        EXPECT_EQ(t.nanoseconds(), c.nanoseconds) << c.since1970;
        if (c.exact) {
            EXPECT_EQ(t.dateValue().timeIntervalSince1970(), c.since1970);
        }
    }
}

TEST(RZDTimestampTest, OrderEqualityAndDescription) {
    const RZDTimestamp a(5, 1);
    const RZDTimestamp b(5, 2);
    EXPECT_EQ(a.compare(b), -1);
    EXPECT_EQ(b.compare(a), 1);
    EXPECT_EQ(RZDTimestamp(4, 999999999).compare(a), -1);
    EXPECT_EQ(a.compare(RZDTimestamp(5, 1)), 0);
    EXPECT_TRUE(a == RZDTimestamp(5, 1));
    EXPECT_EQ(a.hash(), RZDTimestamp(5, 1).hash());
    EXPECT_EQ(RZDTimestamp(-3, 7).description(), "<RZDTimestamp: seconds=-3 nanoseconds=7>");
}

TEST(RZDTimestampTest, ISOStringsAreUTCWhateverTheTimeZone) {
    for (const char* zone : {"UTC", "America/New_York", "Asia/Kolkata"}) {
        sdktest::ScopedEnv tz("TZ", zone);
        tzset();
        EXPECT_EQ(RZDTimestamp(1, 5).ISO8601String(), "1970-01-01T00:00:01.000000005Z") << zone;
        EXPECT_EQ(RZDTimestamp(-1, 0).ISO8601String(), "1969-12-31T23:59:59.000000000Z") << zone;
        EXPECT_EQ(RZDTimestamp(RZDTimestamp::kMaxSeconds, 999999999).ISO8601String(),
                  "9999-12-31T23:59:59.999999999Z");
        EXPECT_EQ(RZDTimestamp(RZDTimestamp::kMinSeconds, 0).ISO8601String(),
                  "0001-01-01T00:00:00.000000000Z");
        EXPECT_EQ(RZDTimestamp(951782400, 0).ISO8601String(), "2000-02-29T00:00:00.000000000Z");
    }
    tzset();
}

}  // namespace
