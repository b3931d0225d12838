// On-device conversion measurement: matching through a private-set-membership client library
// (its inputs, the gates of an initiation, the query address, replies, retries and the match's
// expiry) and the conversion service's value after configuration fetches. The libraries are
// fakes registered in the class registry; the client's queries go to the loopback server.
#include <chrono>
#include <cmath>
#include <mutex>
#include <thread>

#include "platform/process/ProcessArguments.h"
#include "sdk/measurement/attribution/APMPSMContext.h"
#include "sdk/measurement/attribution/APMPrivateSetMembershipClient.h"
#include "sdk/measurement/attribution/ODCConversionService.h"
#include "sdk/measurement/audiences/APMConsentSettingsUtil.h"
#include "sdk/measurement/engine/APMAlarm.h"
#include "sdk/measurement/engine/core/APMIdentity.h"
#include "sdk/utilities/VDUClassRegistry.h"
#include "tests/sdk/measurement/engine/APMClockTesting.h"
#include "tests/sdk/measurement/engine/core/UploadTestSupport.h"

namespace {

using sdktest::UploadTest;

constexpr double kNow = 1000000000.0 + 30 * 86400.0;
constexpr double kDay = 86400.0;

// What the fake library was asked to make.
struct MadeClient {
    std::string kind;  // "email", "phone", "hashed_email", "hashed_phone"
    std::string input;
    std::string appID;
    std::optional<std::int32_t> prefixBitLength;
};

// A client whose query body is its input, whose address is the library's, and which reads the
// reply's body as the value.
class FakeClient : public APMPrivateSetMembershipClient {
  public:
    FakeClient(std::int64_t inputType, std::string input, std::string url,
               std::optional<std::string> debugKey)
        : inputType_(inputType),
          input_(std::move(input)),
          url_(std::move(url)),
          debugKey_(std::move(debugKey)) {}

    std::int64_t inputType() const override { return inputType_; }
    sdk::Bytes payloadWithPSMRequest() override { return sdk::Bytes(input_.begin(), input_.end()); }
    std::optional<std::string> PSMRequestURLWithRetryCount(std::int64_t retryCount) override {
        return url_ + "?retry=" + std::to_string(retryCount);
    }
    std::string parsedPSMValueFromResponse(const sdk::Bytes& response) override {
        return std::string(response.begin(), response.end());
    }
    std::optional<std::string> debugKey() const override { return debugKey_; }

  private:
    std::int64_t inputType_;
    std::string input_;
    std::string url_;
    std::optional<std::string> debugKey_;
};

class FakeLibrary : public APMPrivateSetMembershipClientClass {
  public:
    struct Abilities {
        bool prefix = true;
        bool phone = true;
        bool hashedEmail = true;
        bool hashedPhone = true;
    };

    FakeLibrary(std::string name, std::string url, Abilities abilities)
        : name_(std::move(name)), url_(std::move(url)), abilities_(abilities) {}

    std::string className() const override { return name_; }
    bool supportsPrefixBitLength() const override { return abilities_.prefix; }
    bool supportsPhoneNumbers() const override { return abilities_.phone; }
    bool supportsHashedEmailAddresses() const override { return abilities_.hashedEmail; }
    bool supportsHashedPhoneNumbers() const override { return abilities_.hashedPhone; }

    std::shared_ptr<APMPrivateSetMembershipClient> clientWithEmailAddress(
        const std::string& emailAddress, const std::string& appID,
        std::optional<std::int32_t> prefix) const override {
        return make("email", 1, emailAddress, appID, prefix);
    }
    std::shared_ptr<APMPrivateSetMembershipClient> clientWithPhoneNumber(
        const std::string& phoneNumber, const std::string& appID,
        std::optional<std::int32_t> prefix) const override {
        return make("phone", 2, phoneNumber, appID, prefix);
    }
    std::shared_ptr<APMPrivateSetMembershipClient> clientWithHashedEmailAddress(
        const sdk::Bytes& hashed, const std::string& appID, std::int32_t prefix) const override {
        return make("hashed_email", 3, std::string(hashed.begin(), hashed.end()), appID, prefix);
    }
    std::shared_ptr<APMPrivateSetMembershipClient> clientWithHashedPhoneNumber(
        const sdk::Bytes& hashed, const std::string& appID, std::int32_t prefix) const override {
        return make("hashed_phone", 4, std::string(hashed.begin(), hashed.end()), appID, prefix);
    }

    std::vector<MadeClient> made() const {
        std::lock_guard lock(mutex_);
        return made_;
    }

    std::optional<std::string> debugKey;

  private:
    std::shared_ptr<APMPrivateSetMembershipClient> make(const std::string& kind, std::int64_t type,
                                                        const std::string& input,
                                                        const std::string& appID,
                                                        std::optional<std::int32_t> prefix) const {
        std::lock_guard lock(mutex_);
        made_.push_back({kind, input, appID, prefix});
        return std::make_shared<FakeClient>(type, input, url_, debugKey);
    }

    const std::string name_;
    const std::string url_;
    const Abilities abilities_;
    mutable std::mutex mutex_;
    mutable std::vector<MadeClient> made_;
};

// A conversion service answering each fetch with the scripted value or error, from another
// thread as a library would.
class FakeService : public APMConversionService {
  public:
    explicit FakeService(std::int64_t version) : version_(version) {}

    std::int64_t versionNumber() const override { return version_; }
    void setFirstLaunchTime(std::optional<sdk::Date> time) override {
        std::lock_guard lock(mutex_);
        firstLaunchTime_ = time;
    }
    void fetchMeasurementInfoForInteraction(Completion completion) override {
        std::optional<std::string> value;
        std::optional<sdk::Error> error;
        {
            std::lock_guard lock(mutex_);
            ++fetches_;
            value = value_;
            error = error_;
        }
        std::thread([completion, value, error] { completion(value, error); }).join();
    }

    void reply(std::optional<std::string> value, std::optional<sdk::Error> error = std::nullopt) {
        std::lock_guard lock(mutex_);
        value_ = std::move(value);
        error_ = std::move(error);
    }
    int fetches() const {
        std::lock_guard lock(mutex_);
        return fetches_;
    }
    std::optional<sdk::Date> firstLaunchTime() const {
        std::lock_guard lock(mutex_);
        return firstLaunchTime_;
    }

  private:
    const std::int64_t version_;
    mutable std::mutex mutex_;
    std::optional<std::string> value_;
    std::optional<sdk::Error> error_;
    std::optional<sdk::Date> firstLaunchTime_;
    int fetches_ = 0;
};

class FakeServiceClass : public ODCConversionService {
  public:
    explicit FakeServiceClass(std::shared_ptr<FakeService> service)
        : service_(std::move(service)) {}
    std::shared_ptr<APMConversionService> sharedInstance() const override { return service_; }

  private:
    std::shared_ptr<FakeService> service_;
};

class OnDeviceConversionTest : public UploadTest {
  protected:
    OnDeviceConversionTest() {
        TEST_APMSetCurrentTimeInterval(kNow);
        respondWith([this](const httplib::Request& request, httplib::Response& response) {
            if (request.path != "/psm") {
                response.status = 204;
                return;
            }
            std::lock_guard lock(replyMutex_);
            response.status = psmStatus_;
            response.set_content(psmBody_, "application/octet-stream");
        });
    }
    ~OnDeviceConversionTest() override {
        for (const std::string& name : registered_) {
            VDUClassRegistry::TEST_unregisterClass(name);
        }
        platform::TEST_setProcessArguments(std::nullopt);
        APMMeasurement::monitor().setDebugModeEnabled(false);
        APMConsentSettingsUtil::clearAllSettings();
        TEST_APMSetCurrentTimeInterval(std::nullopt);
    }

    std::shared_ptr<FakeLibrary> registerLibrary(
        std::string_view name = APMPrivateSetMembershipClientClass::kClassName,
        FakeLibrary::Abilities abilities = {}) {
        auto library =
            std::make_shared<FakeLibrary>(std::string(name), server_.address("/psm"), abilities);
        EXPECT_TRUE(VDUClassRegistry::registerClass(library));
        registered_.emplace_back(name);
        return library;
    }

    std::shared_ptr<FakeService> registerService(std::int64_t version) {
        auto service = std::make_shared<FakeService>(version);
        EXPECT_TRUE(VDUClassRegistry::registerClass(std::make_shared<FakeServiceClass>(service)));
        registered_.emplace_back(ODCConversionService::kClassName);
        return service;
    }

    // Starts connected with a stored (so unexpired) configuration and a first open a day ago.
    void start(const std::vector<std::pair<std::string, std::string>>& settings = {}) {
        startConnected();
        storeConfig(settings);
        persisted().setFirstOpenTimestampMilliseconds(
            static_cast<std::int64_t>((kNow - kDay) * 1000));
    }

    void replyToQueries(int status, const std::string& body) {
        std::lock_guard lock(replyMutex_);
        psmStatus_ = status;
        psmBody_ = body;
    }

    // Hands `userData` to the engine as the facade does and waits until it was handled (and any
    // query it sent answered).
    void setUserData(sdk::Value::Dictionary userData) {
        engine_->setUserData(std::move(userData));
        drain(*engine_);
        waitUntil([&] { return !engine_->isNetworkRequestPending(); });
    }

    std::vector<cb::testsupport::ReceivedRequest> queries() {
        std::vector<cb::testsupport::ReceivedRequest> found;
        for (const cb::testsupport::ReceivedRequest& r : server_.requests()) {
            if (r.path == "/psm") {
                found.push_back(r);
            }
        }
        return found;
    }

    // A fresh matching state, as at the start of a run.
    void resetContext() {
        onWorker([&] { engine_->setODM1Context(std::make_shared<APMPSMContext>()); });
    }

    void withContext(const std::function<void(APMPSMContext&)>& change) {
        onWorker([&] { change(*engine_->ODM1Context()); });
    }

    std::string userProperty(const std::string& name) {
        return sqlite("SELECT value FROM user_attributes WHERE name = '" + name + "';");
    }
    std::string odmValue(const std::string& name) {
        return sqlite("SELECT value, set_timestamp FROM odm_values WHERE name = '" + name + "';");
    }

    // The "_fx" events stored: their "_fxs" source and real-time flag.
    std::vector<std::pair<std::string, bool>> conversionEvents() {
        std::vector<std::pair<std::string, bool>> found;
        for (const APMRawEventData& data : rawEvents()) {
            if (data.rawEvent().name() != "_fx") {
                continue;
            }
            const auto source = data.rawEvent().parameters().find("_fxs");
            found.emplace_back(
                source != data.rawEvent().parameters().end() && source->second.stringValue()
                    ? *source->second.stringValue()
                    : "",
                data.rawEvent().isRealtime());
        }
        return found;
    }

    std::optional<APMMonitorMessage> message(std::int64_t code) {
        for (const APMMonitorMessage& m : monitor_.messages()) {
            if (m.code == code) {
                return m;
            }
        }
        return std::nullopt;
    }

    std::vector<std::string> registered_;
    std::mutex replyMutex_;
    int psmStatus_ = 200;
    std::string psmBody_;
};

TEST_F(OnDeviceConversionTest, WithoutLibrariesStartWarnsAboutCountersAndUserDataSendsNothing) {
    seedOpenedInstall();
    sqlite("INSERT INTO user_attributes VALUES ('_psmcount', 1700000000, 2, 'auto');");
    start();

    EXPECT_TRUE(monitor_.saw(23279));
    EXPECT_TRUE(monitor_.saw(23254));
    EXPECT_FALSE(monitor_.saw(23253));
    EXPECT_EQ(engine_->ODM1Context(), nullptr);

    setUserData({{"email_address", sdk::Value("user@example.com")}});
    EXPECT_TRUE(monitor_.saw(23233));
    EXPECT_FALSE(monitor_.saw(23225));
    EXPECT_TRUE(queries().empty());
}

TEST_F(OnDeviceConversionTest, InputsPickTheirClientAndChecks) {
    std::shared_ptr<FakeLibrary> full = registerLibrary();
    start({{"measurement.psm_prefix_email", "17"}, {"measurement.psm_prefix_phone", "12"}});
    EXPECT_TRUE(monitor_.saw(23253));
    replyToQueries(200, "");

    const sdk::Bytes hashedEmail(32, 0xaa);
    const sdk::Bytes hashedPhone(32, 0xbb);
    struct Row {
        const char* what;
        sdk::Value::Dictionary userData;
        std::optional<std::string> kind;  // the client made; none when refused
        std::optional<std::int32_t> prefix;
        std::int64_t code;  // logged
    };
    const std::vector<Row> rows = {
        {"e-mail and phone: only the e-mail",
         {{"email_address", sdk::Value("a@b.c")}, {"phone_number", sdk::Value("+100")}},
         "email",
         17,
         23225},
        {"empty e-mail", {{"email_address", sdk::Value("")}}, std::nullopt, std::nullopt, 23234},
        {"phone", {{"phone_number", sdk::Value("+100")}}, "phone", 12, 23225},
        {"empty phone", {{"phone_number", sdk::Value("")}}, std::nullopt, std::nullopt, 23239},
        {"hashed e-mail",
         {{"hashed_email_address", sdk::Value(hashedEmail)}},
         "hashed_email",
         17,
         23225},
        {"hashed phone",
         {{"hashed_phone_number", sdk::Value(hashedPhone)}},
         "hashed_phone",
         12,
         23225},
        {"empty hash",
         {{"hashed_email_address", sdk::Value(sdk::Bytes{})}},
         std::nullopt,
         std::nullopt,
         23264},
    };
    std::size_t madeBefore = 0;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        resetContext();
        monitor_.clear();
        const std::size_t queriesBefore = queries().size();
        setUserData(row.userData);
        EXPECT_TRUE(monitor_.saw(row.code));
        const std::vector<MadeClient> made = full->made();
        if (!row.kind) {
            EXPECT_EQ(made.size(), madeBefore);
            EXPECT_EQ(queries().size(), queriesBefore);
            continue;
        }
        ASSERT_EQ(made.size(), madeBefore + 1);
        madeBefore = made.size();
        EXPECT_EQ(made.back().kind, *row.kind);
        EXPECT_EQ(made.back().prefixBitLength, row.prefix);
        EXPECT_EQ(made.back().appID, engine_->identity()->appID().value_or("<none>"));
        ASSERT_EQ(queries().size(), queriesBefore + 1);
        EXPECT_EQ(queries().back().body, made.back().input);
    }
}

TEST_F(OnDeviceConversionTest, ALibraryWithoutAbilitiesRefusesThoseInputs) {
    std::shared_ptr<FakeLibrary> basic = registerLibrary(
        APMPrivateSetMembershipClientClass::kClassName,
        {.prefix = false, .phone = false, .hashedEmail = false, .hashedPhone = false});
    start();
    setUserData({{"phone_number", sdk::Value("+100")}});
    EXPECT_TRUE(monitor_.saw(23262));
    setUserData({{"hashed_phone_number", sdk::Value(sdk::Bytes(32, 1))}});
    EXPECT_TRUE(monitor_.saw(23265));
    EXPECT_TRUE(basic->made().empty());

    // E-mail goes through the plain initialiser: no prefix length.
    replyToQueries(200, "");
    setUserData({{"email_address", sdk::Value("a@b.c")}});
    ASSERT_EQ(basic->made().size(), 1u);
    EXPECT_EQ(basic->made().front().prefixBitLength, std::nullopt);
}

TEST_F(OnDeviceConversionTest, GatesRefuseInOrder) {
    registerLibrary();
    start({{"measurement.psm_signin_delay", "7"}});
    const sdk::Value::Dictionary email = {{"email_address", sdk::Value("a@b.c")}};
    struct Row {
        const char* what;
        std::function<void()> arrange;
        std::int64_t code;
    };
    const std::vector<Row> rows = {
        {"first open 8 days ago with a 7 day window",
         [&] {
             persisted().setFirstOpenTimestampMilliseconds(
                 static_cast<std::int64_t>((kNow - 8 * kDay) * 1000));
         },
         23261},
        {"request in progress",
         [&] { withContext([](auto& c) { c.isPSMRequestInProgress = true; }); }, 23235},
        {"start limit", [&] { withContext([](auto& c) { c.PSMStartCount = 3; }); }, 23236},
        {"start limit in debug mode",
         [&] {
             APMMeasurement::monitor().setDebugModeEnabled(true);
             withContext([](auto& c) { c.PSMStartCount = 10; });
         },
         23236},
        {"retries used up", [&] { withContext([](auto& c) { c.PSMRetryCount = 5; }); }, 23238},
        {"match found",
         [&] {
             onWorker([&] {
                 engine_->setUserAttributeOnWorkerQueue(
                     *APMUserAttribute::initWithOrigin("auto", "_psmvalue", APMValue("m"), kNow));
             });
         },
         23237},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        resetContext();
        persisted().setFirstOpenTimestampMilliseconds(
            static_cast<std::int64_t>((kNow - kDay) * 1000));
        APMMeasurement::monitor().setDebugModeEnabled(false);
        row.arrange();
        monitor_.clear();
        setUserData(email);
        EXPECT_TRUE(monitor_.saw(row.code));
        EXPECT_FALSE(monitor_.saw(23225));
    }
    EXPECT_TRUE(queries().empty());

    // Debug mode allows ten starts: nine are not yet the limit.
    sqlite("DELETE FROM user_attributes WHERE name = '_psmvalue';");
    resetContext();
    APMMeasurement::monitor().setDebugModeEnabled(true);
    withContext([](auto& c) { c.PSMStartCount = 9; });
    replyToQueries(200, "");
    setUserData(email);
    EXPECT_TRUE(monitor_.saw(23225));
    EXPECT_EQ(queries().size(), 1u);
}

TEST_F(OnDeviceConversionTest, RequestURLCarriesCounterFirstOpenAndDebugKey) {
    std::shared_ptr<FakeLibrary> library = registerLibrary();
    library->debugKey = "dk";
    start();
    persisted().setFirstOpenTimestampMilliseconds(1000000030500);
    onWorker([&] {
        engine_->setUserAttributeOnWorkerQueue(*APMUserAttribute::initWithOrigin(
            "auto", "_psmcount", APMValue(std::int64_t{3}), kNow));
    });
    const std::string base = server_.address("/psm") + "?retry=0";
    auto urlFor = [&](std::int64_t inputType, double sessionStart) {
        std::optional<std::string> url;
        withContext([&](APMPSMContext& c) {
            c.PSMClient = std::make_shared<FakeClient>(inputType, "x", server_.address("/psm"),
                                                       library->debugKey);
            c.sessionStartTimestamp = sessionStart;
            url = engine_->PSMRequestURL();
        });
        return url.value_or("<none>");
    };

    EXPECT_EQ(urlFor(1, 0), base + "&psm_count=3&timestamp_first_open=1000000080");
    EXPECT_EQ(urlFor(2, 0), base + "&psm_phone_count=0&timestamp_first_open=1000000080");
    EXPECT_EQ(urlFor(1, kNow), base + "&psm_count=3");

    struct Row {
        bool debugMode;
        bool argument;
        bool hasKey;
    };
    for (const Row& row :
         {Row{false, true, false}, Row{true, false, false}, Row{true, true, true}}) {
        SCOPED_TRACE(::testing::Message() << row.debugMode << row.argument);
        APMMeasurement::monitor().setDebugModeEnabled(row.debugMode);
        platform::TEST_setProcessArguments(
            row.argument ? std::vector<std::string>{"app", "-DebugOnDeviceConversionMeasurement"}
                         : std::vector<std::string>{"app"});
        const std::string url = urlFor(1, kNow);
        EXPECT_EQ(url.find("&debug_psm_key=dk") != std::string::npos, row.hasKey) << url;
    }
}

TEST_F(OnDeviceConversionTest, FailedQueriesCountAndRetryWithDoublingDelays) {
    registerLibrary();
    start({{"measurement.psm_retry_interval", "30000"}, {"measurement.psm_retry_count", "4"}});
    replyToQueries(500, "");
    setUserData({{"email_address", sdk::Value("a@b.c")}});

    for (double expected : {30.0, 60.0, 120.0}) {
        SCOPED_TRACE(expected);
        EXPECT_TRUE(monitor_.saw(23228));
        std::optional<double> due;
        withContext([&](APMPSMContext& c) {
            EXPECT_FALSE(c.isPSMRequestInProgress);
            if (APMAlarm* alarm = c.existingPSMRetryAlarm(); alarm && alarm->scheduledTimestamp()) {
                // Due on the engine's clock, which stands still here.
                due = alarm->scheduledTimestamp()->timeIntervalSince1970() - kNow;
            }
        });
        ASSERT_TRUE(due);
        EXPECT_EQ(*due, expected);
        // The alarm's turn, without waiting for it.
        onWorker([&] { engine_->retrievePSMResponse(); });
        waitUntil([&] { return !engine_->isNetworkRequestPending(); });
    }
    EXPECT_TRUE(monitor_.saw(23231));
    withContext([](APMPSMContext& c) {
        EXPECT_EQ(c.PSMRetryCount, 4);
        EXPECT_FALSE(c.existingPSMRetryAlarm()->scheduledTimestamp());
    });
    const std::vector<cb::testsupport::ReceivedRequest> sent = queries();
    ASSERT_EQ(sent.size(), 4u);
    EXPECT_NE(sent[1].target.find("retry=1&psm_count=1"), std::string::npos) << sent[1].target;
    EXPECT_NE(sent[3].target.find("retry=3&psm_count=3"), std::string::npos) << sent[3].target;
    EXPECT_EQ(userProperty("_psmcount"), "4\n");
}

TEST_F(OnDeviceConversionTest, AMatchIsStoredAndAnnouncedAndNoMatchIsNot) {
    registerLibrary();
    start();
    replyToQueries(200, "");
    setUserData({{"email_address", sdk::Value("a@b.c")}});
    EXPECT_TRUE(monitor_.saw(23230));
    EXPECT_EQ(userProperty("_psmvalue"), "");
    EXPECT_TRUE(conversionEvents().empty());

    replyToQueries(200, "v");
    setUserData({{"email_address", sdk::Value("a@b.c")}});
    EXPECT_TRUE(monitor_.saw(23229));
    EXPECT_EQ(odmValue("odm1_value"),
              "v|" + std::to_string(static_cast<std::int64_t>(kNow)) + ".0\n");
    EXPECT_EQ(userProperty("_psmvalue"), "v\n");
    EXPECT_EQ(userProperty("_psmcount"), "2\n");
    EXPECT_EQ(conversionEvents(), (std::vector<std::pair<std::string, bool>>{{"psm", true}}));
    withContext([](APMPSMContext& c) {
        EXPECT_FALSE(c.isPSMRequestInProgress);
        EXPECT_EQ(c.PSMClient, nullptr);
    });
}

TEST_F(OnDeviceConversionTest, AQueryWhileTheNetworkIsBusyGoesOutAfterTheNextUpload) {
    registerLibrary();
    start();
    replyToQueries(200, "");
    onWorker([&] { engine_->setIsNetworkRequestPending(true); });
    engine_->setUserData({{"email_address", sdk::Value("a@b.c")}});
    drain(*engine_);
    EXPECT_TRUE(monitor_.saw(23232));
    withContext([](APMPSMContext& c) { EXPECT_TRUE(c.isPSMRequestPostponed); });
    EXPECT_TRUE(queries().empty());

    onWorker([&] { engine_->setIsNetworkRequestPending(false); });
    queue({bundle()});
    onWorker([&] { engine_->uploadData(); });
    waitUntil([&] { return queries().size() == 1 && !engine_->isNetworkRequestPending(); });
    EXPECT_EQ(server_.requests().front().path, "/a");
    withContext([](APMPSMContext& c) { EXPECT_FALSE(c.isPSMRequestPostponed); });
    EXPECT_TRUE(monitor_.saw(23230));
}

class OnDeviceConversionExpiryTest : public OnDeviceConversionTest {
  protected:
    // Stores a match set `age` seconds ago with its counters and, before the engine made its
    // table, no "odm1_value" row; then starts.
    void startWithMatchAged(double age) {
        seedOpenedInstall();
        const std::string set = std::to_string(kNow - age);
        sqlite("INSERT INTO user_attributes VALUES ('_psmvalue', " + set + ", 'm', 'auto');" +
               "INSERT INTO user_attributes VALUES ('_psmcount', " + set + ", 2, 'auto');" +
               "INSERT INTO user_attributes VALUES ('_psmcounthph', " + set + ", 1, 'auto');" +
               "CREATE TABLE odm_values (name TEXT PRIMARY KEY, set_timestamp REAL NOT NULL, "
               "value TEXT NOT NULL);");
        if (age > 90 * kDay) {
            sqlite("INSERT INTO odm_values VALUES ('odm1_value', " + set + ", 'm');");
        }
        EXPECT_EQ(sqlite("SELECT count(*) FROM user_attributes WHERE name LIKE '!_psm%' ESCAPE "
                         "'!';"),
                  "3\n");
        EXPECT_EQ(sqlite("SELECT count(*) FROM odm_values;"), age > 90 * kDay ? "1\n" : "0\n");
        start();
    }
};

TEST_F(OnDeviceConversionExpiryTest, AMatch91DaysOldGoesWithItsCounters) {
    startWithMatchAged(91 * kDay);
    EXPECT_EQ(sqlite("SELECT name FROM user_attributes WHERE name LIKE '!_psm%' ESCAPE '!';"), "");
    EXPECT_EQ(odmValue("odm1_value"), "");
}

TEST_F(OnDeviceConversionExpiryTest, AMatch89DaysOldStaysAndRefillsItsRow) {
    startWithMatchAged(89 * kDay);
    EXPECT_EQ(userProperty("_psmvalue"), "m\n");
    EXPECT_EQ(userProperty("_psmcount"), "2\n");
    EXPECT_EQ(odmValue("odm1_value"),
              "m|" + std::to_string(static_cast<std::int64_t>(kNow - 89 * kDay)) + ".0\n");
}

TEST_F(OnDeviceConversionTest, ConversionServiceVersionsAndValues) {
    std::shared_ptr<FakeService> service = registerService(10001);
    start({{"measurement.odm2_enabled", "1"}});
    EXPECT_TRUE(monitor_.saw(23278));
    onWorker([&] {
        EXPECT_TRUE(engine_->isVoviduAdsOnDeviceConversionLinked());
        EXPECT_FALSE(engine_->isAlphaAppAdsOnDeviceConversionLinked());
    });
    const std::string stamp = std::to_string(static_cast<std::int64_t>(kNow)) + ".0";

    struct Row {
        const char* what;
        std::function<void()> arrange;
        std::int64_t code;
        std::string property;  // "_psmvalue_cads" after it, as the shell prints it
        std::string row;       // the "odm2_value" row
        std::size_t events;    // "_fx" events with "psm_cads" so far
    };
    const std::vector<Row> rows = {
        {"a value", [&] { service->reply("x"); }, 23277, "x\n", "x|" + stamp + "\n", 1},
        {"the same value", [&] { service->reply("x"); }, 23282, "x\n", "x|" + stamp + "\n", 1},
        {"an error", [&] { service->reply(std::nullopt, sdk::Error("ODC", 1, "failed")); }, 23269,
         "x\n", "x|" + stamp + "\n", 1},
        {"empty", [&] { service->reply(""); }, 23281, "", "", 1},
        {"another value", [&] { service->reply("y"); }, 23277, "y\n", "y|" + stamp + "\n", 2},
        {"ad storage denied",
         [&] {
             APMConsentSettingsUtil::setConsentSettings(
                 APMConsentSettings{{"ad_storage", "denied"}});
         },
         23276, "", "", 2},
        {"switched off by the configuration",
         [&] {
             APMConsentSettingsUtil::clearAllSettings();
             service->reply("z");
             storeConfig({{"measurement.odm2_enabled", "0"}});
         },
         23275, "", "", 2},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        row.arrange();
        monitor_.clear();
        onWorker([&] { engine_->updateAdsOnDeviceConversionMeasurement(); });
        drain(*engine_);
        EXPECT_TRUE(monitor_.saw(row.code));
        EXPECT_EQ(userProperty("_psmvalue_cads"), row.property);
        EXPECT_EQ(odmValue("odm2_value"), row.row);
        EXPECT_EQ(conversionEvents().size(), row.events);
    }
    EXPECT_EQ(conversionEvents().front(), (std::pair<std::string, bool>{"psm_cads", true}));
    // Asked only while enabled: values, the same value, an error, empty and another value.
    EXPECT_EQ(service->fetches(), 5);
    ASSERT_TRUE(service->firstLaunchTime());
    EXPECT_EQ(service->firstLaunchTime()->timeIntervalSince1970(), kNow - kDay);
}

TEST_F(OnDeviceConversionTest, AnOlderServiceIsTheAlphaOneAndAFetchAsksIt) {
    std::shared_ptr<FakeService> service = registerService(10000);
    start({{"measurement.odm2_enabled", "1"}});
    onWorker([&] {
        EXPECT_TRUE(engine_->isAlphaAppAdsOnDeviceConversionLinked());
        EXPECT_FALSE(engine_->isVoviduAdsOnDeviceConversionLinked());
    });
    service->reply("a");
    respondWithStatus(404);
    onWorker([&] { engine_->fetchRemoteConfig(); });
    waitForAnswers(1);
    drain(*engine_);
    EXPECT_EQ(service->fetches(), 1);
    EXPECT_EQ(userProperty("_psmvalue_cads"), "a\n");
}

TEST_F(OnDeviceConversionTest, BothLibrariesLogTheConflictAndSetTheDeprecatedClientAside) {
    registerService(10001);
    registerLibrary(APMPrivateSetMembershipClientClass::kDeprecatedClassName);
    start();

    const std::optional<APMMonitorMessage> conflict = message(23292);
    ASSERT_TRUE(conflict);
    EXPECT_EQ(conflict->level, 0);
    EXPECT_NE(conflict->message.find("are both linked into the app"), std::string::npos);
    setUserData({{"email_address", sdk::Value("a@b.c")}});
    EXPECT_TRUE(monitor_.saw(23233));
    EXPECT_TRUE(queries().empty());
    onWorker([&] { EXPECT_FALSE(engine_->isAPMPrivateSetMembershipClientLinked()); });
}

}  // namespace
