#include "sdk/measurement/storage/APMPersistentDictionary.h"

#include <sys/stat.h>

#include <chrono>
#include <thread>

#include "sdk/utilities/Date.h"
#include "tests/sdk/measurement/storage/PersistenceTestSupport.h"

namespace {

namespace fs = std::filesystem;
using sdk::Value;
using sdktest::CountingFileSystem;

constexpr const char* kName = "com.example.dictionary";
constexpr const char* kLinePrefix = "com.vovidu.razudizo.analytics  - <DivEdadevadeze>";

class APMPersistentDictionaryTest : public sdktest::MeasurementHomeTest {
  protected:
    std::shared_ptr<APMPersistentDictionary> open() {
        return APMPersistentDictionary::initWithFileName(kName, fileSystem_);
    }
    fs::path plist() const { return measurementFolder() / (std::string(kName) + ".plist"); }

    CountingFileSystem& fileSystem_ = sdktest::freshCountingFileSystem();
};

TEST_F(APMPersistentDictionaryTest, BurstOfChangesIsOneBinaryFileReplacementASecondLater) {
    auto dictionary = open();
    ASSERT_TRUE(dictionary);
    const auto start = std::chrono::steady_clock::now();
    dictionary->setObject(Value("text"), "string");
    dictionary->setInteger(-42, "integer");
    dictionary->setDouble(2.5, "double");
    dictionary->setObject(Value(sdk::Bytes{0, 1, 255}), "bytes");
    dictionary->setObject(Value(sdk::Date::fromTimeIntervalSince1970(1700000000)), "date");
    EXPECT_EQ(fileSystem_.renames.load(), 0);

    ASSERT_TRUE(sdktest::waitUntil([&] { return fileSystem_.renames.load() > 0; }));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
    EXPECT_EQ(fileSystem_.renames.load(), 1);

    EXPECT_EQ(sdktest::readFile(plist()).substr(0, 8), "bplist00");
    const std::string xml = sdktest::plistAsXml(plist());
    for (const char* expected :
         {"<key>string</key>\n\t<string>text</string>", "<key>integer</key>\n\t<integer>-42",
          "<key>double</key>\n\t<real>2.5", "<key>bytes</key>\n\t<data>\n\tAAH/",
          "<key>date</key>\n\t<date>2023-11-14T22:13:20Z</date>"}) {
        EXPECT_NE(xml.find(expected), std::string::npos) << expected << "\n" << xml;
    }

    // The file is read back with its kinds.
    dictionary.reset();
    dictionary = open();
    EXPECT_EQ(dictionary->stringForKey("string"), "text");
    EXPECT_EQ(dictionary->integerForKey("integer"), -42);
    EXPECT_EQ(dictionary->doubleForKey("double"), 2.5);
    EXPECT_EQ(dictionary->objectForKey("bytes"), Value(sdk::Bytes{0, 1, 255}));
    EXPECT_EQ(dictionary->objectForKey("date"),
              Value(sdk::Date::fromTimeIntervalSince1970(1700000000)));
}

TEST_F(APMPersistentDictionaryTest, UnchangedValuesWriteNothingAndReleaseWritesPendingChanges) {
    auto dictionary = open();
    dictionary->setObject(Value("kept"), "name");
    dictionary.reset();  // a change is pending: written at once
    EXPECT_EQ(fileSystem_.renames.load(), 1);

    dictionary = open();
    dictionary->setObject(Value("kept"), "name");
    dictionary->removeObjectForKey("absent");
    dictionary->setObject(Value(1), "integer-not-bool");
    dictionary->setObject(Value(1), "integer-not-bool");
    dictionary->removeObjectForKey("integer-not-bool");
    EXPECT_EQ(dictionary->objectForKey("name"), Value("kept"));
    // Only the added-then-removed key changed anything.
    dictionary.reset();
    EXPECT_EQ(fileSystem_.renames.load(), 2);

    dictionary = open();
    dictionary->setObject(Value("kept"), "name");
    dictionary.reset();
    EXPECT_EQ(fileSystem_.renames.load(), 2);
}

TEST_F(APMPersistentDictionaryTest, TypedReadsAnswerOnlyTheirKind) {
    auto dictionary = open();
    dictionary->setObject(Value("12"), "string");
    dictionary->setDouble(3.75, "double");
    dictionary->setBool(true, "bool");
    dictionary->setObject(Value(Value::Array{1, "a"}), "array");
    EXPECT_EQ(dictionary->integerForKey("string"), 0);
    EXPECT_EQ(dictionary->numberForKey("string"), std::nullopt);
    EXPECT_EQ(dictionary->integerForKey("double"), 3);
    EXPECT_EQ(dictionary->stringForKey("double"), std::nullopt);
    EXPECT_TRUE(dictionary->boolForKey("bool"));
    EXPECT_EQ(dictionary->arrayForKey("array"), (Value::Array{1, "a"}));
    EXPECT_EQ(dictionary->dictionaryForKey("array"), std::nullopt);
    EXPECT_EQ(dictionary->doubleForKey("missing"), 0.0);
}

TEST_F(APMPersistentDictionaryTest, BadKeysAndValuesAreRefusedWithTheirCodes) {
    sdktest::LoggedLines log;
    auto dictionary = open();
    dictionary->setObject(Value("x"), "");
    EXPECT_EQ(dictionary->objectForKey(""), std::nullopt);
    dictionary->setObject(Value(nullptr), "null");
    dictionary->setObject(Value(Value::Dictionary{{"a", Value::Array{1, nullptr}}}), "nested");
    EXPECT_EQ(dictionary->objectForKey("null"), std::nullopt);
    EXPECT_EQ(dictionary->objectForKey("nested"), std::nullopt);
    const std::string prefix = kLinePrefix;
    const std::string invalidValue =
        "[I-ACS043003] Cannot set invalid object to config. Must be a string, number, array, "
        "dictionary, date, or data. Value ";
    EXPECT_EQ(log.take(),
              (std::vector<std::string>{
                  prefix + "[I-ACS043002] Cannot set object for invalid config key.",
                  prefix + "[I-ACS043001] Cannot get object for invalid config key.",
                  prefix + invalidValue + "null",
                  prefix + invalidValue +
                      Value(Value::Dictionary{{"a", Value::Array{1, nullptr}}}).description(),
              }));
    dictionary.reset();
    EXPECT_EQ(fileSystem_.renames.load(), 0);
}

TEST_F(APMPersistentDictionaryTest, UncreatableFolderLogsAndGivesNoDictionary) {
    sdktest::LoggedLines log;
    sdktest::writeFile(dir_ / "data", "a file where the data folder should be");
    EXPECT_EQ(open(), nullptr);
    EXPECT_EQ(log.take(),
              (std::vector<std::string>{
                  std::string(kLinePrefix) +
                  "[I-ACS043004] Cannot create subdirectories for config plist files."}));
    EXPECT_EQ(APMPersistentDictionary::initWithFileName("", fileSystem_), nullptr);
}

TEST_F(APMPersistentDictionaryTest, TruncatedFileLoadsEmptyAndIsReplacedWhole) {
    {
        auto dictionary = open();
        dictionary->setObject(Value("first"), "a");
        dictionary->setObject(Value("second"), "b");
    }
    const std::string whole = sdktest::readFile(plist());
    sdktest::writeFile(plist(), whole.substr(0, whole.size() / 2));

    auto dictionary = open();
    EXPECT_EQ(dictionary->objectForKey("a"), std::nullopt);
    dictionary->setObject(Value("third"), "c");
    dictionary.reset();

    dictionary = open();
    EXPECT_EQ(dictionary->objectForKey("c"), Value("third"));
    EXPECT_EQ(dictionary->objectForKey("a"), std::nullopt);
    EXPECT_EQ(sdktest::filesIn(measurementFolder()),
              (std::vector<std::string>{std::string(kName) + ".plist"}));
}

TEST_F(APMPersistentDictionaryTest, FailedWriteKeepsTheOldFileAndLeavesNoTemporary) {
    {
        auto dictionary = open();
        dictionary->setObject(Value("old"), "key");
    }
    const std::string before = sdktest::readFile(plist());
    sdktest::LoggedLines log;
    fileSystem_.failRenames = true;
    auto dictionary = open();
    dictionary->setObject(Value("new"), "key");
    dictionary->persistToDisk();
    EXPECT_EQ(log.take(),
              (std::vector<std::string>{std::string(kLinePrefix) +
                                        "[I-ACS043000] Cannot persist configs to disk"}));
    EXPECT_EQ(sdktest::readFile(plist()), before);
    EXPECT_EQ(sdktest::filesIn(measurementFolder()),
              (std::vector<std::string>{std::string(kName) + ".plist"}));

    // The next change writes the whole state again.
    fileSystem_.failRenames = false;
    dictionary->setObject(Value("newer"), "other");
    dictionary.reset();
    dictionary = open();
    EXPECT_EQ(dictionary->objectForKey("key"), Value("new"));
    EXPECT_EQ(dictionary->objectForKey("other"), Value("newer"));
}

TEST_F(APMPersistentDictionaryTest, OpeningRemovesTheTemporaryFilesOfKilledWriters) {
    {
        auto dictionary = open();
        dictionary->setObject(Value("kept"), "key");
    }  // written on release
    const std::string file = plist().filename().string();
    const std::vector<std::string> leftovers = {"." + file + ".a1B2c3", "." + file + ".000000"};
    for (const std::string& name : leftovers) {
        sdktest::writeFile(measurementFolder() / name, std::string(4096, 'x'));
    }
    const std::vector<std::string> others = {".other.plist.a1B2c3", "." + file + ".a1B2",
                                             "vovidu-app-measurement.sql"};
    for (const std::string& name : others) {
        sdktest::writeFile(measurementFolder() / name, "y");
    }

    auto dictionary = open();
    ASSERT_TRUE(dictionary);
    for (const std::string& name : leftovers) {
        EXPECT_FALSE(fs::exists(measurementFolder() / name)) << name;
    }
    for (const std::string& name : others) {
        EXPECT_TRUE(fs::exists(measurementFolder() / name)) << name;
    }
    EXPECT_EQ(dictionary->objectForKey("key"), Value("kept"));
}

TEST_F(APMPersistentDictionaryTest, ChangesFromManyThreadsAllReachTheFile) {
    auto dictionary = open();
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 50; ++i) {
                const std::string key = std::to_string(t) + "/" + std::to_string(i);
                dictionary->setInteger(i, key);
                (void)dictionary->integerForKey(key);
                if (i % 10 == 0) {
                    dictionary->persistToDisk();
                }
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    // A delayed write already under way keeps the dictionary alive until it has renamed its file,
    // so the last changes may reach the file just after the caller lets go of it.
    dictionary.reset();
    const auto allWritten = [&] {
        dictionary = open();
        for (int t = 0; t < 8; ++t) {
            if (dictionary->integerForKey(std::to_string(t) + "/49") != 49) {
                return false;
            }
        }
        return true;
    };
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    bool written = allWritten();
    while (!written && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        written = allWritten();
    }
    EXPECT_TRUE(written);
}

}  // namespace
