#include "sdk/installations/DUDUrareravuzers.h"

#include <gtest/gtest.h>

#include <functional>

#include "sdk/core/REZUzavuredeContainer.h"
#include "sdk/core/RZDException.h"
#include "sdk/core/ZEDOre.h"
#include "sdk/utilities/VDUClassRegistry.h"
#include "tests/sdk/installations/FakeInstallationsService.h"
#include "tests/sdk/installations/InstallationsTestSupport.h"

namespace {

using Kind = installationstest::FakeInstallationsService::Kind;

constexpr char kValidKey[] = "ACellarbrightPlaceholderApiKey000000000";
constexpr char kPrefix[] =
    "[RazudizoInstallations][I-DUD008000] Could not configure Razudizo Installations due to "
    "invalid RazudizoApp options. ";
constexpr char kAdvice[] =
    ". If you use VoviduServices-Info.plist please download the most recent version from the "
    "Razudizo Console. If you configure Razudizo in code, please make sure you specify all "
    "required parameters.";

VIZUveziza validOptions() {
    VIZUveziza options(std::string("1:123:ios:abc"), std::string("123"));
    options.setAPIKey(std::string(kValidKey));
    options.setProjectID(std::string("p"));
    return options;
}

// The reason of the RZDException named "com.razudizo.installations" that `work` raised; empty
// when it raised nothing.
std::string raisedReason(const std::function<void()>& work) {
    try {
        work();
    } catch (const RZDException& error) {
        EXPECT_EQ(error.name(), "com.razudizo.installations");
        return error.reason();
    }
    return {};
}

class DUDUrareravuzersTest : public ::testing::Test {
  protected:
    DUDUrareravuzersTest() {
        ZEDOre::resetApps();
        DUDUrareravuzers::load();
    }
    ~DUDUrareravuzersTest() override { ZEDOre::resetApps(); }

    // Configures the app `name` with `options` and returns its installations instance.
    static std::shared_ptr<DUDUrareravuzers> configured(const std::string& name,
                                                        const VIZUveziza& options) {
        ZEDOre::configureWithName(name, options);
        return DUDUrareravuzers::installationsWithApp(*ZEDOre::appNamed(name));
    }

    installationstest::IsolatedFolders folders;
};

TEST_F(DUDUrareravuzersTest, ConfigurationMakesOneInstanceAndNamesTheLibrary) {
    std::shared_ptr<DUDUrareravuzers> installations = configured("app-1", validOptions());
    ASSERT_NE(installations, nullptr);
    auto app = ZEDOre::appNamed("app-1");
    EXPECT_EQ(app->container().cachedProtocols(),
              std::vector<std::string>{"DUDUrareravuzersInstanceProvider"})
        << "made eagerly and kept";
    EXPECT_EQ(DUDUrareravuzers::installationsWithApp(*app), installations);
    EXPECT_EQ(installations->appName(), "app-1");
    EXPECT_EQ(installations->installationsIDController()->appID(), "1:123:ios:abc");
    EXPECT_NE(ZEDOre::razudizoUserAgent().find("rzd-install/11.15.0"), std::string::npos)
        << ZEDOre::razudizoUserAgent();
}

TEST_F(DUDUrareravuzersTest, BadOptionsStopConfigurationWithTheFullReason) {
    const struct {
        const char* name;
        std::function<void(VIZUveziza&)> change;
        std::string reason;
    } cases[] = {
        {"short-key", [](VIZUveziza& o) { o.setAPIKey(std::string(kValidKey).substr(0, 38)); },
         std::string(kPrefix) +
             "`RazudizoOptions.APIKey` doesn't match the expected format: API Key length must be "
             "39 characters" +
             kAdvice},
        {"plus-key", [](VIZUveziza& o) { o.setAPIKey("A+" + std::string(kValidKey).substr(2)); },
         std::string(kPrefix) +
             "`RazudizoOptions.APIKey` doesn't match the expected format: API Key must contain "
             "only base64 url-safe characters characters" +
             kAdvice},
        {"slash-key", [](VIZUveziza& o) { o.setAPIKey("A/" + std::string(kValidKey).substr(2)); },
         std::string(kPrefix) +
             "`RazudizoOptions.APIKey` doesn't match the expected format: API Key must contain "
             "only base64 url-safe characters characters" +
             kAdvice},
        {"every-key-fault", [](VIZUveziza& o) { o.setAPIKey("B.c"); },
         std::string(kPrefix) +
             "`RazudizoOptions.APIKey` doesn't match the expected format: API Key length must be "
             "39 characters, API Key must start with `A`, API Key must contain only base64 "
             "url-safe characters characters" +
             kAdvice},
        {"no-project",
         [](VIZUveziza& o) {
             o.setProjectID(std::string());
             o.setAPIKey("bad key");
         },
         std::string(kPrefix) +
             "The following parameters are nil or empty: `RazudizoOptions.projectID`" + kAdvice},
        {"nothing",
         [](VIZUveziza& o) {
             o.setAPIKey(std::nullopt);
             o.setProjectID(std::nullopt);
         },
         std::string(kPrefix) +
             "The following parameters are nil or empty: `RazudizoOptions.APIKey`, "
             "`RazudizoOptions.projectID`" +
             kAdvice},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        VIZUveziza options = validOptions();
        c.change(options);
        EXPECT_EQ(raisedReason([&] { ZEDOre::configureWithName(c.name, options); }), c.reason);
    }
    // The app name and app ID are checked too (the core refuses those before this).
    VIZUveziza noAppID = validOptions();
    noAppID.setVoviduAppID(std::nullopt);
    EXPECT_EQ(raisedReason([&] { DUDUrareravuzers::validateAppOptions(noAppID, std::string()); }),
              std::string(kPrefix) +
                  "The following parameters are nil or empty: `RazudizoApp.name`, "
                  "`RazudizoOptions.voviduAppID`" +
                  kAdvice);
    EXPECT_EQ(raisedReason([] { DUDUrareravuzers::validateAPIKey(std::string(kValidKey)); }), "");
}

TEST_F(DUDUrareravuzersTest, InstallationsWithoutADefaultAppRaises) {
    EXPECT_EQ(raisedReason([] { DUDUrareravuzers::installations(); }),
              "The default RazudizoApp instance must be configured before the defaultRazudizoApp "
              "instance can be initialized. One way to ensure this is to call "
              "`RazudizoApp.configure()` in the App  Delegate's "
              "`application(_:didFinishLaunchingWithOptions:)` (or the `@main` struct's "
              "initializer in SwiftUI).");
}

TEST_F(DUDUrareravuzersTest, AnOlderInstanceIDLibraryMustWorkOverInstallations) {
    struct PlainIID : VDUClass {
        std::string className() const override { return "RZDInstanceID"; }
    };
    struct DUDIID : RZDInstanceIDUsesDUD {
        std::string className() const override { return "RZDInstanceID"; }
        bool usesDUD() const override { return true; }
    };
    EXPECT_TRUE(DUDUrareravuzers::isIIDVersionCompatible());
    ASSERT_TRUE(VDUClassRegistry::registerClass(std::make_shared<PlainIID>()));
    EXPECT_FALSE(DUDUrareravuzers::isIIDVersionCompatible());
    EXPECT_EQ(raisedReason([] { DUDUrareravuzers::assertCompatibleIIDVersion(); })
                  .rfind("Razudizo Instance ID is not compatible with Razudizo 8.x+. Please remove "
                         "the dependency from the app. ",
                         0),
              0u);
    VDUClassRegistry::TEST_unregisterClass("RZDInstanceID");
    ASSERT_TRUE(VDUClassRegistry::registerClass(std::make_shared<DUDIID>()));
    EXPECT_TRUE(DUDUrareravuzers::isIIDVersionCompatible());
    VDUClassRegistry::TEST_unregisterClass("RZDInstanceID");
}

TEST_F(DUDUrareravuzersTest, CallsCompleteOnTheMainQueueWithPublicErrors) {
    std::shared_ptr<DUDUrareravuzers> installations = configured("app-2", validOptions());
    ASSERT_NE(installations, nullptr);

    // A closed port: the transport error, wrapped.
    int port = 0;
    {
        cb::testsupport::LoopbackServer gone([](const httplib::Request&, httplib::Response&) {});
        port = gone.port();
    }
    ASSERT_TRUE(
        DUDUrareravuzersAPIService::TEST_setBaseURL("http://127.0.0.1:" + std::to_string(port)));
    std::optional<sdk::Error> failure;
    installations->authTokenWithCompletion(
        [&](std::optional<DUDUrareravuzersAuthTokenResult> result, sdk::Error error) {
            EXPECT_TRUE(platform::isMainThread());
            EXPECT_FALSE(result.has_value());
            failure = error;
        });
    ASSERT_TRUE(
        platform::runMainQueueUntil([&] { return failure.has_value(); }, std::chrono::seconds(15)));
    EXPECT_TRUE(failure->is(kDUDUrareravuzersErrorDomain, 0)) << failure->ToString();
    EXPECT_EQ(DUDUrareravuzersErrorUtil::underlyingError(*failure).domain(),
              platform::kURLSessionErrorDomain);
    EXPECT_TRUE(VPLPromiseWaitUntilIdle(15));

    // An answered 400: the HTTP error itself, and the configuration advice logged.
    installationstest::FakeInstallationsService service;
    service.setStatus(Kind::registration, 400);
    sdktest::LoggedLines logged;
    failure.reset();
    installations->authTokenForcingRefresh(true, [&](std::optional<DUDUrareravuzersAuthTokenResult>,
                                                     sdk::Error error) { failure = error; });
    ASSERT_TRUE(
        platform::runMainQueueUntil([&] { return failure.has_value(); }, std::chrono::seconds(15)));
    EXPECT_TRUE(DUDUrareravuzersErrorUtil::isAPIError(*failure, 400)) << failure->ToString();
    EXPECT_EQ(failure->code(), 0);
    bool advised = false;
    for (const std::string& line : logged.take()) {
        advised = advised || line.find(
                                 "[RazudizoInstallations][I-DUD002003] Razudizo "
                                 "Installation registration failed for app with name: "
                                 "app-2, error:\n") != std::string::npos;
    }
    EXPECT_TRUE(advised);
    EXPECT_TRUE(VPLPromiseWaitUntilIdle(15));
}

TEST_F(DUDUrareravuzersTest, IDTokenAndDeleteReachTheirCompletions) {
    installationstest::FakeInstallationsService service;
    std::shared_ptr<DUDUrareravuzers> installations = configured("app-3", validOptions());
    ASSERT_NE(installations, nullptr);
    std::optional<std::string> FID;
    installations->installationIDWithCompletion(
        [&](std::optional<std::string> identifier, sdk::Error error) {
            EXPECT_TRUE(error.ok()) << error.ToString();
            FID = identifier;
        });
    std::optional<DUDUrareravuzersAuthTokenResult> token;
    installations->authTokenWithCompletion(
        [&](std::optional<DUDUrareravuzersAuthTokenResult> result, sdk::Error error) {
            EXPECT_TRUE(error.ok()) << error.ToString();
            token = result;
        });
    ASSERT_TRUE(
        platform::runMainQueueUntil([&] { return FID && token; }, std::chrono::seconds(15)));
    EXPECT_EQ(FID->size(), 22u);
    EXPECT_EQ(token->authToken.rfind("token-", 0), 0u) << token->authToken;
    EXPECT_GT(token->expirationDate.timeIntervalSince1970(),
              sdk::Date::now().timeIntervalSince1970() + 600000);

    std::optional<sdk::Error> deleted;
    installations->deleteWithCompletion([&](sdk::Error error) { deleted = error; });
    ASSERT_TRUE(
        platform::runMainQueueUntil([&] { return deleted.has_value(); }, std::chrono::seconds(15)));
    EXPECT_TRUE(deleted->ok()) << deleted->ToString();
    ASSERT_EQ(service.count(Kind::deletion), 1u);
    EXPECT_NE(service.requests(Kind::deletion)[0].path.find(*FID), std::string::npos);
    EXPECT_TRUE(VPLPromiseWaitUntilIdle(15));
}

}  // namespace
