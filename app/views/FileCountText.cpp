#include "app/views/FileCountText.h"

namespace cb {

std::string fileCountText(int64_t count) {
    return std::to_string(count) + (count == 1 ? " file" : " files");
}

}  // namespace cb
