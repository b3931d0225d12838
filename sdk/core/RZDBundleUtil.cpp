#include "sdk/core/RZDBundleUtil.h"

#include <system_error>

namespace fs = std::filesystem;

std::vector<platform::Bundle> RZDBundleUtil::relevantBundles() {
    const std::optional<platform::Bundle>& main = platform::Bundle::main();
    if (!main) {
        return {};
    }
    return {*main, *main};
}

std::optional<fs::path> RZDBundleUtil::optionsDictionaryPathWithResourceName(
    std::string_view name, std::string_view type, const std::vector<platform::Bundle>& bundles) {
    const std::string fileName = std::string(name) + "." + std::string(type);
    if (name.empty() || !platform::isSinglePathComponent(fileName)) {
        return std::nullopt;
    }
    for (const platform::Bundle& bundle : bundles) {
        fs::path candidate = bundle.resourcesPath() / fileName;
        std::error_code error;
        if (fs::is_regular_file(candidate, error)) {
            return candidate;
        }
    }
    return std::nullopt;
}

bool RZDBundleUtil::hasBundleIdentifierPrefix(std::string_view identifier,
                                              const std::vector<platform::Bundle>& bundles) {
    for (const platform::Bundle& bundle : bundles) {
        if (bundle.identifier() == identifier) {
            return true;
        }
    }
    return false;
}

std::string RZDBundleUtil::bundleIdentifierByRemovingLastPartFrom(std::string_view identifier) {
    const size_t dot = identifier.rfind('.');
    return dot == std::string_view::npos ? std::string() : std::string(identifier.substr(0, dot));
}

std::vector<std::string> RZDBundleUtil::relevantURLSchemes() {
    return relevantURLSchemes(relevantBundles());
}

std::vector<std::string> RZDBundleUtil::relevantURLSchemes(
    const std::vector<platform::Bundle>& bundles) {
    std::vector<std::string> schemes;
    for (const platform::Bundle& bundle : bundles) {
        auto types = bundle.info().find("CFBundleURLTypes");
        const platform::PlistArray* typeList =
            types != bundle.info().end() ? types->second.getIf<platform::PlistArray>() : nullptr;
        if (typeList == nullptr) {
            continue;
        }
        for (const platform::PlistValue& type : *typeList) {
            const auto* entry = type.getIf<platform::PlistDictionary>();
            if (entry == nullptr) {
                continue;
            }
            auto found = entry->find("CFBundleURLSchemes");
            if (found == entry->end()) {
                continue;
            }
            if (const auto* list = found->second.getIf<platform::PlistArray>()) {
                for (const platform::PlistValue& scheme : *list) {
                    if (const auto* text = scheme.getIf<std::string>()) {
                        schemes.push_back(*text);
                    }
                }
            }
        }
    }
    return schemes;
}
