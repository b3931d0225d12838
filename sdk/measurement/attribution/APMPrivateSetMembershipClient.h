#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "sdk/utilities/VDUClassRegistry.h"
#include "sdk/utilities/Value.h"

// One query of an optional private-set-membership library: it turns the user's e-mail address
// or phone number (plain or hashed) into a request body and a request address, and reads the
// service's reply into a value ("" when the user is not in the data set). The engine only posts
// the body and hands the reply back; the query and reply formats are the library's own.
//
// Thread-safety: the engine uses a client from its worker queue only.
class APMPrivateSetMembershipClient {
  public:
    // Input types; any other value counts as an e-mail address.
    static constexpr std::int64_t kInputTypeEmailAddress = 1;
    static constexpr std::int64_t kInputTypePhoneNumber = 2;
    static constexpr std::int64_t kInputTypeHashedEmailAddress = 3;
    static constexpr std::int64_t kInputTypeHashedPhoneNumber = 4;

    virtual ~APMPrivateSetMembershipClient() = default;

    virtual std::int64_t inputType() const = 0;
    // The request body.
    virtual sdk::Bytes payloadWithPSMRequest() = 0;
    // Where to post the query on its `retryCount`th retry; no value when there is no address.
    virtual std::optional<std::string> PSMRequestURLWithRetryCount(std::int64_t retryCount) = 0;
    // The value the reply carries; empty when the user is not in the data set.
    virtual std::string parsedPSMValueFromResponse(const sdk::Bytes& response) = 0;
    // The key that marks a debug query; no value when the library has none.
    virtual std::optional<std::string> debugKey() const { return std::nullopt; }
};

// A private-set-membership library as found by name in the class registry. Every library takes
// e-mail addresses; the other inputs and the prefix bit length are abilities a library may lack,
// and the makers of a missing ability answer null.
//
// Two names are looked up: kClassName and, older and deprecated, kDeprecatedClassName. No
// library exists on this platform, so the program registers neither; tests register fakes.
class APMPrivateSetMembershipClientClass : public virtual VDUClass {
  public:
    static constexpr std::string_view kClassName = "ODCPrivateSetMembershipClient";
    static constexpr std::string_view kDeprecatedClassName = "APMPrivateSetMembershipClient";

    // Whether its makers take a prefix bit length; without it the length passed is ignored.
    virtual bool supportsPrefixBitLength() const { return false; }
    virtual bool supportsPhoneNumbers() const { return false; }
    virtual bool supportsHashedEmailAddresses() const { return false; }
    virtual bool supportsHashedPhoneNumbers() const { return false; }

    // A client for one input, or null. `prefixBitLength` has a value exactly when the library
    // supports it (the hashed inputs always get one).
    virtual std::shared_ptr<APMPrivateSetMembershipClient> clientWithEmailAddress(
        const std::string& emailAddress, const std::string& appID,
        std::optional<std::int32_t> prefixBitLength) const = 0;
    virtual std::shared_ptr<APMPrivateSetMembershipClient> clientWithPhoneNumber(
        const std::string& phoneNumber, const std::string& appID,
        std::optional<std::int32_t> prefixBitLength) const {
        (void)phoneNumber;
        (void)appID;
        (void)prefixBitLength;
        return nullptr;
    }
    virtual std::shared_ptr<APMPrivateSetMembershipClient> clientWithHashedEmailAddress(
        const sdk::Bytes& hashedEmailAddress, const std::string& appID,
        std::int32_t prefixBitLength) const {
        (void)hashedEmailAddress;
        (void)appID;
        (void)prefixBitLength;
        return nullptr;
    }
    virtual std::shared_ptr<APMPrivateSetMembershipClient> clientWithHashedPhoneNumber(
        const sdk::Bytes& hashedPhoneNumber, const std::string& appID,
        std::int32_t prefixBitLength) const {
        (void)hashedPhoneNumber;
        (void)appID;
        (void)prefixBitLength;
        return nullptr;
    }
};
