// purchase_receipt_fuzz: arbitrary bytes scanned as a store receipt. Nothing may crash, read
// outside the data or trip a sanitizer, and every record returned has a product identifier.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "sdk/measurement/attribution/APMPurchaseReceiptParser.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The scan's diagnostics would only slow the fuzzer down.
    const APMPurchaseReceiptLog ignore = [](std::int64_t, std::int64_t, std::string_view,
                                            std::int64_t) {};
    for (const APMInAppPurchaseItem& item :
         APMParsePurchaseReceipt(std::span(data, size), ignore)) {
        if (!item.productID) {
            std::abort();
        }
    }
    return 0;
}
