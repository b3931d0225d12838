#include "app/uninstaller/IdentifierSet.h"

#include "app/uninstaller/IdentifierText.h"

namespace cb {

IdentifierSet::IdentifierSet(std::initializer_list<std::string> members) {
    for (const std::string& member : members) {
        insert(member);
    }
}

bool IdentifierSet::insert(std::string member) {
    std::string canonical = canonicalIdentifier(member);
    return byCanonical_.try_emplace(std::move(canonical), std::move(member)).second;
}

void IdentifierSet::insertAll(const IdentifierSet& other) {
    for (const auto& [canonical, member] : other.byCanonical_) {
        byCanonical_.try_emplace(canonical, member);
    }
}

bool IdentifierSet::contains(std::string_view text) const {
    return containsCanonical(canonicalIdentifier(text));
}

bool IdentifierSet::containsCanonical(std::string_view canonical) const {
    return byCanonical_.find(canonical) != byCanonical_.end();
}

std::vector<std::string> IdentifierSet::members() const {
    std::vector<std::string> result;
    result.reserve(byCanonical_.size());
    for (const auto& entry : byCanonical_) {
        result.push_back(entry.second);
    }
    return result;
}

}  // namespace cb
