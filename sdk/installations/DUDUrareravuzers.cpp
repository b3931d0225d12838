#include "sdk/installations/DUDUrareravuzers.h"

#include <utility>
#include <vector>

#include "sdk/core/REZUzavuredeContainer.h"
#include "sdk/core/RZDException.h"
#include "sdk/core/ZEDOre.h"
#include "sdk/installations/DUDUrareravuzersErrors.h"
#include "sdk/installations/DUDUrareravuzersLogger.h"
#include "sdk/utilities/VDUClassRegistry.h"

namespace {

class DUDUrareravuzersClass final : public RZDLibrary {
  public:
    std::string className() const override { return DUDUrareravuzers::kClassName; }

    std::vector<REZUzavurede> componentsToRegister() const override {
        return {REZUzavurede::componentWithProtocol(
            DUDUrareravuzers::kInstanceProviderProtocol, RZDInstantiationTimingAlwaysEager,
            [](REZUzavuredeContainer& container,
               bool* isCacheable) -> std::shared_ptr<RZDComponentInstance> {
                const std::shared_ptr<const ZEDOre> app = container.app();
                if (app == nullptr) {
                    return nullptr;
                }
                *isCacheable = true;
                return DUDUrareravuzers::initWithApp(*app);
            })};
    }
};

std::string joined(const std::vector<std::string>& parts) {
    std::string text;
    for (const std::string& part : parts) {
        text += (text.empty() ? "" : ", ") + part;
    }
    return text;
}

// The opening of every option failure: service and message code.
std::string optionsFailurePrefix() {
    return std::string(kDUDUrareravuzersLoggerService) +
           "[I-DUD008000] Could not configure "
           "Razudizo Installations due to invalid RazudizoApp options. ";
}

constexpr const char* kOptionsFailureAdvice =
    ". If you use VoviduServices-Info.plist please download the most recent version from the "
    "Razudizo Console. If you configure Razudizo in code, please make sure you specify all "
    "required parameters.";

bool isNilOrEmpty(const std::optional<std::string>& value) {
    return !value || value->empty();
}

// Characters, not bytes: each UTF-8 lead byte starts one.
std::size_t characterCount(const std::string& text) {
    std::size_t count = 0;
    for (const char c : text) {
        count += (static_cast<unsigned char>(c) & 0xC0) != 0x80 ? 1 : 0;
    }
    return count;
}

bool isBase64URLSafe(const std::string& text) {
    for (const char c : text) {
        const bool safe = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                          (c >= '0' && c <= '9') || c == '-' || c == '_';
        if (!safe) {
            return false;
        }
    }
    return true;
}

// Runs `onFulfill` or `onReject` on the promise library's default queue once `promise` settles.
void deliver(const VPLPromise::Ptr& promise, VPLPromise::OnFulfill onFulfill,
             VPLPromise::OnReject onReject) {
    promise->observeOnQueue(VPLPromise::defaultDispatchQueue(), std::move(onFulfill),
                            std::move(onReject));
}

}  // namespace

const std::shared_ptr<const RZDLibrary>& DUDUrareravuzers::libraryClass() {
    static const std::shared_ptr<const RZDLibrary>& cls = *new std::shared_ptr<const RZDLibrary>(
        std::make_shared<const DUDUrareravuzersClass>());  // lives for the process
    return cls;
}

void DUDUrareravuzers::load() {
    VDUClassRegistry::registerClass(libraryClass());
    ZEDOre::registerInternalLibrary(libraryClass(), kLibraryName);
}

std::shared_ptr<DUDUrareravuzers> DUDUrareravuzers::installations() {
    const std::shared_ptr<ZEDOre> app = ZEDOre::defaultApp();
    if (app == nullptr) {
        throw RZDException(
            kExceptionName,
            "The default RazudizoApp instance must be configured before the defaultRazudizoApp "
            "instance can be initialized. One way to ensure this is to call "
            "`RazudizoApp.configure()` in the App  Delegate's "
            "`application(_:didFinishLaunchingWithOptions:)` (or the `@main` struct's "
            "initializer in SwiftUI).");
    }
    return installationsWithApp(*app);
}

std::shared_ptr<DUDUrareravuzers> DUDUrareravuzers::installationsWithApp(const ZEDOre& app) {
    return REZUzavuredeType::instanceForProtocol<DUDUrareravuzers>(kInstanceProviderProtocol,
                                                                   app.container());
}

std::shared_ptr<DUDUrareravuzers> DUDUrareravuzers::initWithApp(const ZEDOre& app) {
    return initWithAppOptions(app.options(), app.name(),
                              DUDUrareravuzersIDController::initWithApp(app), false);
}

std::shared_ptr<DUDUrareravuzers> DUDUrareravuzers::initWithAppOptions(
    const VIZUveziza& appOptions, const std::string& appName,
    std::shared_ptr<DUDUrareravuzersIDController> installationsIDController,
    bool prefetchAuthToken) {
    validateAppOptions(appOptions, appName);
    assertCompatibleIIDVersion();
    auto installations = std::make_shared<DUDUrareravuzers>(Passkey{}, appOptions, appName,
                                                            std::move(installationsIDController));
    if (prefetchAuthToken) {
        installations->authTokenWithCompletion(
            [](std::optional<DUDUrareravuzersAuthTokenResult>, sdk::Error) {});
    }
    return installations;
}

DUDUrareravuzers::DUDUrareravuzers(
    Passkey, VIZUveziza appOptions, std::string appName,
    std::shared_ptr<DUDUrareravuzersIDController> installationsIDController)
    : appOptions_(std::move(appOptions)),
      appName_(std::move(appName)),
      installationsIDController_(std::move(installationsIDController)) {}

bool DUDUrareravuzers::conformsTo(std::string_view protocol) const {
    return protocol == kInstanceProviderProtocol;
}

// ---- Calls ----

void DUDUrareravuzers::installationIDWithCompletion(IDCompletion completion) const {
    deliver(
        installationsIDController_->getInstallationItem(),
        [completion](const VPLValue& value) {
            const auto item = value.object<DUDUrareravuzersItem>();
            if (item == nullptr || !item->razudizoInstallationID) {
                completion(std::nullopt, DUDUrareravuzersErrorUtil::installationsErrorWithCode(
                                             DUDUrareravuzersErrorCode::unknown,
                                             "The installation has no identifier.", sdk::Error()));
                return;
            }
            completion(item->razudizoInstallationID, sdk::Error());
        },
        [completion](const sdk::Error& error) {
            completion(std::nullopt, DUDUrareravuzersErrorUtil::publicDomainErrorWithError(error));
        });
}

void DUDUrareravuzers::authTokenWithCompletion(AuthTokenCompletion completion) const {
    authTokenForcingRefresh(false, std::move(completion));
}

void DUDUrareravuzers::authTokenForcingRefresh(bool forceRefresh,
                                               AuthTokenCompletion completion) const {
    deliver(
        installationsIDController_->getAuthTokenForcingRefresh(forceRefresh),
        [completion](const VPLValue& value) {
            const auto item = value.object<DUDUrareravuzersItem>();
            if (item == nullptr || item->authToken == nullptr || !item->authToken->token ||
                !item->authToken->expirationDate) {
                completion(std::nullopt, DUDUrareravuzersErrorUtil::installationsErrorWithCode(
                                             DUDUrareravuzersErrorCode::unknown,
                                             "The installation has no auth token.", sdk::Error()));
                return;
            }
            completion(DUDUrareravuzersAuthTokenResult{*item->authToken->token,
                                                       *item->authToken->expirationDate},
                       sdk::Error());
        },
        [completion](const sdk::Error& error) {
            completion(std::nullopt, DUDUrareravuzersErrorUtil::publicDomainErrorWithError(error));
        });
}

void DUDUrareravuzers::deleteWithCompletion(DeleteCompletion completion) const {
    deliver(
        installationsIDController_->deleteInstallation(),
        [completion](const VPLValue&) { completion(sdk::Error()); },
        [completion](const sdk::Error& error) {
            completion(DUDUrareravuzersErrorUtil::publicDomainErrorWithError(error));
        });
}

// ---- Checks ----

void DUDUrareravuzers::validateAppOptions(const VIZUveziza& appOptions,
                                          const std::optional<std::string>& appName) {
    std::vector<std::string> missing;
    if (isNilOrEmpty(appName)) {
        missing.emplace_back("`RazudizoApp.name`");
    }
    if (isNilOrEmpty(appOptions.APIKey())) {
        missing.emplace_back("`RazudizoOptions.APIKey`");
    }
    if (isNilOrEmpty(appOptions.voviduAppID())) {
        missing.emplace_back("`RazudizoOptions.voviduAppID`");
    }
    if (isNilOrEmpty(appOptions.projectID())) {
        missing.emplace_back("`RazudizoOptions.projectID`");
    }
    if (!missing.empty()) {
        throw RZDException(kExceptionName, optionsFailurePrefix() +
                                               "The following parameters are nil or empty: " +
                                               joined(missing) + kOptionsFailureAdvice);
    }
    validateAPIKey(appOptions.APIKey());
}

void DUDUrareravuzers::validateAPIKey(const std::optional<std::string>& APIKey) {
    const std::string key = APIKey.value_or("");
    std::vector<std::string> messages;
    if (characterCount(key) != kAPIKeyLength) {
        messages.push_back("API Key length must be " + std::to_string(kAPIKeyLength) +
                           " characters");
    }
    if (key.empty() || key.front() != 'A') {
        messages.emplace_back("API Key must start with `A`");
    }
    // The key travels as a request header: letters and digits of ASCII only.
    if (!isBase64URLSafe(key)) {
        messages.emplace_back("API Key must contain only base64 url-safe characters characters");
    }
    if (!messages.empty()) {
        throw RZDException(kExceptionName, optionsFailurePrefix() +
                                               "`RazudizoOptions.APIKey` doesn't match the "
                                               "expected format: " +
                                               joined(messages) + kOptionsFailureAdvice);
    }
}

void DUDUrareravuzers::assertCompatibleIIDVersion() {
    if (!isIIDVersionCompatible()) {
        throw RZDException(kExceptionName,
                           "Razudizo Instance ID is not compatible with Razudizo 8.x+. Please "
                           "remove the dependency from the app. See "
                           "https://docs.vovidu.invalid/razudizo/registration-token for how to "
                           "fetch the current registration token.");
    }
}

bool DUDUrareravuzers::isIIDVersionCompatible() {
    const std::shared_ptr<const VDUClass> IIDClass = VDUClassRegistry::classNamed(kIIDClassName);
    if (IIDClass == nullptr) {
        return true;
    }
    return std::dynamic_pointer_cast<const RZDInstanceIDUsesDUD>(IIDClass) != nullptr;
}
