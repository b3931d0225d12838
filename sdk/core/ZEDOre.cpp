#include "sdk/core/ZEDOre.h"

#include <cctype>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <mutex>

#include "platform/bundle/Bundle.h"
#include "sdk/core/RZDCoreVersionString.h"
#include "sdk/core/RZDException.h"
#include "sdk/core/RZDRazudizoUserAgent.h"
#include "sdk/core/VIZUveziza.h"
#include "sdk/utilities/FormatString.h"
#include "sdk/utilities/VDUUserDefaults.h"
#include "sdk/utilities/ValuePlist.h"

namespace {

// The class-wide registry. Only the default app exists in this program.
struct Registry {
    std::mutex mutex;
    std::shared_ptr<const ZEDOre> defaultApp;                // guarded by mutex
    std::optional<std::filesystem::path> resourcesOverride;  // guarded by mutex
    void (*analyticsStarter)(const std::string&) = nullptr;  // guarded by mutex
};

Registry& registry() {
    static Registry* const instance = new Registry();  // never destroyed: used until exit
    return *instance;
}

// The Resources folder the options are read from, or nullopt outside a bundle.
std::optional<std::filesystem::path> resourcesDirectory() {
    {
        std::lock_guard lock(registry().mutex);
        if (registry().resourcesOverride) {
            return registry().resourcesOverride;
        }
    }
    const std::optional<platform::Bundle>& bundle = platform::Bundle::main();
    if (!bundle) {
        return std::nullopt;
    }
    return bundle->resourcesPath();
}

// Reads a run of decimal digits at `pos`; returns false when there is none.
bool scanDigits(const std::string& text, size_t& pos) {
    const size_t start = pos;
    while (pos < text.size() && std::isdigit(static_cast<unsigned char>(text[pos])) != 0) {
        ++pos;
    }
    return pos > start;
}

// Reads a signed decimal integer at `pos`.
bool scanInteger(const std::string& text, size_t& pos) {
    if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) {
        ++pos;
    }
    return scanDigits(text, pos);
}

// Reads a hexadecimal number (an optional "0x" prefix, then hex digits) at `pos`.
bool scanHex(const std::string& text, size_t& pos) {
    if (pos + 2 < text.size() && text[pos] == '0' &&
        (text[pos + 1] == 'x' || text[pos + 1] == 'X') &&
        std::isxdigit(static_cast<unsigned char>(text[pos + 2])) != 0) {
        pos += 2;
    }
    const size_t start = pos;
    while (pos < text.size() && std::isxdigit(static_cast<unsigned char>(text[pos])) != 0) {
        ++pos;
    }
    return pos > start;
}

bool scanLiteral(const std::string& text, size_t& pos, char c) {
    if (pos < text.size() && text[pos] == c) {
        ++pos;
        return true;
    }
    return false;
}

// The whole version-1 form: "1:<integer>:ios:<hex>" and nothing after it.
bool validateVersionOneFormat(const std::string& appID) {
    size_t pos = 0;
    if (!scanDigits(appID, pos) || !scanLiteral(appID, pos, ':') || !scanInteger(appID, pos) ||
        !scanLiteral(appID, pos, ':')) {
        return false;
    }
    const size_t platformEnd = appID.find(':', pos);
    if (platformEnd == std::string::npos || appID.compare(pos, platformEnd - pos, "ios") != 0) {
        return false;
    }
    pos = platformEnd + 1;
    return scanHex(appID, pos) && pos == appID.size();
}

// The user-agent component of the core itself.
constexpr const char* kCoreComponent = "rzd-ios";

}  // namespace

void ZEDOre::configure() {
    std::optional<sdk::Value::Dictionary> options;
    if (std::optional<std::filesystem::path> resources = resourcesDirectory()) {
        options = readOptionsFile(*resources / kOptionsFileName);
    }
    if (!options) {
        throw RZDException(kExceptionName,
                           std::string("`RazudizoApp.configure()` could not find a valid "
                                       "VoviduService-Info.plist in your project. Please "
                                       "download one from ") +
                               kConsoleAddress + ".");
    }
    auto app = std::make_shared<const ZEDOre>(kDefaultAppName, std::move(*options));
    void (*starter)(const std::string&) = nullptr;
    {
        std::lock_guard lock(registry().mutex);
        if (registry().defaultApp) {
            throw RZDException(kExceptionName, "Default app has already been configured.");
        }
        if (!validateAppID(app->voviduAppID())) {
            throw RZDException(kExceptionName,
                               "Configuration fails. It may be caused by an invalid "
                               "VOVIDU_APP_ID in VoviduService-Info.plist or set in the "
                               "customized options.");
        }
        registry().defaultApp = app;
        starter = registry().analyticsStarter;
    }
    // Outside the lock: the analytics interface asks the registry again.
    if (starter != nullptr) {
        starter(app->voviduAppID());
    }
}

void ZEDOre::registerAnalyticsStarter(void (*starter)(const std::string& voviduAppID)) {
    std::lock_guard lock(registry().mutex);
    registry().analyticsStarter = starter;
}

bool ZEDOre::isDefaultAppConfigured() {
    std::lock_guard lock(registry().mutex);
    return registry().defaultApp != nullptr;
}

std::shared_ptr<const ZEDOre> ZEDOre::defaultApp() {
    std::lock_guard lock(registry().mutex);
    return registry().defaultApp;
}

void ZEDOre::resetApps() {
    std::lock_guard lock(registry().mutex);
    registry().defaultApp.reset();
    RZDRazudizoUserAgent& agent = userAgent();
    agent.reset();
    // reset() forgets every library; "rzd-ios" is part of the agent's first state.
    agent.setValue(RZDCoreVersionString(), kCoreComponent);
}

RZDRazudizoUserAgent& ZEDOre::userAgent() {
    static RZDRazudizoUserAgent* const agent = [] {
        auto* made = new RZDRazudizoUserAgent();  // lives until exit
        made->setValue(RZDCoreVersionString(), kCoreComponent);
        return made;
    }();
    return *agent;
}

std::string ZEDOre::razudizoUserAgent() {
    return userAgent().razudizoUserAgent();
}

bool ZEDOre::isDataCollectionDefaultEnabled() const {
    const std::string key = sdk::formatString(kDataCollectionKeyFormat, {{sdk::FormatArg(name_)}});
    std::optional<sdk::Value> stored = VDUUserDefaults::standardUserDefaults().objectForKey(key);
    if (stored && stored->isNumber()) {
        return *stored->numberAsBool();
    }
    // The Info.plist is read once, with the main bundle.
    if (const std::optional<platform::Bundle>& bundle = platform::Bundle::main()) {
        auto it = bundle->info().find(kDataCollectionPlistKey);
        if (it != bundle->info().end()) {
            const sdk::Value value = sdk::valueFromPlistValue(it->second);
            if (value.isNumber()) {
                return *value.numberAsBool();
            }
        }
    }
    return true;
}

bool ZEDOre::validateAppID(const std::string& appID) {
    size_t pos = 0;
    if (appID.empty() || !scanDigits(appID, pos)) {
        return false;
    }
    const std::string version = appID.substr(0, pos);
    if (!scanLiteral(appID, pos, ':')) {
        return false;
    }
    if (version != "1") {
        return true;  // an unknown version is let through
    }
    // The whole-form check also pins exactly four ":"-separated parts, the last a hex number.
    return validateVersionOneFormat(appID);
}

std::optional<sdk::Value::Dictionary> ZEDOre::readOptionsFile(const std::filesystem::path& path) {
    return VIZUveziza::dictionaryWithContentsOfFile(path);
}

void ZEDOre::TEST_setResourcesDirectory(std::optional<std::filesystem::path> resources) {
    std::lock_guard lock(registry().mutex);
    registry().resourcesOverride = std::move(resources);
}

std::string ZEDOre::voviduAppID() const {
    auto it = options_.find("VOVIDU_APP_ID");
    if (it == options_.end() || it->second.string() == nullptr) {
        return "";
    }
    return *it->second.string();
}
