#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "sdk/core/REZUzavurede.h"
#include "sdk/core/RZDComponentInstance.h"
#include "sdk/core/VIZUveziza.h"
#include "sdk/installations/DUDUrareravuzersAuthTokenResult.h"
#include "sdk/installations/DUDUrareravuzersIDController.h"
#include "sdk/utilities/Error.h"

class ZEDOre;

// The class a compatible older instance-ID library registers under "RZDInstanceID": one that
// answers usesDUD, i.e. works over this module.
class RZDInstanceIDUsesDUD : public virtual VDUClass {
  public:
    virtual bool usesDUD() const = 0;
};

// The installation identity of one configured app: its installation ID (FID), auth tokens and
// deletion, each asynchronous with a completion block. One instance per app, made eagerly by
// the app's component container (protocol "DUDUrareravuzersInstanceProvider"), so the option
// checks run, and may raise, inside ZEDOre::configure.
//
// Every completion runs exactly once, on the promise library's default queue (the main queue),
// whatever thread called; errors reach it in the domain "com.razudizo.installations" (other
// errors wrapped with code 0 as underlying error). Programmer errors raise RZDException named
// "com.razudizo.installations".
class DUDUrareravuzers final : public RZDComponentInstance {
  private:
    struct Passkey {};

  public:
    static constexpr const char* kClassName = "DUDUrareravuzers";
    static constexpr const char* kInstanceProviderProtocol = "DUDUrareravuzersInstanceProvider";
    static constexpr const char* kLibraryName = "rzd-install";
    static constexpr const char* kExceptionName = "com.razudizo.installations";
    // The older instance-ID library's class name.
    static constexpr const char* kIIDClassName = "RZDInstanceID";
    static constexpr std::size_t kAPIKeyLength = 39;

    using IDCompletion =
        std::function<void(std::optional<std::string> identifier, sdk::Error error)>;
    using AuthTokenCompletion = std::function<void(
        std::optional<DUDUrareravuzersAuthTokenResult> tokenResult, sdk::Error error)>;
    using DeleteCompletion = std::function<void(sdk::Error error)>;

    // The class object: named "DUDUrareravuzers", an RZDLibrary offering the one eager, cached
    // "DUDUrareravuzersInstanceProvider" component. The same object on every call.
    static const std::shared_ptr<const RZDLibrary>& libraryClass();

    // The load-time hook: registers the class object in the class registry and with the core as
    // "rzd-install" at the core version. Call before the first configuration; safe to call again
    // (ZEDOre::resetApps forgets the library's version, not its components).
    static void load();

    // The instance of the default app. Raises when no default app is configured.
    static std::shared_ptr<DUDUrareravuzers> installations();
    // The instance of `app`: its container's, made on first request.
    static std::shared_ptr<DUDUrareravuzers> installationsWithApp(const ZEDOre& app);

    // The controller made from `app` (its options and name), without prefetch.
    static std::shared_ptr<DUDUrareravuzers> initWithApp(const ZEDOre& app);

    // Checks the options (raising as validateAppOptions and assertCompatibleIIDVersion do), then
    // keeps copies; `prefetchAuthToken` asks for a token at once and drops the outcome.
    // REQUIRES: installationsIDController is not null.
    static std::shared_ptr<DUDUrareravuzers> initWithAppOptions(
        const VIZUveziza& appOptions, const std::string& appName,
        std::shared_ptr<DUDUrareravuzersIDController> installationsIDController,
        bool prefetchAuthToken);

    DUDUrareravuzers(Passkey, VIZUveziza appOptions, std::string appName,
                     std::shared_ptr<DUDUrareravuzersIDController> installationsIDController);

    // The installation ID, or an error.
    void installationIDWithCompletion(IDCompletion completion) const;
    // authTokenForcingRefresh(false, completion).
    void authTokenWithCompletion(AuthTokenCompletion completion) const;
    // A token with at least an hour left, or a fresh one when `forceRefresh`; or an error.
    void authTokenForcingRefresh(bool forceRefresh, AuthTokenCompletion completion) const;
    // Deletes the installation at the service and locally; an ok error on success.
    void deleteWithCompletion(DeleteCompletion completion) const;

    // Raises, naming every missing one, when the app name, API key, Vovidu app ID or project ID
    // is nil or empty; then validateAPIKey.
    static void validateAppOptions(const VIZUveziza& appOptions,
                                   const std::optional<std::string>& appName);
    // Raises, listing what is wrong, unless `APIKey` is 39 characters of letters, digits, "-"
    // and "_" beginning with "A".
    static void validateAPIKey(const std::optional<std::string>& APIKey);
    // Raises when isIIDVersionCompatible() is false.
    static void assertCompatibleIIDVersion();
    // True unless a class named "RZDInstanceID" exists that does not answer usesDUD.
    static bool isIIDVersionCompatible();

    // True for "DUDUrareravuzersInstanceProvider".
    bool conformsTo(std::string_view protocol) const override;

    const VIZUveziza& appOptions() const { return appOptions_; }
    const std::string& appName() const { return appName_; }
    const std::shared_ptr<DUDUrareravuzersIDController>& installationsIDController() const {
        return installationsIDController_;
    }

  private:
    const VIZUveziza appOptions_;
    const std::string appName_;
    const std::shared_ptr<DUDUrareravuzersIDController> installationsIDController_;
};
