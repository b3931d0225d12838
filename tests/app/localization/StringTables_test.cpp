#include "app/localization/StringTables.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "app/localization/TextFormat.h"

namespace cb {
namespace {

// The placeholders of a text in order: "%d" and "%@" ("%%" is an escaped percent sign).
std::vector<std::string> placeholders(std::string_view text) {
    std::vector<std::string> found;
    for (size_t i = 0; i + 1 < text.size(); ++i) {
        if (text[i] != '%') {
            continue;
        }
        if (text[i + 1] != '%') {
            found.emplace_back(text.substr(i, 2));
        }
        ++i;
    }
    return found;
}

TEST(StringTablesTest, EveryLanguageCarriesTheEnglishKeysInOrderWithMatchingPlaceholders) {
    std::span<const StringEntry> english = stringList(Language::english);
    ASSERT_EQ(english.size(), kStringKeyCount);
    for (Language language : kAllLanguages) {
        SCOPED_TRACE(std::string(rawValue(language)));
        std::span<const StringEntry> list = stringList(language);
        ASSERT_EQ(list.size(), kStringKeyCount);
        std::set<std::string_view> keys;
        for (size_t i = 0; i < list.size(); ++i) {
            SCOPED_TRACE(std::string(english[i].key));
            EXPECT_EQ(list[i].key, english[i].key);
            EXPECT_TRUE(keys.insert(list[i].key).second) << "duplicate key";
            EXPECT_FALSE(list[i].text.empty());
            EXPECT_EQ(placeholders(list[i].text), placeholders(english[i].text));
            for (std::string_view p : placeholders(list[i].text)) {
                EXPECT_TRUE(p == "%d" || p == "%@") << "unsupported placeholder " << p;
            }
        }
    }
}

TEST(StringTablesTest, TablesHoldEveryKeyOnce) {
    for (Language language : kAllLanguages) {
        const StringTable& table = stringTable(language);
        EXPECT_EQ(table.size(), kStringKeyCount);
        for (const StringEntry& entry : stringList(language)) {
            auto found = table.find(entry.key);
            ASSERT_NE(found, table.end());
            EXPECT_EQ(found->second, entry.text);
        }
    }
}

TEST(StringTablesTest, EnglishTextsWithSpecialCharactersAreExact) {
    const StringTable& english = stringTable(Language::english);
    EXPECT_EQ(english.at("scan.progress"), "Scanning\u2026");
    EXPECT_EQ(english.at("toolbar.refresh"), "Refresh (\u2318R)");
    EXPECT_EQ(english.at("trash.summary"), "Deleted: %d. Failed: %d.\n\n%@");
    EXPECT_EQ(english.at("fda.step.toggle"),
              "Enable the toggle next to \u201CCellarbright\u201D under Full Disk Access");
    EXPECT_EQ(english.at("perm.appMgmt.body"),
              "To remove applications from /Applications, add Cellarbright under Privacy & "
              "Security \u2192 App Management.");
}

TEST(TextFormatTest, FillsPlaceholdersInOrder) {
    struct Case {
        std::string_view format;
        std::vector<TextArgument> arguments;
        std::string expected;
    };
    const Case cases[] = {
        {"Deleted: %d. Failed: %d.\n\n%@", {3, 1, "a: b"}, "Deleted: 3. Failed: 1.\n\na: b"},
        {"Move to Trash (%@, %@)", {"1.5 MB", "4 items"}, "Move to Trash (1.5 MB, 4 items)"},
        {"%d%%", {-7}, "-7%"},
        {"(%d)", {int64_t{9007199254740993}}, "(9007199254740993)"},
        {"missing %@ and %d", {"one"}, "missing one and %d"},
        {"trailing %", {}, "trailing %"},
        {"other %s %x", {1}, "other %s %x"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(formatText(c.format, c.arguments), c.expected) << c.format;
    }
}

}  // namespace
}  // namespace cb
