#include "app/disk/Formatters.h"

#include <gtest/gtest.h>

#include <limits>
#include <locale>

#include "app/localization/LocalizationManager.h"

namespace cb {
namespace {

// A C++ locale whose numbers use "," as decimal point and "." between thousands, as German
// does; the formatters must not pick it up.
struct CommaDecimal : std::numpunct<char> {
    char do_decimal_point() const override { return ','; }
    char do_thousands_sep() const override { return '.'; }
    std::string do_grouping() const override { return "\3"; }
};

// `zero`: the text of zero bytes in the current interface language.
void expectByteTexts(const std::string& zero) {
    const struct {
        int64_t bytes;
        std::string text;
    } cases[] = {
        {std::numeric_limits<int64_t>::min(), zero},
        {-1, zero},
        {0, zero},
        {1, "1 KB"},
        {999, "1 KB"},
        {1'000, "1 KB"},
        {1'499, "1 KB"},
        {1'500, "2 KB"},
        {999'499, "999 KB"},
        {999'500, "1 MB"},  // rounds up to a whole MB
        {999'999, "1 MB"},
        {1'000'000, "1 MB"},
        {1'049'999, "1 MB"},
        {1'050'000, "1.1 MB"},
        {1'500'000, "1.5 MB"},
        {999'949'999, "999.9 MB"},
        {999'950'000, "1 GB"},
        {1'000'000'000, "1 GB"},
        {1'234'567'890, "1.23 GB"},
        {1'200'000'000, "1.2 GB"},
        {1'005'000'000, "1.01 GB"},
        {1'004'999'999, "1 GB"},
        {999'994'999'999, "999.99 GB"},
        {999'995'000'000, "1 TB"},
        {4'000'000'000'000, "4 TB"},
        {12'345'678'900'000, "12.35 TB"},
        {20'000'000'000'000'000, "20,000 TB"},
        {std::numeric_limits<int64_t>::max(), "9,223,372.04 TB"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(byteFormatter().string(c.bytes), c.text) << c.bytes;
    }
}

void expectPercentTexts() {
    const struct {
        int64_t part;
        int64_t total;
        const char* text;
    } cases[] = {
        {1, 3, "33%"},
        {1, 30, "3.3%"},
        {1, 300, "0.33%"},
        {1, 10, "10%"},
        {1, 100, "1.0%"},
        {5, 0, "0%"},
        {5, -3, "0%"},
        {0, 0, "0%"},
        {0, 7, "0.00%"},
        {456, 1000, "46%"},
        {456, 10000, "4.6%"},
        {456, 100000, "0.46%"},
        {5, 2, "250%"},
        {1, 1, "100%"},
        {-1, 100, "-1.00%"},
        {std::numeric_limits<int64_t>::max(), std::numeric_limits<int64_t>::max(), "100%"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(percentString(c.part, c.total), c.text) << c.part << "/" << c.total;
    }
}

TEST(FormattersTest, GoldenTablesHoldInEveryInterfaceLanguageAndLocale) {
    LocalizationManager& loc = LocalizationManager::shared();
    const Language saved = loc.current();
    const std::locale savedLocale =
        std::locale::global(std::locale(std::locale::classic(), new CommaDecimal));
    // Numbers and units stay as they are; only zero is said in the interface language.
    const struct {
        Language language;
        const char* zero;
    } languages[] = {
        {Language::english, "Zero KB"},
        {Language::russian, "Ноль KB"},
        {Language::german, "Null KB"},
        {Language::chinese, "零 KB"},
    };
    for (const auto& l : languages) {
        SCOPED_TRACE(std::string(rawValue(l.language)));
        loc.setCurrent(l.language);
        expectByteTexts(l.zero);
        expectPercentTexts();
    }
    std::locale::global(savedLocale);
    loc.setCurrent(saved);
}

}  // namespace
}  // namespace cb
