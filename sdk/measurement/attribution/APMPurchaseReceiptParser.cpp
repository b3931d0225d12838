#include "sdk/measurement/attribution/APMPurchaseReceiptParser.h"

#include <array>
#include <cstddef>
#include <optional>
#include <string>

#include "sdk/measurement/engine/APMDigest.h"

namespace {

// A pattern byte that matches any data byte and captures it.
constexpr int kAny = -1;

constexpr std::array<int, 7> kRecordStart = {0x02, 0x01, 0x11, 0x02, 0x01, kAny, 0x04};

enum class Conversion { kText, kFreeTrial, kIntroductoryOffer, kPurchaseType, kLineItem };

struct FieldPattern {
    std::uint8_t typeLow;  // the attribute type is 0x06 typeLow
    std::uint8_t kind;     // the DER kind of the value inside the OCTET STRING
    Conversion conversion;
    std::optional<std::string> APMInAppPurchaseItem::*text;  // for kText
};

// The fields in the order they are tried at an offset.
constexpr std::array<FieldPattern, 11> kFields = {{
    {0xA6, 0x0C, Conversion::kText, &APMInAppPurchaseItem::productID},
    {0xA7, 0x0C, Conversion::kText, &APMInAppPurchaseItem::transactionID},
    {0xA9, 0x0C, Conversion::kText, &APMInAppPurchaseItem::originalTransactionID},
    {0xAC, 0x16, Conversion::kText, &APMInAppPurchaseItem::subscriptionExpirationDateIA5String},
    {0xB1, 0x02, Conversion::kFreeTrial, nullptr},
    {0xB7, 0x02, Conversion::kIntroductoryOffer, nullptr},
    {0xAB, 0x02, Conversion::kPurchaseType, nullptr},
    {0xAF, 0x02, Conversion::kLineItem, nullptr},
    {0xA8, 0x16, Conversion::kText, &APMInAppPurchaseItem::purchaseDateIA5String},
    {0xAA, 0x16, Conversion::kText, &APMInAppPurchaseItem::originalPurchaseDateIA5String},
    {0xB0, 0x16, Conversion::kText, &APMInAppPurchaseItem::cancellationDateIA5String},
}};

class ReceiptScan {
  public:
    ReceiptScan(std::span<const std::uint8_t> data, const APMPurchaseReceiptLog& log)
        : data_(data), log_(log) {}

    // The value bytes of `pattern` at `offset`, or none. The pattern must end before the last
    // data byte; its last captured byte is the value's length (0: no match), and the value
    // must lie inside the data.
    template <std::size_t N>
    std::optional<std::span<const std::uint8_t>> match(std::size_t offset,
                                                       const std::array<int, N>& pattern) const {
        if (data_.size() < N + 1 || offset > data_.size() - N - 1) {
            return std::nullopt;
        }
        std::size_t length = 0;
        for (std::size_t i = 0; i < N; ++i) {
            const std::uint8_t byte = data_[offset + i];
            if (pattern[i] == kAny) {
                length = byte;
            } else if (pattern[i] != byte) {
                return std::nullopt;
            }
        }
        if (length == 0 || length > data_.size() - offset - N) {
            return std::nullopt;
        }
        if (length >= 0x80) {
            report(5, 39027, "Data is longer than 127", static_cast<std::int64_t>(length));
        }
        return data_.subspan(offset + N, length);
    }

    void report(std::int64_t level, std::int64_t code, std::string_view message,
                std::int64_t value) const {
        if (log_) {
            log_(level, code, message, value);
        }
    }

  private:
    std::span<const std::uint8_t> data_;
    const APMPurchaseReceiptLog& log_;
};

std::array<int, 11> fieldPattern(const FieldPattern& field) {
    return {0x02, 0x02, 0x06, field.typeLow, 0x02, 0x01, kAny, 0x04, kAny, field.kind, kAny};
}

std::string text(std::span<const std::uint8_t> value) {
    return std::string(value.begin(), value.end());
}

// A flag byte: 0 NO, 1 YES; anything else stays NO with `code`. Values of another length are
// ignored.
void setFlag(bool& flag, std::span<const std::uint8_t> value, const ReceiptScan& scan,
             std::int64_t code, std::string_view message) {
    if (value.size() != 1) {
        return;
    }
    if (value[0] == 0 || value[0] == 1) {
        flag = value[0] == 1;
    } else {
        scan.report(5, code, message, value[0]);
    }
}

void convert(const FieldPattern& field, std::span<const std::uint8_t> value,
             APMInAppPurchaseItem& item, const ReceiptScan& scan) {
    switch (field.conversion) {
        case Conversion::kText:
            item.*(field.text) = text(value);
            break;
        case Conversion::kFreeTrial:
            setFlag(item.freeTrial, value, scan, 39025, "Subdata FT unexpected value");
            break;
        case Conversion::kIntroductoryOffer:
            setFlag(item.introductoryOffer, value, scan, 39028, "Subdata IO unexpected value");
            break;
        case Conversion::kPurchaseType:
            if (value.size() == 1) {
                item.purchaseType = value[0];
            }
            break;
        case Conversion::kLineItem:
            if (const auto id = static_cast<std::uint64_t>(apm_64LeastSignificantBits(value));
                id != 0) {
                item.webOrderLineItemID = id;
            }
            break;
    }
}

}  // namespace

std::vector<APMInAppPurchaseItem> APMParsePurchaseReceipt(std::span<const std::uint8_t> receipt,
                                                          const APMPurchaseReceiptLog& log) {
    const ReceiptScan scan(receipt, log);
    std::vector<APMInAppPurchaseItem> items;
    std::optional<APMInAppPurchaseItem> open;
    std::array<bool, kFields.size()> found{};
    std::size_t offset = 0;
    while (offset < receipt.size()) {
        std::optional<std::span<const std::uint8_t>> value = scan.match(offset, kRecordStart);
        if (value) {
            if (open && open->productID) {
                items.push_back(std::move(*open));
            }
            open.emplace();
            found.fill(false);
        } else if (open) {
            for (std::size_t f = 0; f < kFields.size() && !value; ++f) {
                if (!found[f] && (value = scan.match(offset, fieldPattern(kFields[f])))) {
                    convert(kFields[f], *value, *open, scan);
                    found[f] = true;
                }
            }
        }
        offset += value ? value->size() + 1 : 1;
    }
    if (open && open->productID) {
        items.push_back(std::move(*open));
    }
    return items;
}
