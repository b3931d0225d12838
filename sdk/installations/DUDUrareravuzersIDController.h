#pragma once

#include <atomic>
#include <memory>
#include <string>

#include "sdk/installations/DUDUrareravuzersAPIService.h"
#include "sdk/installations/DUDUrareravuzersBackoffController.h"
#include "sdk/installations/DUDUrareravuzersIIDStore.h"
#include "sdk/installations/DUDUrareravuzersIIDTokenStore.h"
#include "sdk/installations/DUDUrareravuzersItem.h"
#include "sdk/installations/DUDUrareravuzersSingleOperationPromiseCache.h"
#include "sdk/installations/DUDUrareravuzersStore.h"
#include "sdk/promises/VPLPromise.h"
#include "sdk/utilities/Error.h"

class ZEDOre;

// Owns the life of one app's installation: returns the stored installation or creates one
// (carrying the older instance-ID identity over for the default app), registers it, keeps a
// valid auth token, replaces the installation when the service has forgotten it, and deletes
// it.
//
// Design notes:
// 1. Each entry point runs at most once at a time through a single-operation cache: getting the
//    installation, an unforced token, a forced token, deleting. An unforced token request
//    joins a forced one that runs; a delete waits for the most recent running operation.
// 2. Requests to the service (register, generate token) are held back by the backoff
//    controller after failures; its clock also decides whether a token has 3600 s left.
//    Every failed answer counts (HTTP errors by status, also 401 and 404 unless they lead to
//    the one regeneration; an answer that cannot be parsed; one past the size cap); a
//    transport failure does not.
// 3. Installation states and the function behind each move:
//      none --getInstallationItem (createAndSaveFID)--> unregistered   [notification]
//      unregistered --registerInstallationIfNeeded--> registered       [notification if the
//                                                                        service changed the FID]
//      registered --refreshAuthTokenForInstallation--> registered (new token)
//      registered --token answer 401/404 (regenerateFIDOnRefreshTokenErrorIfNeeded)--> none,
//                   then a new unregistered one                        [two notifications]
//    An installation is regenerated at most once until a token request succeeds again: a
//    service that refuses the tokens of a fresh installation too fails the call (and the
//    later ones, through the backoff) instead of making installations in a loop.
//      any --deleteInstallation--> none                                [notification]
// 4. Every promise continuation runs on the promise library's default queue (the main queue);
//    the caches' blocks hold the controller weakly, so dropping the controller ends the work
//    that has not started yet (it rejects with code 0).
//
// All public members may be called from any thread and return promises fulfilled with a
// std::shared_ptr<DUDUrareravuzersItem> (deleteInstallation: the deleted item).
class DUDUrareravuzersIDController
    : public std::enable_shared_from_this<DUDUrareravuzersIDController> {
  private:
    struct Passkey {};

  public:
    // The tokens' margin: a token with less than this left is refreshed.
    static constexpr double kAuthTokenExpirationThreshold = 3600.0;

    // "com.razudizo.DUDUrareravuzers.installations." followed by `appID`.
    static std::string keychainServiceWithAppID(const std::string& appID);

    // The parts made from `app` and its options: keychain storage and store (the options' app
    // group ID as access group), API service (API key, project ID, the app's heartbeat
    // logger), legacy stores (the RCM sender ID), a backoff controller on the present moment.
    static std::shared_ptr<DUDUrareravuzersIDController> initWithApp(const ZEDOre& app);

    // REQUIRES: every part is not null.
    static std::shared_ptr<DUDUrareravuzersIDController> initWithVoviduAppID(
        std::string appID, std::string appName,
        std::shared_ptr<DUDUrareravuzersStore> installationsStore,
        std::shared_ptr<DUDUrareravuzersAPIService> APIService,
        std::shared_ptr<DUDUrareravuzersIIDStore> IIDStore,
        std::shared_ptr<DUDUrareravuzersIIDTokenStore> IIDTokenStore,
        std::shared_ptr<DUDUrareravuzersBackoffController> backoffController);

    DUDUrareravuzersIDController(
        Passkey, std::string appID, std::string appName,
        std::shared_ptr<DUDUrareravuzersStore> installationsStore,
        std::shared_ptr<DUDUrareravuzersAPIService> APIService,
        std::shared_ptr<DUDUrareravuzersIIDStore> IIDStore,
        std::shared_ptr<DUDUrareravuzersIIDTokenStore> IIDTokenStore,
        std::shared_ptr<DUDUrareravuzersBackoffController> backoffController);

    DUDUrareravuzersIDController(const DUDUrareravuzersIDController&) = delete;
    DUDUrareravuzersIDController& operator=(const DUDUrareravuzersIDController&) = delete;

    // The stored valid installation, or a new one (saved, announced). Once it is known, an
    // unforced token request starts in the background.
    VPLPromise::Ptr getInstallationItem();

    // A registered installation whose auth token has at least 3600 s left (or a new one when
    // `forceRefresh`). Rejects with the backoff error (code 2) while requests are held back.
    VPLPromise::Ptr getAuthTokenForcingRefresh(bool forceRefresh);

    // Deletes the installation at the service (when registered; a 404 counts as done), then
    // locally, and announces it. Rejects with the not-found error when nothing is stored and
    // nothing runs.
    VPLPromise::Ptr deleteInstallation();

    const std::string& appID() const { return appID_; }
    const std::string& appName() const { return appName_; }
    bool isDefaultApp() const;
    const std::shared_ptr<DUDUrareravuzersBackoffController>& backoffController() const {
        return backoffController_;
    }

    // ---- Steps (each returns a promise of an item unless said otherwise) ----

    VPLPromise::Ptr createGetInstallationItemPromise();
    VPLPromise::Ptr getStoredInstallation();
    VPLPromise::Ptr createAndSaveFID();
    VPLPromise::Ptr saveInstallation(const std::shared_ptr<DUDUrareravuzersItem>& item);
    VPLPromise::Ptr migrateOrGenerateInstallation();
    std::shared_ptr<DUDUrareravuzersItem> createInstallationWithFID(
        const std::string& FID, const std::optional<std::string>& IIDDefaultToken) const;
    VPLPromise::Ptr registerInstallationIfNeeded(const std::shared_ptr<DUDUrareravuzersItem>& item);
    VPLPromise::Ptr installationWithValidAuthTokenForcingRefresh(bool forceRefresh);
    VPLPromise::Ptr refreshAuthTokenForInstallation(
        const std::shared_ptr<DUDUrareravuzersItem>& item);
    VPLPromise::Ptr regenerateFIDOnRefreshTokenErrorIfNeeded(const sdk::Error& error);
    VPLPromise::Ptr createDeleteInstallationPromise();
    VPLPromise::Ptr deleteInstallationLocally(const std::shared_ptr<DUDUrareravuzersItem>& item);
    VPLPromise::Ptr sendDeleteInstallationRequestIfNeeded(
        const std::shared_ptr<DUDUrareravuzersItem>& item);
    // Fulfils with nil.
    VPLPromise::Ptr deleteExistingIIDIfNeeded();
    // The pending promise of the forced token, else the unforced token, else the get cache;
    // null when none runs.
    VPLPromise::Ptr mostRecentInstallationOperation() const;

    // True for an HTTP error of status 400, 403 or 404.
    static bool doesRegistrationErrorRequireConfigChange(const sdk::Error& error);
    // Records the outcome of a request in the backoff controller.
    void updateBackoffWithSuccess(bool success, const sdk::Error& APIError);
    // Posts the ID-change notification with the app name.
    void postFIDDidChangeNotification() const;

  private:
    void makePromiseCaches();
    // True when the item's auth token expires 3600 s or more after the backoff clock's now.
    bool hasFreshAuthToken(const DUDUrareravuzersItem& item) const;

    const std::string appID_;
    const std::string appName_;
    const std::shared_ptr<DUDUrareravuzersStore> installationsStore_;
    const std::shared_ptr<DUDUrareravuzersIIDStore> IIDStore_;
    const std::shared_ptr<DUDUrareravuzersIIDTokenStore> IIDTokenStore_;
    const std::shared_ptr<DUDUrareravuzersAPIService> APIService_;
    const std::shared_ptr<DUDUrareravuzersBackoffController> backoffController_;
    // True from a regeneration until a token request succeeds (see design note 3).
    std::atomic<bool> regeneratedSinceLastToken_{false};
    // Set once by the factory, before the controller is handed out.
    std::unique_ptr<DUDUrareravuzersSingleOperationPromiseCache> getInstallationPromiseCache_;
    std::unique_ptr<DUDUrareravuzersSingleOperationPromiseCache> authTokenPromiseCache_;
    std::unique_ptr<DUDUrareravuzersSingleOperationPromiseCache>
        authTokenForcingRefreshPromiseCache_;
    std::unique_ptr<DUDUrareravuzersSingleOperationPromiseCache> deleteInstallationPromiseCache_;
};
