#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "sdk/measurement/attribution/APMInAppPurchaseItem.h"

namespace sdktest {

// Writes receipt bytes the way the store lays out purchase records: a record header
// (02 01 11 02 01 01 04 and a length byte), then one field per value
// (02 02 06 TT 02 01 01 04 LL KK LL' value). Lengths are single bytes; longer values wrap, as
// a damaged receipt might.
class ReceiptBuilder {
  public:
    static constexpr std::uint8_t kUTF8 = 0x0C;
    static constexpr std::uint8_t kIA5 = 0x16;
    static constexpr std::uint8_t kInteger = 0x02;

    ReceiptBuilder& raw(const std::vector<std::uint8_t>& bytes) {
        bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
        return *this;
    }
    ReceiptBuilder& record() { return raw({0x02, 0x01, 0x11, 0x02, 0x01, 0x01, 0x04, 0x30}); }
    ReceiptBuilder& field(std::uint8_t typeLow, std::uint8_t kind,
                          const std::vector<std::uint8_t>& value) {
        const auto length = static_cast<std::uint8_t>(value.size());
        raw({0x02, 0x02, 0x06, typeLow, 0x02, 0x01, 0x01, 0x04,
             static_cast<std::uint8_t>(length + 2), kind, length});
        return raw(value);
    }
    ReceiptBuilder& text(std::uint8_t typeLow, std::uint8_t kind, const std::string& value) {
        return field(typeLow, kind, std::vector<std::uint8_t>(value.begin(), value.end()));
    }

    // One record holding every field `item` has.
    ReceiptBuilder& item(const APMInAppPurchaseItem& item) {
        record();
        textIf(0xA6, kUTF8, item.productID);
        textIf(0xA7, kUTF8, item.transactionID);
        textIf(0xA9, kUTF8, item.originalTransactionID);
        textIf(0xAC, kIA5, item.subscriptionExpirationDateIA5String);
        field(0xB1, kInteger, {static_cast<std::uint8_t>(item.freeTrial)});
        field(0xB7, kInteger, {static_cast<std::uint8_t>(item.introductoryOffer)});
        if (item.purchaseType) {
            field(0xAB, kInteger, {static_cast<std::uint8_t>(*item.purchaseType)});
        }
        if (item.webOrderLineItemID) {
            std::vector<std::uint8_t> bytes;
            for (int shift = 56; shift >= 0; shift -= 8) {
                bytes.push_back(static_cast<std::uint8_t>(*item.webOrderLineItemID >> shift));
            }
            field(0xAF, kInteger, bytes);
        }
        textIf(0xA8, kIA5, item.purchaseDateIA5String);
        textIf(0xAA, kIA5, item.originalPurchaseDateIA5String);
        textIf(0xB0, kIA5, item.cancellationDateIA5String);
        return *this;
    }

    const std::vector<std::uint8_t>& bytes() const { return bytes_; }

  private:
    void textIf(std::uint8_t typeLow, std::uint8_t kind, const std::optional<std::string>& value) {
        if (value) {
            text(typeLow, kind, *value);
        }
    }

    std::vector<std::uint8_t> bytes_;
};

}  // namespace sdktest
