// User properties: plain values of each kind, the checks before writing, the table limit, the
// listings and the count and existence queries.
#include "tests/sdk/measurement/engine/APMUserAttributeTestPeer.h"
#include "tests/sdk/measurement/storage/RecordTestSupport.h"

namespace {

using sdktest::codeAndMessage;

class APMDatabaseUserAttributesTest : public sdktest::RecordTest {
  protected:
    void put(const std::string& name, APMValue value, double setTime = 1.0,
             const std::string& origin = "app") {
        const auto attribute = APMUserAttribute::initWithOrigin(origin, name, value, setTime);
        ASSERT_TRUE(attribute) << name;
        sdk::Error error;
        ASSERT_TRUE(database_->updateUserAttribute(&*attribute, &error)) << codeAndMessage(error);
    }
    static std::vector<std::string> names(const std::vector<APMUserAttribute>& attributes) {
        std::vector<std::string> result;
        for (const APMUserAttribute& attribute : attributes) {
            result.push_back(attribute.name());
        }
        return result;
    }
};

TEST_F(APMDatabaseUserAttributesTest, ValuesAreStoredInTheirPlainKindAndReadBackAlike) {
    const std::vector<std::pair<std::string, APMValue>> cases = {
        {"zero", APMValue(std::int64_t{0})},
        {"real", APMValue(1.5)},
        {"text", APMValue("x")},
    };
    for (const auto& [name, value] : cases) {
        put(name, value, 1700000000.25, "auto");
    }
    EXPECT_EQ(cli("select name, typeof(value), value, origin, set_timestamp from user_attributes "
                  "order by rowid"),
              "zero|integer|0|auto|1700000000.25\nreal|real|1.5|auto|1700000000.25\n"
              "text|text|x|auto|1700000000.25\n");
    sdk::Error error;
    for (const auto& [name, value] : cases) {
        const auto read = database_->userAttributeWithName(name, &error);
        ASSERT_TRUE(read) << name << " " << codeAndMessage(error);
        EXPECT_EQ(read->value(), value) << name;
        EXPECT_EQ(read->origin(), "auto");
        EXPECT_EQ(read->lastSetTimestamp(), 1700000000.25);
    }
    put("zero", APMValue("now text"), 5.0);
    EXPECT_EQ(database_->userAttributeWithName("zero", &error)->value(), APMValue("now text"));
    EXPECT_EQ(database_->userAttributeWithName("none", &error), std::nullopt);
    EXPECT_TRUE(error.ok()) << "a missing property is no error";

    ASSERT_TRUE(database_->deleteUserAttributeWithName("zero", &error));
    EXPECT_EQ(cli("select group_concat(name) from user_attributes"), "real,text\n");
}

TEST_F(APMDatabaseUserAttributesTest, RefusedPropertiesWriteNothing) {
    // The value by reference: GCC 12 at -O2 takes the moved-from temporary of a by-value
    // parameter here for uninitialised (-Wmaybe-uninitialized), though it is not.
    const auto unchecked = [](std::string origin, std::string name, const APMValue& value) {
        return APMUserAttributeTestPeer::initUnchecked(std::move(origin), std::move(name), value,
                                                       1.0);
    };
    const APMUserAttribute emptyOrigin = unchecked("", "plan", APMValue("x"));
    const APMUserAttribute emptyName = unchecked("app", "", APMValue("x"));
    const APMUserAttribute emptyString = unchecked("app", "plan", APMValue(""));
    const std::vector<std::pair<const APMUserAttribute*, std::string>> cases = {
        {nullptr, "3 Received empty user property for getting dictionary representation"},
        {&emptyOrigin,
         "3 Received user property with empty origin for getting dictionary representation"},
        {&emptyName,
         "1 Received user property with empty name for getting dictionary representation"},
        {&emptyString, "1 Received empty string value for user property"},
    };
    for (const auto& [attribute, expected] : cases) {
        sdk::Error error;
        EXPECT_FALSE(database_->updateUserAttribute(attribute, &error));
        EXPECT_EQ(codeAndMessage(error), expected);
    }
    EXPECT_EQ(cli("select count(*) from user_attributes"), "0\n");
}

TEST_F(APMDatabaseUserAttributesTest, TheThousandAndFirstNameIsRefusedWhileKnownNamesUpdate) {
    cli("with recursive n(i) as (select 1 union all select i + 1 from n where i < 1000) "
        "insert into user_attributes (name, origin, value, set_timestamp) "
        "select 'p' || i, 'app', i, 1.0 from n");
    const auto extra = APMUserAttribute::initWithOrigin("app", "p1001", APMValue("x"), 2.0);
    sdk::Error error;
    EXPECT_FALSE(database_->updateUserAttribute(&*extra, &error));
    EXPECT_EQ(codeAndMessage(error), "2 Failed to insert data type. Table is full");
    put("p7", APMValue("updated"), 3.0);
    EXPECT_EQ(cli("select count(*), sum(name = 'p7' and value = 'updated') from user_attributes"),
              "1000|1\n");
}

TEST_F(APMDatabaseUserAttributesTest, ListingsLeaveOutInternalAndReservedNames) {
    put("_ltv_USD", APMValue(12.5), 10.0);
    put("ma_x", APMValue("r"), 20.0);
    put("user_id", APMValue("u1"), 30.0);
    put("plan", APMValue("gold"), 40.0);
    put("_ltv_EUR", APMValue(3.0), 50.0);
    put("x_ltv_", APMValue(1.0), 60.0);
    sdk::Error error;
    const auto publicOnly = database_->userAttributesIncludingInternal(false, &error);
    ASSERT_TRUE(publicOnly) << codeAndMessage(error);
    EXPECT_EQ(names(*publicOnly), (std::vector<std::string>{"plan", "x_ltv_"}));
    const auto all = database_->userAttributesIncludingInternal(true, &error);
    ASSERT_TRUE(all) << codeAndMessage(error);
    EXPECT_EQ(all->size(), 6u);

    const auto lifetime = database_->allLifetimeValueUserAttributes(&error);
    ASSERT_TRUE(lifetime) << codeAndMessage(error);
    EXPECT_EQ(names(*lifetime), (std::vector<std::string>{"_ltv_EUR", "_ltv_USD"}));

    // A value no property can hold makes its row unreadable.
    cli("update user_attributes set value = X'01' where name = '_ltv_USD'");
    EXPECT_EQ(database_->allLifetimeValueUserAttributes(&error), std::nullopt);
    EXPECT_FALSE(error.ok());
    EXPECT_EQ(database_->userAttributesIncludingInternal(true, &error)->size(), 5u)
        << "the full listing leaves the unreadable row out";
}

TEST_F(APMDatabaseUserAttributesTest, CountsAndExistenceQueries) {
    put("_ltv_USD", APMValue(1.0), 1.0, "auto");
    put("plan", APMValue("gold"), 1.0, "app");
    put("tier", APMValue(std::int64_t{2}), 1.0, "app");
    sdk::Error error;
    EXPECT_EQ(database_->publicUserAttributeCount(&error), 2);
    EXPECT_EQ(database_->userAttributeCountForOrigin("app", &error), 2);
    EXPECT_EQ(database_->userAttributeCountForOrigin("auto", &error), 1);
    EXPECT_EQ(database_->containsUserAttributeWithName("tier", &error), true);
    EXPECT_EQ(database_->containsUserAttributeWithName("Tier", &error), false);

    EXPECT_EQ(database_->userAttributeCountForOrigin("", &error), std::nullopt);
    EXPECT_EQ(codeAndMessage(error), "1 Received empty user property origin for count query");
    EXPECT_EQ(database_->containsUserAttributeWithName("", &error), std::nullopt);
    EXPECT_EQ(codeAndMessage(error), "1 Received empty user property name for exists query");
}

}  // namespace
