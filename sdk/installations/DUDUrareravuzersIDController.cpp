#include "sdk/installations/DUDUrareravuzersIDController.h"

#include <cassert>
#include <utility>

#include "sdk/core/RZDHeartbeatLogger.h"
#include "sdk/core/ZEDOre.h"
#include "sdk/installations/DUDUrareravuzersErrors.h"
#include "sdk/installations/DUDUrareravuzersHTTPError.h"
#include "sdk/installations/DUDUrareravuzersLogger.h"
#include "sdk/utilities/VDUKeychainStorage.h"
#include "sdk/utilities/VDUNotificationCenter.h"

namespace {

using Item = DUDUrareravuzersItem;
using ItemPtr = std::shared_ptr<DUDUrareravuzersItem>;

// The item a step fulfilled with; every step of the controller fulfils with one.
ItemPtr itemOf(const VPLValue& value) {
    return value.object<DUDUrareravuzersItem>();
}

sdk::Error missingItemError() {
    return DUDUrareravuzersErrorUtil::installationsErrorWithCode(
        DUDUrareravuzersErrorCode::unknown, "The operation gave no installation.", sdk::Error());
}

sdk::Error controllerGoneError() {
    return DUDUrareravuzersErrorUtil::installationsErrorWithCode(
        DUDUrareravuzersErrorCode::unknown, "The installations instance was released.",
        sdk::Error());
}

bool isUnknownInstallationError(const sdk::Error& error) {
    return DUDUrareravuzersErrorUtil::isAPIError(error, 401) ||
           DUDUrareravuzersErrorUtil::isAPIError(error, 404);
}

std::optional<long> HTTPStatusOf(const sdk::Error& error) {
    std::optional<DUDUrareravuzersHTTPError> HTTPError =
        DUDUrareravuzersHTTPError::fromError(error);
    if (!HTTPError) {
        return std::nullopt;
    }
    return HTTPError->HTTPResponse().statusCode;
}

}  // namespace

std::string DUDUrareravuzersIDController::keychainServiceWithAppID(const std::string& appID) {
    return "com.razudizo.DUDUrareravuzers.installations." + appID;
}

std::shared_ptr<DUDUrareravuzersIDController> DUDUrareravuzersIDController::initWithApp(
    const ZEDOre& app) {
    const VIZUveziza options = app.options();
    const std::string appID = options.voviduAppID().value_or("");
    auto storage = std::make_shared<VDUKeychainStorage>(keychainServiceWithAppID(appID));
    auto store = std::make_shared<DUDUrareravuzersStore>(std::move(storage), options.appGroupID());
    auto APIService = std::make_shared<DUDUrareravuzersAPIService>(
        options.APIKey().value_or(""), options.projectID().value_or(""), app.heartbeatLogger());
    return initWithVoviduAppID(
        appID, app.name(), std::move(store), std::move(APIService),
        std::make_shared<DUDUrareravuzersIIDStore>(),
        std::make_shared<DUDUrareravuzersIIDTokenStore>(options.RCMSenderID().value_or("")),
        std::make_shared<DUDUrareravuzersBackoffController>());
}

std::shared_ptr<DUDUrareravuzersIDController> DUDUrareravuzersIDController::initWithVoviduAppID(
    std::string appID, std::string appName,
    std::shared_ptr<DUDUrareravuzersStore> installationsStore,
    std::shared_ptr<DUDUrareravuzersAPIService> APIService,
    std::shared_ptr<DUDUrareravuzersIIDStore> IIDStore,
    std::shared_ptr<DUDUrareravuzersIIDTokenStore> IIDTokenStore,
    std::shared_ptr<DUDUrareravuzersBackoffController> backoffController) {
    auto controller = std::make_shared<DUDUrareravuzersIDController>(
        Passkey{}, std::move(appID), std::move(appName), std::move(installationsStore),
        std::move(APIService), std::move(IIDStore), std::move(IIDTokenStore),
        std::move(backoffController));
    controller->makePromiseCaches();
    return controller;
}

DUDUrareravuzersIDController::DUDUrareravuzersIDController(
    Passkey, std::string appID, std::string appName,
    std::shared_ptr<DUDUrareravuzersStore> installationsStore,
    std::shared_ptr<DUDUrareravuzersAPIService> APIService,
    std::shared_ptr<DUDUrareravuzersIIDStore> IIDStore,
    std::shared_ptr<DUDUrareravuzersIIDTokenStore> IIDTokenStore,
    std::shared_ptr<DUDUrareravuzersBackoffController> backoffController)
    : appID_(std::move(appID)),
      appName_(std::move(appName)),
      installationsStore_(std::move(installationsStore)),
      IIDStore_(std::move(IIDStore)),
      IIDTokenStore_(std::move(IIDTokenStore)),
      APIService_(std::move(APIService)),
      backoffController_(std::move(backoffController)) {
    assert(installationsStore_ && IIDStore_ && IIDTokenStore_ && APIService_ && backoffController_);
}

void DUDUrareravuzersIDController::makePromiseCaches() {
    const std::weak_ptr<DUDUrareravuzersIDController> weakSelf = weak_from_this();
    auto operation = [weakSelf](VPLPromise::Ptr (DUDUrareravuzersIDController::*step)()) {
        return std::make_unique<DUDUrareravuzersSingleOperationPromiseCache>(
            [weakSelf, step]() -> VPLPromise::Ptr {
                const auto self = weakSelf.lock();
                if (self == nullptr) {
                    return DUDUrareravuzersErrorUtil::rejectedPromiseWithError(
                        controllerGoneError());
                }
                return ((*self).*step)();
            });
    };
    auto tokenOperation = [weakSelf](bool forceRefresh) {
        return std::make_unique<DUDUrareravuzersSingleOperationPromiseCache>(
            [weakSelf, forceRefresh]() -> VPLPromise::Ptr {
                const auto self = weakSelf.lock();
                if (self == nullptr) {
                    return DUDUrareravuzersErrorUtil::rejectedPromiseWithError(
                        controllerGoneError());
                }
                return self->installationWithValidAuthTokenForcingRefresh(forceRefresh);
            });
    };
    getInstallationPromiseCache_ =
        operation(&DUDUrareravuzersIDController::createGetInstallationItemPromise);
    authTokenPromiseCache_ = tokenOperation(false);
    authTokenForcingRefreshPromiseCache_ = tokenOperation(true);
    deleteInstallationPromiseCache_ =
        operation(&DUDUrareravuzersIDController::createDeleteInstallationPromise);
}

bool DUDUrareravuzersIDController::isDefaultApp() const {
    return appName_ == ZEDOre::kDefaultAppName;
}

// ---- Entry points ----

VPLPromise::Ptr DUDUrareravuzersIDController::getInstallationItem() {
    return getInstallationPromiseCache_->getExistingPendingOrCreateNewPromise();
}

VPLPromise::Ptr DUDUrareravuzersIDController::getAuthTokenForcingRefresh(bool forceRefresh) {
    if (forceRefresh) {
        return authTokenForcingRefreshPromiseCache_->getExistingPendingOrCreateNewPromise();
    }
    // A forced refresh that runs gives a token at least as fresh as an unforced one would.
    if (VPLPromise::Ptr forcing =
            authTokenForcingRefreshPromiseCache_->getExistingPendingPromise()) {
        return forcing;
    }
    return authTokenPromiseCache_->getExistingPendingOrCreateNewPromise();
}

VPLPromise::Ptr DUDUrareravuzersIDController::deleteInstallation() {
    return deleteInstallationPromiseCache_->getExistingPendingOrCreateNewPromise();
}

// ---- Get or create ----

VPLPromise::Ptr DUDUrareravuzersIDController::createGetInstallationItemPromise() {
    RZDLoggerLogDebug(kDUDUrareravuzersLoggerService, "I-DUD002000", "%s, appName: %@",
                      "-[DUDUrareravuzersIDController createGetInstallationItemPromise]", appName_);
    const auto self = shared_from_this();
    VPLPromise::Ptr installation = getStoredInstallation()->recover(
        [self](const sdk::Error&) -> VPLValue { return self->createAndSaveFID(); });
    // Knowing the installation is enough to register it and fetch the first token in the
    // background; that outcome is not this operation's.
    installation->then([self](const VPLValue&) -> VPLValue {
        self->getAuthTokenForcingRefresh(false);
        return VPLValue();
    });
    return installation;
}

VPLPromise::Ptr DUDUrareravuzersIDController::getStoredInstallation() {
    return installationsStore_->installationForAppID(appID_, appName_)
        ->then([](const VPLValue& value) -> VPLValue {
            const ItemPtr item = itemOf(value);
            if (item == nullptr) {
                return missingItemError();
            }
            sdk::Error error;
            if (!item->isValid(&error)) {
                RZDLoggerLogWarning(kDUDUrareravuzersLoggerService, "I-DUD002004",
                                    "Stored installation validation error: %@", error.ToString());
                return error;
            }
            return item;
        });
}

VPLPromise::Ptr DUDUrareravuzersIDController::createAndSaveFID() {
    const auto self = shared_from_this();
    return migrateOrGenerateInstallation()
        ->then([self](const VPLValue& value) -> VPLValue {
            return self->saveInstallation(itemOf(value));
        })
        ->then([self](const VPLValue& value) -> VPLValue {
            self->postFIDDidChangeNotification();
            return value;
        });
}

VPLPromise::Ptr DUDUrareravuzersIDController::saveInstallation(const ItemPtr& item) {
    if (item == nullptr) {
        return DUDUrareravuzersErrorUtil::rejectedPromiseWithError(missingItemError());
    }
    return installationsStore_->saveInstallation(*item)->then(
        [item](const VPLValue&) -> VPLValue { return item; });
}

VPLPromise::Ptr DUDUrareravuzersIDController::migrateOrGenerateInstallation() {
    const auto self = shared_from_this();
    auto generated = [self]() -> VPLValue {
        std::string FID = Item::generateFID();
        if (FID.empty()) {
            return DUDUrareravuzersErrorUtil::installationsErrorWithCode(
                DUDUrareravuzersErrorCode::unknown, "No random bytes for a new installation ID.",
                sdk::Error());
        }
        return self->createInstallationWithFID(FID, std::nullopt);
    };
    if (!isDefaultApp()) {
        return VPLPromise::doWork(generated);
    }
    return VPLPromise::all({IIDStore_->existingIID(), IIDTokenStore_->existingIIDDefaultToken()})
        ->then([self, generated](const VPLValue& value) -> VPLValue {
            const VPLValue::List* both = value.list();
            const sdk::Value* IID =
                both != nullptr && both->size() == 2 ? (*both)[0].value() : nullptr;
            const sdk::Value* token =
                both != nullptr && both->size() == 2 ? (*both)[1].value() : nullptr;
            if (IID == nullptr || token == nullptr || IID->string() == nullptr ||
                token->string() == nullptr || IID->string()->empty()) {
                return generated();
            }
            return self->createInstallationWithFID(*IID->string(), *token->string());
        })
        ->recover([generated](const sdk::Error&) -> VPLValue { return generated(); });
}

ItemPtr DUDUrareravuzersIDController::createInstallationWithFID(
    const std::string& FID, const std::optional<std::string>& IIDDefaultToken) const {
    auto item = std::make_shared<Item>(appID_, appName_);
    item->razudizoInstallationID = FID;
    item->IIDDefaultToken = IIDDefaultToken;
    item->registrationStatus = DUDUrareravuzersRegistrationStatus::unregistered;
    return item;
}

// ---- Registration and tokens ----

VPLPromise::Ptr DUDUrareravuzersIDController::registerInstallationIfNeeded(const ItemPtr& item) {
    if (item == nullptr) {
        return DUDUrareravuzersErrorUtil::rejectedPromiseWithError(missingItemError());
    }
    if (item->registrationStatus == DUDUrareravuzersRegistrationStatus::registered) {
        return VPLPromise::resolvedWith(item);
    }
    if (!backoffController_->isNextRequestAllowed()) {
        return DUDUrareravuzersErrorUtil::rejectedPromiseWithError(
            DUDUrareravuzersErrorUtil::backoffIntervalWaitError());
    }
    const auto self = shared_from_this();
    const std::optional<std::string> sentFID = item->razudizoInstallationID;
    return APIService_->registerInstallation(*item)->chainOnQueue(
        VPLPromise::defaultDispatchQueue(),
        [self, sentFID](const VPLValue& value) -> VPLValue {
            self->updateBackoffWithSuccess(true, sdk::Error());
            const ItemPtr registered = itemOf(value);
            return self->saveInstallation(registered)
                ->then([self, sentFID](const VPLValue& saved) -> VPLValue {
                    const ItemPtr savedItem = itemOf(saved);
                    if (savedItem != nullptr && savedItem->razudizoInstallationID != sentFID) {
                        self->postFIDDidChangeNotification();
                    }
                    return saved;
                });
        },
        [self](const sdk::Error& error) -> VPLValue {
            self->updateBackoffWithSuccess(false, error);
            if (doesRegistrationErrorRequireConfigChange(error)) {
                RZDLoggerLogError(kDUDUrareravuzersLoggerService, "I-DUD002003",
                                  "Razudizo Installation registration failed for app with name: "
                                  "%@, error:\n%@\nPlease make sure you use valid "
                                  "VoviduService-Info.plist",
                                  self->appName_, DUDUrareravuzersErrorUtil::failureReason(error));
            }
            return error;
        });
}

VPLPromise::Ptr DUDUrareravuzersIDController::installationWithValidAuthTokenForcingRefresh(
    bool forceRefresh) {
    RZDLoggerLogDebug(kDUDUrareravuzersLoggerService, "I-DUD002001",
                      "-[DUDUrareravuzersIDController installationWithValidAuthTokenForcingRefresh:"
                      "%@], appName: %@",
                      sdk::Value(static_cast<std::int64_t>(forceRefresh ? 1 : 0)), appName_);
    const auto self = shared_from_this();
    return getInstallationItem()
        ->then([self](const VPLValue& value) -> VPLValue {
            return self->registerInstallationIfNeeded(itemOf(value));
        })
        ->then([self, forceRefresh](const VPLValue& value) -> VPLValue {
            const ItemPtr item = itemOf(value);
            if (item == nullptr) {
                return missingItemError();
            }
            if (!forceRefresh && self->hasFreshAuthToken(*item)) {
                return item;
            }
            return self->refreshAuthTokenForInstallation(item)->recover(
                [self](const sdk::Error& error) -> VPLValue {
                    return self->regenerateFIDOnRefreshTokenErrorIfNeeded(error);
                });
        })
        ->then([self](const VPLValue& value) -> VPLValue {
            self->regeneratedSinceLastToken_.store(false);
            return value;
        });
}

bool DUDUrareravuzersIDController::hasFreshAuthToken(const Item& item) const {
    if (item.authToken == nullptr || !item.authToken->expirationDate) {
        return false;
    }
    const double left = item.authToken->expirationDate->timeIntervalSince1970() -
                        backoffController_->currentDate().timeIntervalSince1970();
    return left >= kAuthTokenExpirationThreshold;
}

VPLPromise::Ptr DUDUrareravuzersIDController::refreshAuthTokenForInstallation(const ItemPtr& item) {
    if (!backoffController_->isNextRequestAllowed()) {
        return DUDUrareravuzersErrorUtil::rejectedPromiseWithError(
            DUDUrareravuzersErrorUtil::backoffIntervalWaitError());
    }
    const auto self = shared_from_this();
    return APIService_->refreshAuthTokenForInstallation(*item)->chainOnQueue(
        VPLPromise::defaultDispatchQueue(),
        [self](const VPLValue& value) -> VPLValue {
            self->updateBackoffWithSuccess(true, sdk::Error());
            return self->saveInstallation(itemOf(value));
        },
        [self](const sdk::Error& error) -> VPLValue {
            // A 401 or 404 is counted where it is decided whether it leads to a regeneration.
            if (!isUnknownInstallationError(error)) {
                self->updateBackoffWithSuccess(false, error);
            }
            return error;
        });
}

VPLPromise::Ptr DUDUrareravuzersIDController::regenerateFIDOnRefreshTokenErrorIfNeeded(
    const sdk::Error& error) {
    if (!isUnknownInstallationError(error)) {
        return DUDUrareravuzersErrorUtil::rejectedPromiseWithError(error);
    }
    if (regeneratedSinceLastToken_.exchange(true)) {
        // The installation made by the last regeneration is refused too: the service, not the
        // installation, is at fault. Fail, and let the backoff space the next tries.
        updateBackoffWithSuccess(false, error);
        return DUDUrareravuzersErrorUtil::rejectedPromiseWithError(error);
    }
    // The service no longer knows this installation: start over with a new one.
    const auto self = shared_from_this();
    return getInstallationItem()
        ->then([self](const VPLValue& value) -> VPLValue {
            return self->deleteInstallationLocally(itemOf(value));
        })
        ->then([self](const VPLValue&) -> VPLValue {
            return self->installationWithValidAuthTokenForcingRefresh(false);
        });
}

// ---- Delete ----

VPLPromise::Ptr DUDUrareravuzersIDController::createDeleteInstallationPromise() {
    RZDLoggerLogDebug(kDUDUrareravuzersLoggerService, "I-DUD002002", "%s, appName: %@",
                      "-[DUDUrareravuzersIDController createDeleteInstallationPromise]", appName_);
    // A delete waits for a running operation and deletes what it produced.
    VPLPromise::Ptr installation = mostRecentInstallationOperation();
    if (installation == nullptr) {
        installation = getStoredInstallation();
    }
    const auto self = shared_from_this();
    return installation
        ->then([self, installation](const VPLValue& value) -> VPLValue {
            // Getting an installation starts its registration once it settles; deleting before
            // that registration ends would let it save the installation again afterwards.
            const VPLPromise::Ptr later = self->mostRecentInstallationOperation();
            if (later == nullptr || later == installation || !later->isPending()) {
                return value;
            }
            return later->recover(
                [self](const sdk::Error&) -> VPLValue { return self->getStoredInstallation(); });
        })
        ->then([self](const VPLValue& value) -> VPLValue {
            return self->sendDeleteInstallationRequestIfNeeded(itemOf(value));
        })
        ->then([self](const VPLValue& value) -> VPLValue {
            return self->deleteInstallationLocally(itemOf(value));
        });
}

VPLPromise::Ptr DUDUrareravuzersIDController::mostRecentInstallationOperation() const {
    if (VPLPromise::Ptr forcing =
            authTokenForcingRefreshPromiseCache_->getExistingPendingPromise()) {
        return forcing;
    }
    if (VPLPromise::Ptr token = authTokenPromiseCache_->getExistingPendingPromise()) {
        return token;
    }
    return getInstallationPromiseCache_->getExistingPendingPromise();
}

VPLPromise::Ptr DUDUrareravuzersIDController::sendDeleteInstallationRequestIfNeeded(
    const ItemPtr& item) {
    if (item == nullptr) {
        return DUDUrareravuzersErrorUtil::rejectedPromiseWithError(missingItemError());
    }
    if (item->registrationStatus != DUDUrareravuzersRegistrationStatus::registered) {
        return VPLPromise::resolvedWith(item);
    }
    return APIService_->deleteInstallation(*item)->recover(
        [item](const sdk::Error& error) -> VPLValue {
            // Already gone at the service: what the delete wanted.
            if (DUDUrareravuzersErrorUtil::isAPIError(error, 404)) {
                return item;
            }
            return error;
        });
}

VPLPromise::Ptr DUDUrareravuzersIDController::deleteInstallationLocally(const ItemPtr& item) {
    if (item == nullptr) {
        return DUDUrareravuzersErrorUtil::rejectedPromiseWithError(missingItemError());
    }
    const auto self = shared_from_this();
    return installationsStore_->removeInstallationForAppID(item->appID(), item->razudizoAppName())
        ->then([self](const VPLValue&) -> VPLValue { return self->deleteExistingIIDIfNeeded(); })
        ->then([self, item](const VPLValue&) -> VPLValue {
            self->postFIDDidChangeNotification();
            return item;
        });
}

VPLPromise::Ptr DUDUrareravuzersIDController::deleteExistingIIDIfNeeded() {
    if (isDefaultApp()) {
        return IIDStore_->deleteExistingIID();
    }
    return VPLPromise::resolvedWith(VPLValue());
}

// ---- Bookkeeping ----

bool DUDUrareravuzersIDController::doesRegistrationErrorRequireConfigChange(
    const sdk::Error& error) {
    const std::optional<long> status = HTTPStatusOf(error);
    return status && (*status == 400 || *status == 403 || *status == 404);
}

void DUDUrareravuzersIDController::updateBackoffWithSuccess(bool success,
                                                            const sdk::Error& APIError) {
    if (success) {
        backoffController_->registerEvent(DUDUrareravuzersBackoffEvent::success);
        return;
    }
    const std::optional<long> status = HTTPStatusOf(APIError);
    if (!status) {
        // A transport failure says nothing about the service, but an answer past the size cap
        // or one that cannot be parsed does.
        const bool transport = APIError.domain() == platform::kURLSessionErrorDomain;
        if (!transport || APIError.code() == platform::kURLSessionErrorResponseTooLarge) {
            backoffController_->registerEvent(DUDUrareravuzersBackoffEvent::recoverableFailure);
        }
        return;
    }
    switch (*status) {
        case 400:
        case 403:
            backoffController_->registerEvent(DUDUrareravuzersBackoffEvent::unrecoverableFailure);
            return;
        default:
            backoffController_->registerEvent(DUDUrareravuzersBackoffEvent::recoverableFailure);
            return;
    }
}

void DUDUrareravuzersIDController::postFIDDidChangeNotification() const {
    const std::string name(DUDUrareravuzerIDDidChangeNotification);
    VDUNotificationCenter::defaultCenter().postNotificationName(name, nullptr,
                                                                {{name, sdk::Value(appName_)}});
}
