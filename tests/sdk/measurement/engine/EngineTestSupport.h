#pragma once

#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

#include "platform/bundle/Bundle.h"

namespace sdktest {

// A fixture bundle "<folder>/Fixture.app" with a small Info.plist, made the main bundle while
// the object lives. `extraEntries` (XML "<key>..</key><value/>" pairs) join the Info.plist.
class FixtureMainBundle {
  public:
    explicit FixtureMainBundle(const std::filesystem::path& folder,
                               std::string_view extraEntries = {})
        : path_(folder / "Fixture.app") {
        std::filesystem::create_directories(path_ / "Contents" / "Resources");
        std::ofstream(path_ / "Contents" / "Info.plist")
            << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
               "<plist version=\"1.0\"><dict>"
               "<key>CFBundleIdentifier</key><string>com.example.fixture</string>"
               "<key>RazudizoAppStoreReceiptURLCheckEnabled</key><false/>"
            << extraEntries << "</dict></plist>\n";
        platform::Bundle::TEST_setMainBundle(path_);
    }
    ~FixtureMainBundle() { platform::Bundle::TEST_setMainBundle(std::nullopt); }
    FixtureMainBundle(const FixtureMainBundle&) = delete;
    FixtureMainBundle& operator=(const FixtureMainBundle&) = delete;

    const std::filesystem::path& path() const { return path_; }

  private:
    std::filesystem::path path_;
};

}  // namespace sdktest
