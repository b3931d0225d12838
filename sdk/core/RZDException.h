#pragma once

#include <stdexcept>
#include <string>

// The SDK's programmer error: a misuse the caller must fix (missing configuration, a second
// configuration, a malformed argument). It carries a name, such as "com.razudizo.core", and a
// reason; what() is the reason. Run-time failures never use it: they are sdk::Error values.
class RZDException : public std::logic_error {
  public:
    RZDException(std::string name, const std::string& reason)
        : std::logic_error(reason), name_(std::move(name)) {}

    // The exception's name, e.g. "com.razudizo.core".
    const std::string& name() const { return name_; }

    // The human-readable reason (the same text as what()).
    std::string reason() const { return what(); }

  private:
    std::string name_;
};
