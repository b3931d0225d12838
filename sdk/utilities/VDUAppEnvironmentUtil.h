#pragma once

#include <optional>
#include <string>
#include <string_view>

// Questions about the process and the machine. Class operations only; every answer may be
// asked from any thread. On Linux there is no App Store, receipt, simulator, extension or
// app clip, so those probes answer false; the platform words stay those of the product's home
// platform ("macos").
class VDUAppEnvironmentUtil {
  public:
    VDUAppEnvironmentUtil() = delete;

    // False when running in a simulator or against a sandbox receipt; else whether the main
    // executable carries encryption information (see ExecutableEncryption.h; an ELF executable
    // never does). The executable is read once, the first time this is asked.
    static bool isFromAppStore();

    // Whether the App Store receipt is a sandbox receipt; there is no receipt here: false.
    static bool isAppStoreReceiptSandbox();

    // Always false.
    static bool isSimulator();

    // The value of a system-control entry by name, or no value when it is unknown, unreadable
    // or empty. "hw.model" is the machine's DMI product name; other names are looked up
    // under /proc/sys with dots as path separators ("kernel.ostype"). At most the size the
    // entry reports is read, and the text ends at the first NUL byte or trailing newline.
    // Names other than dot-separated letters, digits, '_' and '-' give no value.
    static std::optional<std::string> getSysctlEntry(std::string_view name);

    // The device model: "hw.model", else the machine field of uname (e.g. "x86_64").
    // Computed once; every call returns the same string object.
    static const std::string& deviceModel();

    // The raw "hw.model" value, computed once; no value when there is none.
    static const std::optional<std::string>& deviceSimulatorModel();

    // The system version: "major.minor", then ".patch" when the patch is not 0.
    static std::string systemVersion();

    // Always false.
    static bool isAppExtension();

    // Always false.
    static bool isAppClip();

    // Neither an extension nor an app clip: true.
    static bool supportsBackgroundURLSessionUploads();

    // "macos".
    static std::string applePlatform();

    // The same as applePlatform().
    static std::string appleDevicePlatform();

    // "cmake": how the SDK is packaged into the application (a library target of the CMake
    // build), for the SDK's user agent.
    static std::string deploymentType();

    // Test hook: makes isFromAppStore() answer `value` (no value restores the real probe).
    static void TEST_setIsFromAppStore(std::optional<bool> value);
};

// Network-type queries, answered with fixed values on this platform.
class VDUNetworkInfo {
  public:
    VDUNetworkInfo() = delete;

    // Always -1.
    static long getNetworkType() { return -1; }

    // Always the empty string.
    static std::string getNetworkRadioType() { return std::string(); }
};
