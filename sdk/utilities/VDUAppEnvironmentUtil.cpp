#include "sdk/utilities/VDUAppEnvironmentUtil.h"

#include <sys/utsname.h>

#include <atomic>
#include <fstream>
#include <string>

#include "sdk/utilities/ExecutableEncryption.h"
#include "sdk/utilities/OperatingSystemVersion.h"

namespace {

// -1: no override; 0 or 1: the answer TEST_setIsFromAppStore asked for.
std::atomic<int> gIsFromAppStoreOverride{-1};

// Largest entry value read; real entries are far smaller.
constexpr std::size_t kMaxEntrySize = 4096;

bool isSafeEntryName(std::string_view name) {
    if (name.empty() || name.front() == '.' || name.back() == '.') {
        return false;
    }
    char previous = '\0';
    for (char c : name) {
        const bool word = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                          (c >= '0' && c <= '9') || c == '_' || c == '-';
        if (!word && !(c == '.' && previous != '.')) {
            return false;
        }
        previous = c;
    }
    return true;
}

std::string entryPath(std::string_view name) {
    if (name == "hw.model") {
        return "/sys/class/dmi/id/product_name";
    }
    std::string path = "/proc/sys/";
    for (char c : name) {
        path += c == '.' ? '/' : c;
    }
    return path;
}

}  // namespace

bool VDUAppEnvironmentUtil::isFromAppStore() {
    const int forced = gIsFromAppStoreOverride.load();
    if (forced >= 0) {
        return forced == 1;
    }
    if (isSimulator() || isAppStoreReceiptSandbox()) {
        return false;
    }
    static const bool encrypted = sdk::executableIsEncrypted("/proc/self/exe");
    return encrypted;
}

bool VDUAppEnvironmentUtil::isAppStoreReceiptSandbox() {
    return false;
}

bool VDUAppEnvironmentUtil::isSimulator() {
    return false;
}

std::optional<std::string> VDUAppEnvironmentUtil::getSysctlEntry(std::string_view name) {
    if (!isSafeEntryName(name)) {
        return std::nullopt;
    }
    std::ifstream in(entryPath(name), std::ios::binary);
    if (!in) {
        return std::nullopt;
    }
    std::string value(kMaxEntrySize, '\0');
    in.read(value.data(), static_cast<std::streamsize>(value.size()));
    value.resize(static_cast<std::size_t>(in.gcount()));
    const std::size_t nul = value.find('\0');
    if (nul != std::string::npos) {
        value.resize(nul);
    }
    while (!value.empty() && (value.back() == '\n' || value.back() == ' ')) {
        value.pop_back();
    }
    if (value.empty()) {
        return std::nullopt;
    }
    return value;
}

const std::string& VDUAppEnvironmentUtil::deviceModel() {
    static const std::string& model = *new std::string([] {
        std::optional<std::string> entry = getSysctlEntry("hw.model");
        if (entry) {
            return *entry;
        }
        struct utsname names {};
        return uname(&names) == 0 ? std::string(names.machine) : std::string();
    }());  // lives for the process
    return model;
}

const std::optional<std::string>& VDUAppEnvironmentUtil::deviceSimulatorModel() {
    static const std::optional<std::string>& model =
        *new std::optional<std::string>(getSysctlEntry("hw.model"));  // lives for the process
    return model;
}

std::string VDUAppEnvironmentUtil::systemVersion() {
    return sdk::formatOperatingSystemVersion(sdk::currentOperatingSystemVersion());
}

bool VDUAppEnvironmentUtil::isAppExtension() {
    return false;
}

bool VDUAppEnvironmentUtil::isAppClip() {
    return false;
}

bool VDUAppEnvironmentUtil::supportsBackgroundURLSessionUploads() {
    return !isAppExtension() && !isAppClip();
}

std::string VDUAppEnvironmentUtil::applePlatform() {
    return "macos";
}

std::string VDUAppEnvironmentUtil::appleDevicePlatform() {
    return applePlatform();
}

std::string VDUAppEnvironmentUtil::deploymentType() {
    return "cmake";
}

void VDUAppEnvironmentUtil::TEST_setIsFromAppStore(std::optional<bool> value) {
    gIsFromAppStoreOverride.store(value ? (*value ? 1 : 0) : -1);
}
