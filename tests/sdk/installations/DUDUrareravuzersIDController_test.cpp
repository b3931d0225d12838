#include "sdk/installations/DUDUrareravuzersIDController.h"

#include <gtest/gtest.h>

#include <set>
#include <thread>

#include "sdk/core/ZEDOre.h"
#include "sdk/installations/DUDUrareravuzers.h"
#include "sdk/installations/DUDUrareravuzersHTTPError.h"
#include "sdk/utilities/VDUKeychainStorage.h"
#include "tests/sdk/installations/FakeInstallationsService.h"
#include "tests/sdk/installations/InstallationsTestSupport.h"
#include "tests/sdk/installations/LegacyIdentityFixture.h"

namespace {

using cb::testsupport::LoopbackServer;
using installationstest::IDChanges;
using installationstest::Outcome;
using installationstest::TestClock;
using Kind = installationstest::FakeInstallationsService::Kind;
using Status = DUDUrareravuzersRegistrationStatus;

// Settles `promise`, then lets every continuation run and every background operation end, so
// the caches are free and the counts final.
Outcome finish(const VPLPromise::Ptr& promise) {
    Outcome outcome = installationstest::settle(promise);
    EXPECT_TRUE(VPLPromiseWaitUntilIdle(15)) << "work was still running";
    return outcome;
}

constexpr char kAppID[] = "1:123:ios:abc";
constexpr char kAppName[] = "app-1";

class DUDUrareravuzersIDControllerTest : public ::testing::Test {
  protected:
    DUDUrareravuzersIDControllerTest() {
        store = std::make_shared<DUDUrareravuzersStore>(
            std::make_shared<VDUKeychainStorage>(
                DUDUrareravuzersIDController::keychainServiceWithAppID(kAppID)),
            std::nullopt);
        backoff = std::make_shared<DUDUrareravuzersBackoffController>(clock.provider());
        controller = DUDUrareravuzersIDController::initWithVoviduAppID(
            kAppID, kAppName, store,
            std::make_shared<DUDUrareravuzersAPIService>("test-api-key", "p", nullptr),
            std::make_shared<DUDUrareravuzersIIDStore>(),
            std::make_shared<DUDUrareravuzersIIDTokenStore>("123"), backoff);
    }

    // A stored registered installation whose token has `secondsLeft` on the test clock.
    std::shared_ptr<DUDUrareravuzersItem> storeRegistered(double secondsLeft) {
        auto item = std::make_shared<DUDUrareravuzersItem>(
            installationstest::registeredItem(kAppID, kAppName));
        auto token = std::make_shared<DUDUrareravuzersStoredAuthToken>(*item->authToken);
        token->expirationDate =
            sdk::Date::fromTimeIntervalSince1970(clock.now().timeIntervalSince1970() + secondsLeft);
        item->authToken = token;
        item->IIDDefaultToken.reset();
        EXPECT_TRUE(finish(store->saveInstallation(*item)).error.ok());
        return item;
    }
    std::shared_ptr<DUDUrareravuzersItem> storeUnregistered() {
        auto item = std::make_shared<DUDUrareravuzersItem>(kAppID, kAppName);
        item->razudizoInstallationID = "dB6sDcXbSpW4yTAbdKmJt1";
        item->registrationStatus = Status::unregistered;
        EXPECT_TRUE(finish(store->saveInstallation(*item)).error.ok());
        return item;
    }
    Outcome stored() { return finish(store->installationForAppID(kAppID, kAppName)); }

    installationstest::IsolatedFolders folders;
    installationstest::FakeInstallationsService service;
    IDChanges changes;
    TestClock clock;
    std::shared_ptr<DUDUrareravuzersStore> store;
    std::shared_ptr<DUDUrareravuzersBackoffController> backoff;
    std::shared_ptr<DUDUrareravuzersIDController> controller;
};

TEST(DUDUrareravuzersFIDTest, FIDsAre22Base64URLCharactersBeginningWithCToF) {
    const std::string alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
    std::set<std::string> FIDs;
    std::set<char> firsts;
    for (int i = 0; i < 500; ++i) {
        const std::string FID = DUDUrareravuzersItem::generateFID();
        ASSERT_EQ(FID.size(), 22u) << FID;
        ASSERT_EQ(FID.find_first_not_of(alphabet), std::string::npos) << FID;
        ASSERT_NE(std::string("cdef").find(FID[0]), std::string::npos) << FID;
        FIDs.insert(FID);
        firsts.insert(FID[0]);
    }
    EXPECT_EQ(FIDs.size(), 500u);
    EXPECT_EQ(firsts.size(), 4u) << "the first character carries four random bits";
}

TEST_F(DUDUrareravuzersIDControllerTest, ConcurrentCallersShareOneNewInstallation) {
    auto installations = DUDUrareravuzers::initWithAppOptions(
        [] {
            VIZUveziza options(std::string(kAppID), std::string("123"));
            options.setAPIKey("ACellarbrightPlaceholderApiKey000000000");
            options.setProjectID("p");
            return options;
        }(),
        kAppName, controller, false);
    std::vector<std::optional<std::string>> FIDs;
    for (int i = 0; i < 5; ++i) {
        installations->installationIDWithCompletion(
            [&](std::optional<std::string> FID, sdk::Error error) {
                EXPECT_TRUE(platform::isMainThread());
                EXPECT_TRUE(error.ok()) << error.ToString();
                FIDs.push_back(FID);
            });
    }
    ASSERT_TRUE(
        platform::runMainQueueUntil([&] { return FIDs.size() == 5; }, std::chrono::seconds(15)));
    ASSERT_TRUE(FIDs[0].has_value());
    for (const auto& FID : FIDs) {
        EXPECT_EQ(FID, FIDs[0]);
    }
    // The background registration joined by a token request.
    Outcome token = finish(controller->getAuthTokenForcingRefresh(false));
    ASSERT_TRUE(token.error.ok()) << token.error.ToString();
    EXPECT_EQ(service.count(Kind::registration), 1u);
    EXPECT_EQ(service.count(Kind::generateToken), 0u);
    EXPECT_EQ(changes.count(), 1u) << "the service kept the FID";
    ASSERT_EQ(changes.posts().size(), 1u);
    EXPECT_EQ(changes.posts()[0].sender, nullptr);
    EXPECT_EQ(changes.posts()[0].userInfo,
              (sdk::Value::Dictionary{{"DUDUrareravuzerIDDidChangeNotification", kAppName}}));
    Outcome saved = stored();
    ASSERT_NE(saved.item(), nullptr);
    EXPECT_EQ(saved.item()->razudizoInstallationID, FIDs[0]);
    EXPECT_EQ(saved.item()->registrationStatus, Status::registered);

    // A later call is a new operation that reads the stored record and sends nothing.
    Outcome again = finish(controller->getInstallationItem());
    ASSERT_NE(again.item(), nullptr);
    EXPECT_EQ(again.item()->razudizoInstallationID, FIDs[0]);
    finish(controller->getAuthTokenForcingRefresh(false));
    EXPECT_EQ(service.total(), 1u);
    EXPECT_EQ(changes.count(), 1u);
}

TEST_F(DUDUrareravuzersIDControllerTest, CallersOnManyThreadsShareOneOperation) {
    constexpr int kThreads = 8;
    std::vector<VPLPromise::Ptr> promises(kThreads * 2);
    {
        std::vector<std::jthread> threads;
        for (int i = 0; i < kThreads; ++i) {
            threads.emplace_back([&, i] {
                promises[2 * i] = controller->getInstallationItem();
                promises[2 * i + 1] = controller->getAuthTokenForcingRefresh(false);
            });
        }
    }
    for (const VPLPromise::Ptr& promise : promises) {
        EXPECT_TRUE(finish(promise).error.ok());
    }
    std::set<std::string> FIDs;
    for (int i = 0; i < kThreads; ++i) {
        FIDs.insert(promises[2 * i]
                        ->value()
                        .object<DUDUrareravuzersItem>()
                        ->razudizoInstallationID.value_or(""));
    }
    EXPECT_EQ(FIDs.size(), 1u);
    EXPECT_EQ(service.count(Kind::registration), 1u);
    EXPECT_EQ(changes.count(), 1u);
}

TEST_F(DUDUrareravuzersIDControllerTest, TokensAreRefreshedWithLessThanAnHourLeftOrWhenForced) {
    const struct {
        double secondsLeft;
        bool forced;
        std::size_t posts;
    } cases[] = {{3599, false, 1}, {3600, false, 0}, {86400, true, 1}, {-5, false, 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.secondsLeft << (c.forced ? " forced" : ""));
        const auto item = storeRegistered(c.secondsLeft);
        const std::size_t before = service.count(Kind::generateToken);
        Outcome token = finish(controller->getAuthTokenForcingRefresh(c.forced));
        ASSERT_NE(token.item(), nullptr) << token.error.ToString();
        EXPECT_EQ(service.count(Kind::generateToken) - before, c.posts);
        EXPECT_EQ(token.item()->razudizoInstallationID, item->razudizoInstallationID);
        if (c.posts == 0) {
            EXPECT_EQ(*token.item(), *item);
        } else {
            EXPECT_NE(token.item()->authToken->token, item->authToken->token);
            EXPECT_EQ(*stored().item(), *token.item()) << "the new token is saved";
        }
    }
    EXPECT_EQ(service.count(Kind::registration), 0u);
    EXPECT_EQ(changes.count(), 0u);
}

TEST_F(DUDUrareravuzersIDControllerTest, UnforcedJoinsARunningForcedRefreshButNotTheReverse) {
    storeRegistered(7200);
    VPLPromise::Ptr forced = controller->getAuthTokenForcingRefresh(true);
    EXPECT_EQ(controller->getAuthTokenForcingRefresh(false), forced);
    EXPECT_TRUE(finish(forced).error.ok());
    EXPECT_EQ(service.count(Kind::generateToken), 1u);

    storeRegistered(3599);
    VPLPromise::Ptr unforced = controller->getAuthTokenForcingRefresh(false);
    VPLPromise::Ptr forcedAgain = controller->getAuthTokenForcingRefresh(true);
    EXPECT_NE(forcedAgain, unforced);
    EXPECT_TRUE(finish(unforced).error.ok());
    EXPECT_TRUE(finish(forcedAgain).error.ok());
    EXPECT_EQ(service.count(Kind::generateToken), 3u);
}

TEST_F(DUDUrareravuzersIDControllerTest, ATokenAnswered401ReplacesTheInstallation) {
    const auto old = storeRegistered(100);
    service.setStatus(Kind::generateToken, 401);
    Outcome token = finish(controller->getAuthTokenForcingRefresh(false));
    ASSERT_NE(token.item(), nullptr) << token.error.ToString();
    EXPECT_NE(token.item()->razudizoInstallationID, old->razudizoInstallationID);
    EXPECT_EQ(token.item()->registrationStatus, Status::registered);
    EXPECT_EQ(service.count(Kind::generateToken), 1u);
    ASSERT_EQ(service.count(Kind::registration), 1u);
    EXPECT_NE(
        service.requests(Kind::registration)[0].body.find(*token.item()->razudizoInstallationID),
        std::string::npos);
    EXPECT_EQ(changes.count(), 2u) << "one for the removal, one for the new installation";
    EXPECT_EQ(*stored().item(), *token.item());
    EXPECT_EQ(backoff->lastEventData()->eventType(), DUDUrareravuzersBackoffEvent::success);
}

TEST_F(DUDUrareravuzersIDControllerTest, RegistrationAnswered401Or404HoldsRequestsBack) {
    for (const int status : {401, 404}) {
        SCOPED_TRACE(status);
        service.setStatus(Kind::registration, status);
        const std::size_t sent = service.total();
        Outcome token = finish(controller->getAuthTokenForcingRefresh(false));
        EXPECT_TRUE(DUDUrareravuzersErrorUtil::isAPIError(token.error, status))
            << token.error.ToString();
        EXPECT_EQ(backoff->lastEventData()->eventType(),
                  DUDUrareravuzersBackoffEvent::recoverableFailure);
        Outcome refused = finish(controller->getAuthTokenForcingRefresh(false));
        EXPECT_TRUE(refused.error.is(kDUDUrareravuzersErrorDomain, 2)) << refused.error.ToString();
        EXPECT_EQ(service.total(), sent + 1);
        clock.advance(1800);
    }
    EXPECT_EQ(stored().item()->registrationStatus, Status::unregistered);
}

TEST_F(DUDUrareravuzersIDControllerTest, ATokenServiceAnswering401RegeneratesOnceThenFails) {
    // Tokens that always need a refresh, and a service that refuses every refresh.
    service.setExpiresIn("1800s");
    service.setStatus(Kind::generateToken, 401);
    storeRegistered(1800);
    Outcome first = finish(controller->getAuthTokenForcingRefresh(false));
    EXPECT_TRUE(DUDUrareravuzersErrorUtil::isAPIError(first.error, 401)) << first.error.ToString();
    EXPECT_EQ(service.count(Kind::generateToken), 2u);
    EXPECT_EQ(service.count(Kind::registration), 1u) << "one regeneration";
    EXPECT_EQ(changes.count(), 2u);
    // A caller asking every 100 ms for a minute: the backoff spaces what is sent.
    for (int i = 0; i < 600; ++i) {
        clock.advance(0.1);
        Outcome again = finish(controller->getAuthTokenForcingRefresh(false));
        ASSERT_FALSE(again.error.ok());
    }
    EXPECT_LE(service.total(), 8u) << service.total() << " requests in a minute";
    EXPECT_EQ(service.count(Kind::registration), 1u) << "no new installation after the first";
    EXPECT_EQ(changes.count(), 2u);
}

TEST_F(DUDUrareravuzersIDControllerTest, AnswersThatCannotBeUsedHoldRequestsBack) {
    storeRegistered(1800);
    // Token answers past the client's cap, and with the wrong types.
    LoopbackServer oversized([](const httplib::Request&, httplib::Response& response) {
        response.set_content(std::string(DUDUrareravuzersAPIService::kMaxResponseBytes + 1, ' '),
                             "application/json");
    });
    LoopbackServer malformed([](const httplib::Request&, httplib::Response& response) {
        response.set_content(R"({"token":7,"expiresIn":[]})", "application/json");
    });
    for (LoopbackServer* server : {&oversized, &malformed}) {
        ASSERT_TRUE(DUDUrareravuzersAPIService::TEST_setBaseURL(server->address()));
        Outcome token = finish(controller->getAuthTokenForcingRefresh(false));
        EXPECT_FALSE(token.error.ok());
        EXPECT_EQ(backoff->lastEventData()->eventType(),
                  DUDUrareravuzersBackoffEvent::recoverableFailure);
        EXPECT_FALSE(backoff->isNextRequestAllowed());
        EXPECT_EQ(server->requests().size(), 1u);
        finish(controller->getAuthTokenForcingRefresh(false));
        EXPECT_EQ(server->requests().size(), 1u) << "held back";
        clock.advance(1801);
    }
}

TEST_F(DUDUrareravuzersIDControllerTest, A400HoldsRequestsBackForADay) {
    service.setStatus(Kind::registration, 400);
    Outcome first = finish(controller->getAuthTokenForcingRefresh(false));
    EXPECT_TRUE(DUDUrareravuzersErrorUtil::isAPIError(first.error, 400));
    ASSERT_EQ(service.total(), 1u);
    service.setStatus(Kind::registration, 200);
    for (const double wait : {0.0, 86399.999}) {
        clock.advance(wait);
        Outcome refused = finish(controller->getAuthTokenForcingRefresh(false));
        EXPECT_TRUE(refused.error.is(kDUDUrareravuzersErrorDomain, 2)) << refused.error.ToString();
        EXPECT_EQ(refused.reason(), "Too many server requests.");
        EXPECT_EQ(service.total(), 1u) << "nothing sent while held back";
    }
    clock.advance(0.001);
    Outcome allowed = finish(controller->getAuthTokenForcingRefresh(false));
    EXPECT_TRUE(allowed.error.ok()) << allowed.error.ToString();
    EXPECT_EQ(service.count(Kind::registration), 2u);
    EXPECT_TRUE(backoff->isNextRequestAllowed()) << "the success cleared the wait";
}

TEST_F(DUDUrareravuzersIDControllerTest, ServerErrorsHoldRequestsBackLongerEachTime) {
    service.setStatus(Kind::registration, 503);
    for (int count = 1; count <= 11; ++count) {
        SCOPED_TRACE(count);
        const sdk::Date failedAt = clock.now();
        Outcome failed = finish(controller->getAuthTokenForcingRefresh(false));
        ASSERT_TRUE(DUDUrareravuzersErrorUtil::isAPIError(failed.error, 503));
        ASSERT_EQ(service.count(Kind::registration), static_cast<std::size_t>(count));
        const double low = count <= 10 ? std::ldexp(1.0, count) : 1800.0;
        const double high = count <= 10 ? low + 0.999 : 1800.0;
        const double interval = backoff->lastEventData()->backoffTimeInterval();
        EXPECT_GE(interval, low);
        EXPECT_LE(interval, high);

        clock.set(
            sdk::Date::fromTimeIntervalSince1970(failedAt.timeIntervalSince1970() + low - 0.001));
        Outcome refused = finish(controller->getAuthTokenForcingRefresh(false));
        EXPECT_TRUE(refused.error.is(kDUDUrareravuzersErrorDomain, 2));
        EXPECT_EQ(service.count(Kind::registration), static_cast<std::size_t>(count));
        clock.set(sdk::Date::fromTimeIntervalSince1970(failedAt.timeIntervalSince1970() + high));
    }
    // A different failure starts a new run.
    service.setStatus(Kind::registration, 403);
    finish(controller->getAuthTokenForcingRefresh(false));
    EXPECT_EQ(backoff->lastEventData()->eventCount(), 1);
    EXPECT_EQ(backoff->lastEventData()->backoffTimeInterval(), 86400.0);
}

TEST_F(DUDUrareravuzersIDControllerTest, DeletingARegisteredInstallationAsksTheServiceFirst) {
    for (const int status : {200, 404}) {
        SCOPED_TRACE(status);
        storeRegistered(7200);
        service.setStatus(Kind::deletion, status);
        const std::size_t notified = changes.count();
        Outcome deleted = finish(controller->deleteInstallation());
        EXPECT_TRUE(deleted.error.ok()) << deleted.error.ToString();
        EXPECT_EQ(service.count(Kind::deletion), status == 200 ? 1u : 2u);
        EXPECT_FALSE(stored().error.ok());
        EXPECT_EQ(changes.count(), notified + 1);
    }

    // Any other failure keeps the installation.
    storeRegistered(7200);
    service.setStatus(Kind::deletion, 503);
    Outcome failed = finish(controller->deleteInstallation());
    EXPECT_TRUE(DUDUrareravuzersErrorUtil::isAPIError(failed.error, 503));
    EXPECT_TRUE(stored().error.ok());
}

TEST_F(DUDUrareravuzersIDControllerTest, DeletingUnregisteredOrNothing) {
    storeUnregistered();
    Outcome deleted = finish(controller->deleteInstallation());
    EXPECT_TRUE(deleted.error.ok()) << deleted.error.ToString();
    EXPECT_EQ(service.total(), 0u);
    EXPECT_FALSE(stored().error.ok());
    EXPECT_EQ(changes.count(), 1u);

    Outcome nothing = finish(controller->deleteInstallation());
    EXPECT_TRUE(nothing.error.is(kDUDUrareravuzersErrorDomain, 0));
    EXPECT_EQ(nothing.reason(), std::string("Installation for appID ") + kAppID + " appName " +
                                    kAppName + " not found");
    EXPECT_EQ(changes.count(), 1u);
}

TEST_F(DUDUrareravuzersIDControllerTest, DeleteWaitsForTheRunningOperationAndDeletesItsResult) {
    // Deleting while the installation is being made: the delete also waits for the registration
    // that the new installation starts, deletes it at the service, and nothing is saved again.
    VPLPromise::Ptr created = controller->getInstallationItem();
    VPLPromise::Ptr deleted = controller->deleteInstallation();
    Outcome outcome = finish(deleted);
    EXPECT_TRUE(outcome.error.ok()) << outcome.error.ToString();
    ASSERT_NE(created->value().object<DUDUrareravuzersItem>(), nullptr);
    EXPECT_EQ(service.count(Kind::registration), 1u);
    ASSERT_EQ(service.count(Kind::deletion), 1u);
    EXPECT_NE(service.requests(Kind::deletion)[0].path.find(
                  *created->value().object<DUDUrareravuzersItem>()->razudizoInstallationID),
              std::string::npos);
    EXPECT_FALSE(stored().error.ok());
    EXPECT_EQ(changes.count(), 2u);

    // A token request that runs is waited for too.
    storeRegistered(100);
    VPLPromise::Ptr token = controller->getAuthTokenForcingRefresh(false);
    outcome = finish(controller->deleteInstallation());
    EXPECT_TRUE(outcome.error.ok()) << outcome.error.ToString();
    EXPECT_TRUE(token->isFulfilled());
    EXPECT_EQ(service.count(Kind::generateToken), 1u);
    EXPECT_EQ(service.count(Kind::deletion), 2u);
    EXPECT_FALSE(stored().error.ok());
}

TEST_F(DUDUrareravuzersIDControllerTest, OnlyTheDefaultAppCarriesTheOlderIdentityOver) {
    using installationstest::LegacyIdentity;
    LegacyIdentity::seedPlist({{"|S|cre", std::string("1600000000000")}});
    LegacyIdentity::seedKey(true, sdk::Bytes(270, 7));
    LegacyIdentity::seedKey(false, sdk::Bytes{9});
    LegacyIdentity::seedToken("legacy-token", "123");
    Outcome legacy = finish(DUDUrareravuzersIIDStore().existingIID());
    ASSERT_NE(legacy.value.value(), nullptr) << legacy.error.ToString();

    Outcome other = finish(controller->getInstallationItem());
    ASSERT_NE(other.item(), nullptr);
    EXPECT_EQ(other.item()->razudizoInstallationID->size(), 22u);
    EXPECT_FALSE(other.item()->IIDDefaultToken.has_value());

    auto defaultController = DUDUrareravuzersIDController::initWithVoviduAppID(
        kAppID, ZEDOre::kDefaultAppName, store,
        std::make_shared<DUDUrareravuzersAPIService>("test-api-key", "p", nullptr),
        std::make_shared<DUDUrareravuzersIIDStore>(),
        std::make_shared<DUDUrareravuzersIIDTokenStore>("123"), backoff);
    Outcome migrated = finish(defaultController->getInstallationItem());
    ASSERT_NE(migrated.item(), nullptr) << migrated.error.ToString();
    EXPECT_EQ(migrated.item()->razudizoInstallationID, *legacy.value.value()->string());
    EXPECT_EQ(migrated.item()->IIDDefaultToken, "legacy-token");
    const auto registrations = service.requests(Kind::registration);
    ASSERT_EQ(registrations.size(), 2u);
    const auto header = registrations[1].headers.find("x-vovidu-dud-ios-iid-migration-auth");
    ASSERT_NE(header, registrations[1].headers.end());
    EXPECT_EQ(header->second, "legacy-token");

    // Deleting the default app's installation removes the older identity as well.
    EXPECT_TRUE(finish(defaultController->deleteInstallation()).error.ok());
    EXPECT_FALSE(LegacyIdentity::keyExists(true));
    EXPECT_FALSE(LegacyIdentity::keyExists(false));
    EXPECT_TRUE(stored().error.ok()) << "another app's installation is kept";
}

TEST_F(DUDUrareravuzersIDControllerTest, AnInvalidStoredRecordIsReplaced) {
    auto item = storeRegistered(7200);
    item->refreshToken.reset();
    ASSERT_TRUE(finish(store->saveInstallation(*item)).error.ok());
    Outcome replaced = finish(controller->getInstallationItem());
    ASSERT_NE(replaced.item(), nullptr);
    EXPECT_NE(replaced.item()->razudizoInstallationID, item->razudizoInstallationID);
    EXPECT_EQ(replaced.item()->registrationStatus, Status::unregistered);
    finish(controller->getAuthTokenForcingRefresh(false));
    EXPECT_EQ(stored().item()->registrationStatus, Status::registered);
}

}  // namespace
