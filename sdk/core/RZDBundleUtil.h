#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/bundle/Bundle.h"

// Bundle questions of the core: where the options list is and whether the program's bundle
// identifier matches the one in the options. Class operations only; safe from any thread.
class RZDBundleUtil {
  public:
    RZDBundleUtil() = delete;

    // The bundles the core looks in: the main bundle, then the bundle holding the SDK, which is
    // the main bundle too (the SDK is linked into the program). Empty outside a bundle.
    static std::vector<platform::Bundle> relevantBundles();

    // The path of "<name>.<type>" in the Resources folder of the first of `bundles` that has it
    // as a regular file; nullopt when none has, or when the file name would leave the folder.
    static std::optional<std::filesystem::path> optionsDictionaryPathWithResourceName(
        std::string_view name, std::string_view type, const std::vector<platform::Bundle>& bundles);

    // True when some bundle's identifier equals `identifier` exactly.
    static bool hasBundleIdentifierPrefix(std::string_view identifier,
                                          const std::vector<platform::Bundle>& bundles);

    // `identifier` without its last "."-separated part and that dot ("" when it has no dot).
    static std::string bundleIdentifierByRemovingLastPartFrom(std::string_view identifier);

    // Every string of "CFBundleURLSchemes" of every entry of "CFBundleURLTypes" in the Info.plist
    // of each bundle, in order. The first form asks the relevant bundles.
    static std::vector<std::string> relevantURLSchemes();
    static std::vector<std::string> relevantURLSchemes(
        const std::vector<platform::Bundle>& bundles);
};
