// Writes the seed receipts of purchase_receipt_fuzz into the folder named on the command line.
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/sdk/measurement/attribution/ReceiptBuilder.h"

namespace {

void write(const std::filesystem::path& folder, const std::string& name,
           const std::vector<std::uint8_t>& bytes) {
    std::ofstream(folder / name, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
}

APMInAppPurchaseItem subscription() {
    APMInAppPurchaseItem item;
    item.productID = "com.example.pro";
    item.transactionID = "1001";
    item.originalTransactionID = "1000";
    item.webOrderLineItemID = 42;
    item.purchaseType = 3;
    item.freeTrial = true;
    item.purchaseDateIA5String = "2024-01-05T10:00:00Z";
    item.originalPurchaseDateIA5String = "2024-01-04T10:00:00Z";
    item.subscriptionExpirationDateIA5String = "2024-02-05T10:00:00Z";
    item.cancellationDateIA5String = "2024-01-06T10:00:00Z";
    return item;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        return 2;
    }
    const std::filesystem::path folder(argv[1]);
    std::filesystem::create_directories(folder);
    using sdktest::ReceiptBuilder;
    APMInAppPurchaseItem consumable;
    consumable.productID = "gem";
    consumable.transactionID = consumable.originalTransactionID = "5";
    consumable.purchaseType = 1;
    const std::vector<std::uint8_t> two =
        ReceiptBuilder().item(subscription()).item(consumable).bytes();
    write(folder, "two-records", two);
    write(folder, "cut-short",
          std::vector<std::uint8_t>(two.begin(), two.begin() + two.size() / 2));
    write(folder, "long-form-length",
          ReceiptBuilder()
              .record()
              .text(0xA6, ReceiptBuilder::kUTF8, std::string(0x90, 'x'))
              .bytes());
    write(folder, "odd-flags",
          ReceiptBuilder()
              .record()
              .text(0xA6, ReceiptBuilder::kUTF8, "gem")
              .field(0xB1, ReceiptBuilder::kInteger, {2})
              .field(0xB7, ReceiptBuilder::kInteger, {9})
              .bytes());
    write(folder, "record-without-product",
          ReceiptBuilder().record().text(0xA7, ReceiptBuilder::kUTF8, "9").bytes());
    return 0;
}
