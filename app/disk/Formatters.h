#pragma once

#include <cstdint>
#include <string>

namespace cb {

// The one byte-count formatter of the application: file-size style (decimal units, 1 KB = 1000
// bytes), units from KB to TB only, unit always shown, fraction digits adapted to the unit
// (KB none, MB one, GB and TB two), trailing fraction zeros dropped. Unit words, the decimal
// point and the thousands separator are the same in every interface language; only the text of
// zero is the interface language's ("Zero KB", "Null KB", ...).
//
//   0 -> "Zero KB"        1..1499 -> "1 KB"        1,500,000 -> "1.5 MB"
//   1,234,567,890 -> "1.23 GB"        999,999 -> "1 MB"        2e16 -> "20,000 TB"
//
// Halves round away from zero. A count that rounds up to 1000 of a unit is shown in the next
// unit (999,999 bytes is "1 MB", not "1,000 KB"); above TB the number simply grows.
class ByteCountFormatter {
  public:
    // Returns the text of `byteCount`. Counts of 0 or less give the text of zero in the current
    // interface language ("Zero KB" in English), so a negative size is never shown. Safe from
    // any thread.
    std::string string(int64_t byteCount) const;
};

// Returns the shared formatter, created once (thread-safe) and kept for the whole run.
const ByteCountFormatter& byteFormatter();

// Returns the share of `part` in `total` as a percentage text: "0%" when total < 1; otherwise
// p = part / total * 100 with no fraction digits when p >= 10 ("46%"), one when p >= 1 ("4.6%")
// and two below ("0.46%", "0.00%"). The decimal separator is "." whatever the locale; a part
// larger than the total gives more than 100 ("250%").
std::string percentString(int64_t part, int64_t total);

}  // namespace cb
