// Writes the seed inputs of plist_fuzz into the folder named on the command line: ordinary
// property lists of every type in both forms, and the hostile shapes the readers refuse.
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/preferences/PlistCodec.h"
#include "tests/platform/preferences/HostilePlists.h"

namespace {

void write(const std::filesystem::path& folder, const std::string& name, const std::string& bytes) {
    std::ofstream(folder / name, std::ios::binary) << bytes;
}

platform::PlistValue everyType() {
    using namespace platform;
    return PlistDictionary{
        {"bool", true},
        {"negative", int64_t{-42}},
        {"real", 2.5},
        {"text", "Русский 中文"},
        {"data", PlistData{{0, 1, 255}}},
        {"date", PlistDate{1700000000}},
        {"array", PlistArray{1, "two", PlistArray{}, PlistDictionary{{"", false}}}},
        {"CFBundleIdentifier", "com.example.App"},
    };
}

}  // namespace

int main(int argc, char** argv) {
    using namespace std::string_literals;
    if (argc != 2) {
        return 2;
    }
    const std::filesystem::path folder(argv[1]);
    std::filesystem::create_directories(folder);
    namespace hostile = platform::hostile;
    write(folder, "every-type.xml", platform::encodeXmlPlist(everyType()));
    write(folder, "every-type.bplist", platform::encodeBinaryPlist(everyType()));
    write(folder, "xml-with-comments",
          "<?xml version=\"1.0\"?><!DOCTYPE plist PUBLIC \"-//x//DTD PLIST 1.0//EN\" \"x\">"
          "<plist version=\"1.0\"><!-- <array> --><dict><key>a&amp;b</key><string>&lt;"
          "</string><key>n</key><integer>7</integer></dict></plist>");
    write(folder, "deep-xml", hostile::deepXml(100));
    write(folder, "deep-xml-quoted", hostile::deepXml(40, "a=\"/>\""));
    write(folder, "shared-4", hostile::sharedReferences(4));
    write(folder, "shared-24", hostile::sharedReferences(24));
    write(folder, "shared-wide", hostile::sharedReferences(10, 4));
    write(folder, "cycle", hostile::binaryPlist({hostile::arrayObject({0})}));
    write(folder, "shared-string", hostile::sharedLongString(5, 300));
    // Findings: a NUL inside an XML key made libplist assert.
    write(folder, "finding-nul-in-key.xml",
          "<plist><dict><key>\0\0\0\xdb"
          "CFBundleIdentifier</key><string>x</string></dict></plist>"s);
    // A string that is not UTF-8 read back, then written as a binary list nobody could read.
    write(folder, "finding-not-utf8.xml",
          "<plist><string>\x9d\x90"
          "fc</string></plist>");
    // Fourteen levels of shared pairs: quick to read, but seconds for libplist to write back.
    write(folder, "finding-shared-14", hostile::sharedReferences(14));
    return 0;
}
