#pragma once

#include <filesystem>
#include <optional>
#include <string>

// How the app was installed and what it runs on. Class operations only; safe from any thread.
// This platform has no store receipt and no provisioning profile, so the receipt probes answer
// "none"; the bundle probes look at the main bundle (platform/bundle).
class APMAEU {
  public:
    APMAEU() = delete;

    // The store receipt's location. No store installs receipts here, so there is none (with
    // or without the Info.plist switch "RazudizoAppStoreReceiptURLCheckEnabled") unless a test
    // sets one (tests/sdk/measurement/engine/APMAEUTesting.h).
    static std::optional<std::filesystem::path> appStoreRURL();

    // Whether the receipt is a sandbox (test) receipt: its file is named "sandboxReceipt".
    static bool isASRS();

    // Always false.
    static bool isNOD();

    // Installed from the store: never for a sandbox receipt; yes when "SC_Info" exists inside
    // the main bundle; otherwise only when the main executable carries encryption information
    // (read once per process; an ELF executable never does) and the bundle has no
    // "embedded.mobileprovision" resource.
    static bool isFAS();

    static std::string deviceModel();
    static std::string systemVersion();

    // Whether the main bundle's folder ends in ".appex" (running as an app extension).
    static bool isAEX();
};
