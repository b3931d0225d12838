#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string_view>
#include <vector>

#include "sdk/measurement/attribution/APMInAppPurchaseItem.h"

// Where the receipt scan reports what it found odd: level, code, message and the byte involved.
using APMPurchaseReceiptLog = std::function<void(std::int64_t level, std::int64_t code,
                                                 std::string_view message, std::int64_t value)>;

// The purchase records of a store receipt's DER bytes, in receipt order; records without a
// product identifier are left out.
//
// The scan looks for patterns rather than decoding the DER tree: a record starts at
// 02 01 11 02 01 VV 04 (attribute type 17, any version, an OCTET STRING), and inside a record
// each field is 02 02 06 TT 02 01 VV 04 LL KK LL' followed by the value's LL' bytes (INTEGER
// attribute type 0x06TT, a version, an OCTET STRING holding one DER value of kind KK). Every
// length comes from the data, so every read is checked against its end first: any input, cut
// short or random, yields the records read so far and nothing else.
//
// Odd values go to `log`: 39025 / 39028 (level 5) for a free-trial / introductory-offer byte
// other than 0 or 1, 39027 (level 5) for a long-form length byte. Pure apart from `log`; safe
// from any thread.
std::vector<APMInAppPurchaseItem> APMParsePurchaseReceipt(std::span<const std::uint8_t> receipt,
                                                          const APMPurchaseReceiptLog& log);
