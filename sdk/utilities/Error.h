#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "sdk/utilities/Value.h"

namespace sdk {

// The user-info key under which an error keeps its message, as Foundation errors do.
inline constexpr std::string_view kLocalizedDescriptionKey = "NSLocalizedDescription";

// The outcome of an SDK operation: success, or a failure with a domain, a code, an optional
// message and optional user info (the SDK's error object).
//
// Success costs one null pointer: no allocation, no strings. A failure shares one immutable
// record between its copies, so passing errors around is cheap. Each module offers one
// factory per code for its own domain; callers propagate with `if (!e.ok()) return e;`.
//
// Thread-safety: an Error is immutable, and copies may be used on any thread.
class [[nodiscard]] Error {
  public:
    // Makes success.
    Error() noexcept = default;
    static Error OK() noexcept { return Error(); }

    // Makes a failure. A non-empty `message` is stored in the user info under
    // kLocalizedDescriptionKey (replacing an entry there).
    Error(std::string domain, std::int64_t code, std::string message = {},
          Value::Dictionary userInfo = {});

    bool ok() const noexcept { return rep_ == nullptr; }

    // The failure's domain; empty on success.
    const std::string& domain() const;

    // The failure's code; 0 on success.
    std::int64_t code() const { return ok() ? 0 : rep_->code; }

    // True for a failure with this domain and code.
    bool is(std::string_view domain, std::int64_t code) const {
        return !ok() && rep_->domain == domain && rep_->code == code;
    }

    // The message stored under kLocalizedDescriptionKey; empty when there is none.
    std::string message() const;

    // The message, or, when there is none, a generic sentence naming domain and code
    // ("The operation couldn’t be completed. (<domain> error <code>.)"). Empty on success.
    std::string localizedDescription() const;

    // The user info; empty on success.
    const Value::Dictionary& userInfo() const;

    // One user-info entry; nullptr when absent or on success.
    const Value* userInfoValue(std::string_view key) const;

    // "OK" on success, else "<domain> error <code>" followed by ": <message>" when there is a
    // message.
    std::string ToString() const;

  private:
    struct Rep {
        std::string domain;
        std::int64_t code;
        Value::Dictionary userInfo;
    };

    std::shared_ptr<const Rep> rep_;  // null on success
};

}  // namespace sdk
