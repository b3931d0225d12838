#include "app/localization/StringTables.h"

#include <array>
#include <cassert>

namespace cb {

std::span<const StringEntry> stringList(Language language) {
    switch (language) {
        case Language::english:
            return strings::english();
        case Language::russian:
            return strings::russian();
        case Language::german:
            return strings::german();
        case Language::chinese:
            return strings::chinese();
    }
    return strings::english();
}

namespace {

using AllTables = std::array<StringTable, kAllLanguages.size()>;

AllTables buildTables() {
    AllTables tables;
    for (Language language : kAllLanguages) {
        StringTable& table = tables[static_cast<size_t>(language)];
        table.reserve(kStringKeyCount);
        for (const StringEntry& entry : stringList(language)) {
            table.emplace(entry.key, entry.text);
        }
        assert(table.size() == kStringKeyCount);
    }
    return tables;
}

}  // namespace

const StringTable& stringTable(Language language) {
    // A function-local static: built once, thread-safe, on the first lookup.
    static const AllTables tables = buildTables();
    return tables[static_cast<size_t>(language)];
}

}  // namespace cb
