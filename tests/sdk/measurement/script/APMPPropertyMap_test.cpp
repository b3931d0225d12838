#include "sdk/measurement/script/APMPPropertyMap.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "ScriptTestSupport.h"
#include "sdk/measurement/script/APMPNumberValue.h"

namespace {

using namespace script_test;

TEST(APMPPropertyMap, NamesComeBackInCodeUnitOrder) {
    // Prefixes, differences past the first four units, and units above the surrogates (which
    // sort after them by code unit).
    std::vector<std::u16string> names = {
        u"b",    u"a",  u"ab",     u"abcdefgh",      u"abcdefgi",     u"abcdefg",   u"abcd",
        u"abce", u"",   u"\uFFFF", u"\uE000",        u"\xD83D\xDE00", u"10",        u"9",
        u"1.5",  u"-1", u"length", u"abcdabcdabcdX", u"abcdabcdabcd", u"zzzzzzzzz", u"zzzzzzzzy",
        u"Z",
    };
    APMPPropertyMap map;
    for (std::size_t i = 0; i < names.size(); ++i) {
        ASSERT_TRUE(map.setValue(Num(static_cast<double>(i)), names[i]).ok());
    }
    std::vector<std::u16string> expected = names;
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(map.allNames(), expected);
    for (std::size_t i = 0; i < names.size(); ++i) {
        EXPECT_EQ(StringOf(*map.valueForName(names[i])), std::to_string(i)) << i;
    }
    EXPECT_EQ(map.findValue(u"abcdefgj"), nullptr);
    EXPECT_EQ(map.count(), names.size());
}

// Small maps are searched entry by entry, larger ones through their index, and a map with
// slots of its own moves its entries out when it outgrows them; removals move entries and index
// slots around, and names removed and added again come back.
template <typename Map>
void CheckRemovalsLeaveEveryOtherNameFindable() {
    for (const std::size_t size : {1u, 2u, 5u, 9u, 17u, 100u, 1000u}) {
        SCOPED_TRACE(size);
        Map map;
        const auto name = [](std::size_t i) {
            return u"n" + APMPNumberValue::stringFromDouble(static_cast<double>(i));
        };
        for (std::size_t i = 0; i < size; ++i) {
            ASSERT_TRUE(map.setValue(Num(static_cast<double>(i)), name(i)).ok());
        }
        for (std::size_t i = 0; i < size; i += 3) {
            map.removeValueForName(name(i));
        }
        for (std::size_t i = 0; i < size; i += 6) {
            ASSERT_TRUE(map.setValue(Num(static_cast<double>(i)), name(i)).ok());
        }
        std::size_t present = 0;
        for (std::size_t i = 0; i < size; ++i) {
            const bool kept = i % 3 != 0 || i % 6 == 0;
            present += kept ? 1 : 0;
            const APMPValueRef* value = map.findValue(name(i));
            ASSERT_EQ(value != nullptr, kept) << i;
            if (kept) {
                EXPECT_EQ(StringOf(**value), std::to_string(i));
            }
        }
        EXPECT_EQ(map.count(), present);
        EXPECT_EQ(map.allNames().size(), present);
        // Emptied by the collector, the map takes names again.
        APMPMarkable::Released released;
        map.releaseValues(released);
        APMPReleaseAll(released);
        EXPECT_EQ(map.count(), 0u);
        ASSERT_TRUE(map.setValue(Num(7), name(0)).ok());
        EXPECT_EQ(StringOf(*map.valueForName(name(0))), "7");
    }
}

TEST(APMPPropertyMap, RemovalsLeaveEveryOtherNameFindable) {
    CheckRemovalsLeaveEveryOtherNameFindable<APMPPropertyMap>();
    CheckRemovalsLeaveEveryOtherNameFindable<APMPPropertyMapWithSlots<2>>();
}

TEST(APMPPropertyMap, ReadOnlyNamesAndFreezingDropWrites) {
    APMPPropertyMap map;
    ASSERT_TRUE(map.setValue(Num(1), u"x").ok());
    // Declaring a mutable name read-only overwrites it once; later writes and removal are
    // dropped.
    ASSERT_TRUE(map.setImmutableValue(Num(2), u"x").ok());
    ASSERT_TRUE(map.setValue(Num(3), u"x").ok());
    ASSERT_TRUE(map.setImmutableValue(Num(4), u"x").ok());
    map.removeValueForName(u"x");
    EXPECT_EQ(StringOf(*map.valueForName(u"x")), "2");

    ASSERT_TRUE(map.setValue(Num(5), u"y").ok());
    map.removeValueForName(u"y");
    EXPECT_FALSE(map.hasName(u"y"));

    map.makeImmutable();
    ASSERT_TRUE(map.setValue(Num(6), u"z").ok());
    EXPECT_FALSE(map.hasName(u"z"));
    EXPECT_EQ(map.allNames(), std::vector<std::u16string>{u"x"});
}

}  // namespace
