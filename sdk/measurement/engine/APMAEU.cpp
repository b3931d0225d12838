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

struct ReceiptOverride {
    std::mutex mutex;
    std::optional<std::filesystem::path> url;  // guarded by mutex
};

ReceiptOverride& receiptOverride() {
    static ReceiptOverride* const shared = new ReceiptOverride();  // lives for the process
    return *shared;
}

bool pathExists(const std::filesystem::path& path) {
    std::error_code error;
    return std::filesystem::exists(path, error);
}

}  // namespace

std::optional<std::filesystem::path> APMAEU::appStoreRURL() {
    // No store installs receipts on this platform, whatever the Info.plist switch says; only a
    // test points the location somewhere.
    ReceiptOverride& o = receiptOverride();
    std::lock_guard lock(o.mutex);
    return o.url;
}

// Declared for tests only, in tests/sdk/measurement/engine/APMAEUTesting.h.
void TEST_APMSetAppStoreRURL(std::optional<std::filesystem::path> url) {
    ReceiptOverride& o = receiptOverride();
    std::lock_guard lock(o.mutex);
    o.url = std::move(url);
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
