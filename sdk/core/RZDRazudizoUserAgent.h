#pragma once

#include <map>
#include <mutex>
#include <optional>
#include <string>

// The SDK's user-agent string: one "name/value" entry per registered library and per
// environment component (platform, store, packaging, device, system version), sorted without
// regard to case in the current locale and joined with single spaces. An environment component
// replaces a library registered under the same name. The string is built on demand and cached
// until the next change.
//
// All members are safe to call from any thread (one mutex per object).
class RZDRazudizoUserAgent {
  public:
    using Components = std::map<std::string, std::string, std::less<>>;

    // No libraries, no cached string; the environment components are read on first use.
    RZDRazudizoUserAgent() = default;
    RZDRazudizoUserAgent(const RZDRazudizoUserAgent&) = delete;
    RZDRazudizoUserAgent& operator=(const RZDRazudizoUserAgent&) = delete;

    // Stores `version` under `component` (nullopt removes it) and drops the cached string.
    void setValue(std::optional<std::string> version, const std::string& component);

    // The user-agent string, built first when none is cached.
    std::string razudizoUserAgent();

    // Forgets every registered library: the components become a fresh read of the environment
    // components, and the cached string is dropped.
    void reset();

    // The registered components (libraries, and the environment after reset()).
    Components valuesByComponent() const;

    // This object's environment components: read on first use, then kept.
    Components environmentComponents();

    // A fresh read of the environment components: "apple-platform", "appstore" ("true" or
    // "false"), "deploy", "device", "os-version", and "apple-sdk" / "xcode" from the main
    // bundle's Info.plist keys "DTSDKBuild" / "DTXcodeBuild" when present.
    static Components currentEnvironmentComponents();

  private:
    Components environmentComponentsLocked();

    mutable std::mutex mutex_;
    std::optional<std::string> cached_;                // guarded by mutex_
    std::optional<Components> environmentComponents_;  // guarded by mutex_
    Components valuesByComponent_;                     // guarded by mutex_
};
