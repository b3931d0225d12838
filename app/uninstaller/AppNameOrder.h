#pragma once

#include <memory>
#include <string_view>

namespace cb {

// The one order of application names, shared by the listing and the sort orders of the apps
// list: the collation of the user's locale at secondary strength, so letter case is ignored
// ("Zoom" and "zoom" are equal) while accents still count ("resume" before "résumé").
//
// Made once per sort; compare() is const and touches no shared state, but an instance is meant
// for one thread at a time.
class AppNameOrder {
  public:
    // Uses the process's default locale; the POSIX locale, which orders by character codes and
    // would put every capital before every small letter, is replaced by the root collation.
    AppNameOrder();
    ~AppNameOrder();

    AppNameOrder(const AppNameOrder&) = delete;
    AppNameOrder& operator=(const AppNameOrder&) = delete;

    // Negative when `a` sorts before `b`, 0 when they are equal in this order, positive after.
    // Both are UTF-8.
    int compare(std::string_view a, std::string_view b) const;

  private:
    struct Collation;
    std::unique_ptr<Collation> collation_;  // null when no collator could be made
};

}  // namespace cb
