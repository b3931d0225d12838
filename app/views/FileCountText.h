#pragma once

#include <cstdint>
#include <string>

namespace cb {

// Returns the file count as the chart's centre and the tooltip show it: the count, a space and
// "file" for exactly 1, else "files" ("0 files", "1 file", "12 files"). Not a table text: it
// reads the same in every interface language.
std::string fileCountText(int64_t count);

}  // namespace cb
