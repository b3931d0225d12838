#include "sdk/measurement/engine/APMAEU.h"

#include <mutex>
#include <system_error>

#include "platform/bundle/Bundle.h"
#include "sdk/utilities/ExecutableEncryption.h"
#include "sdk/utilities/VDUAppEnvironmentUtil.h"

namespace {

bool mainExecutableIsEncrypted() {
    static std::once_flag once;
    static bool encrypted = false;
    std::call_once(once, [] { encrypted = sdk::executableIsEncrypted("/proc/self/exe"); });
    return encrypted;
}

bool pathExists(const std::filesystem::path& path) {
    std::error_code error;
    return std::filesystem::exists(path, error);
}

}  // namespace

std::optional<std::filesystem::path> APMAEU::appStoreRURL() {
    // No store installs receipts on this platform, whatever the Info.plist switch says.
    return std::nullopt;
}

bool APMAEU::isASRS() {
    const std::optional<std::filesystem::path> receipt = appStoreRURL();
    return receipt && receipt->filename() == "sandboxReceipt";
}

bool APMAEU::isNOD() {
    return false;
}

bool APMAEU::isFAS() {
    if (isNOD() || isASRS()) {
        return false;
    }
    const std::optional<platform::Bundle>& bundle = platform::Bundle::main();
    if (bundle && pathExists(bundle->bundlePath() / "SC_Info")) {
        return true;
    }
    if (!mainExecutableIsEncrypted()) {
        return false;
    }
    return !bundle || !pathExists(bundle->resourcesPath() / "embedded.mobileprovision");
}

std::string APMAEU::deviceModel() {
    return VDUAppEnvironmentUtil::deviceModel();
}

std::string APMAEU::systemVersion() {
    return VDUAppEnvironmentUtil::systemVersion();
}

bool APMAEU::isAEX() {
    const std::optional<platform::Bundle>& bundle = platform::Bundle::main();
    return bundle && bundle->bundlePath().string().ends_with(".appex");
}
