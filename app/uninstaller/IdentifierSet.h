#pragma once

#include <initializer_list>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace cb {

// A set of identifiers or names whose members are kept exactly as found (no case change, no
// trimming, no normalisation) while membership follows sameIdentifier(): letter case counts, and
// canonically equivalent spellings are one member (the first spelling added is kept). Empty
// strings may be members; the matchers skip them. A plain value; any thread.
class IdentifierSet {
  public:
    IdentifierSet() = default;
    IdentifierSet(std::initializer_list<std::string> members);

    // Adds `member` unless an equivalent one is in the set already; returns whether it was added.
    bool insert(std::string member);

    // Adds every member of `other`.
    void insertAll(const IdentifierSet& other);

    // Whether a member is equivalent to `text`.
    bool contains(std::string_view text) const;

    // Whether a member's canonical (NFC) form is `canonical`, which the caller has already put
    // in that form with canonicalIdentifier().
    bool containsCanonical(std::string_view canonical) const;

    size_t size() const { return byCanonical_.size(); }
    bool empty() const { return byCanonical_.empty(); }

    // The members as found, ordered by the UTF-8 bytes of their canonical forms.
    std::vector<std::string> members() const;

    // Canonical form -> the member as found, in canonical byte order.
    const std::map<std::string, std::string, std::less<>>& byCanonical() const {
        return byCanonical_;
    }

    bool operator==(const IdentifierSet&) const = default;

  private:
    std::map<std::string, std::string, std::less<>> byCanonical_;
};

}  // namespace cb
