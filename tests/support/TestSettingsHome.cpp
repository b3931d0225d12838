// Linked into every test program: the program keeps its settings files in a folder of its own
// under the build folder, never in the user's. Tests that switch the interface language store
// it in the settings, and a test program running beside them would otherwise start in it.
// Set before any other static initialiser runs, so test helpers that point the folder
// elsewhere for their own process (at static initialisation or later) still win; a test program
// started by a test keeps the folder its parent handed it.
#include <stdlib.h>

namespace {

struct SettingsHome {
    SettingsHome() {
        if (getenv("CB_TEST_SETTINGS_HOME_SET") == nullptr) {
            setenv("XDG_CONFIG_HOME", CB_TEST_SETTINGS_HOME, 1);
            setenv("CB_TEST_SETTINGS_HOME_SET", "1", 1);
        }
    }
};

[[maybe_unused]] const SettingsHome kSettingsHome __attribute__((init_priority(101)));

}  // namespace
