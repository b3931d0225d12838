#include "platform/bundle/Bundle.h"

#include <sys/stat.h>

#include <atomic>
#include <system_error>

#include "platform/preferences/PlistCodec.h"
#include "platform/preferences/PreferencesFileSystem.h"

namespace platform {

namespace fs = std::filesystem;

namespace {

constexpr size_t kMaxInfoPlistSize = 16u << 20;

// The fixture bundle tests put in place of the main bundle. Written only by the test hook,
// while no other thread reads it.
struct MainBundleOverride {
    std::atomic<bool> active{false};
    std::optional<Bundle> bundle;
};

MainBundleOverride& mainBundleOverride() {
    static MainBundleOverride* const instance = new MainBundleOverride();  // lives until exit
    return *instance;
}

}  // namespace

bool hasAppExtension(const fs::path& path) {
    const std::string extension = path.extension().string();
    auto is = [&](size_t i, char lower) {
        return extension[i] == lower || extension[i] == lower - 32;
    };
    return extension.size() == 4 && extension[0] == '.' && is(1, 'a') && is(2, 'p') && is(3, 'p') &&
           !path.stem().empty();
}

bool isSinglePathComponent(std::string_view name) {
    return !name.empty() && name != "." && name != ".." &&
           name.find_first_of(std::string_view("/\0", 2)) == std::string_view::npos;
}

Bundle::Bundle(fs::path bundlePath, std::shared_ptr<const PlistDictionary> info)
    : bundlePath_(std::move(bundlePath)), info_(std::move(info)) {}

std::optional<Bundle> Bundle::open(const fs::path& bundlePath) {
    // Only a regular file is opened: a named pipe in its place would block the read for good.
    const fs::path infoPath = bundlePath / "Contents" / "Info.plist";
    struct stat st {};
    std::string bytes;
    if (systemFileSystem().statFile(infoPath, &st) || !S_ISREG(st.st_mode) ||
        systemFileSystem().readFile(infoPath, kMaxInfoPlistSize, &bytes)) {
        return std::nullopt;
    }
    std::optional<PlistValue> root = decodePlist(bytes);
    const PlistDictionary* info = root ? root->getIf<PlistDictionary>() : nullptr;
    if (info == nullptr) {
        return std::nullopt;
    }
    return Bundle(bundlePath, std::make_shared<const PlistDictionary>(*info));
}

std::optional<fs::path> Bundle::bundlePathOfExecutable(const fs::path& executable) {
    fs::path macOS = executable.parent_path();
    fs::path contents = macOS.parent_path();
    fs::path bundle = contents.parent_path();
    if (executable.filename().empty() || macOS.filename() != "MacOS" ||
        contents.filename() != "Contents" || !hasAppExtension(bundle)) {
        return std::nullopt;
    }
    return bundle;
}

const std::optional<Bundle>& Bundle::main() {
    if (MainBundleOverride& override = mainBundleOverride(); override.active.load()) {
        return override.bundle;
    }
    static const std::optional<Bundle>& mainBundle =
        *new std::optional<Bundle>([]() -> std::optional<Bundle> {
            std::error_code error;
            fs::path executable = fs::read_symlink("/proc/self/exe", error);
            if (error) {
                return std::nullopt;
            }
            std::optional<fs::path> bundlePath = bundlePathOfExecutable(executable);
            return bundlePath ? open(*bundlePath) : std::nullopt;
        }());  // lives for the process
    return mainBundle;
}

void Bundle::TEST_setMainBundle(std::optional<fs::path> bundlePath) {
    MainBundleOverride& override = mainBundleOverride();
    override.active.store(false);
    override.bundle = bundlePath ? open(*bundlePath) : std::nullopt;
    override.active.store(bundlePath.has_value());
}

std::string Bundle::mainBundleIdentifier() {
    const std::optional<Bundle>& bundle = main();
    std::optional<std::string> identifier = bundle ? bundle->identifier() : std::nullopt;
    return identifier ? *identifier : std::string(kFallbackBundleIdentifier);
}

fs::path Bundle::resourcesPath() const {
    return bundlePath_ / "Contents" / "Resources";
}

std::optional<std::string> Bundle::infoString(std::string_view key) const {
    auto found = info_->find(key);
    const std::string* text = found != info_->end() ? found->second.getIf<std::string>() : nullptr;
    if (text == nullptr) {
        return std::nullopt;
    }
    return *text;
}

std::optional<std::string> Bundle::identifier() const {
    std::optional<std::string> value = infoString("CFBundleIdentifier");
    if (value && value->empty()) {
        return std::nullopt;
    }
    return value;
}

std::optional<fs::path> Bundle::executablePath() const {
    std::optional<std::string> name = infoString("CFBundleExecutable");
    if (!name || !isSinglePathComponent(*name)) {
        return std::nullopt;
    }
    return bundlePath_ / "Contents" / "MacOS" / *name;
}

}  // namespace platform
