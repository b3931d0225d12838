#include "platform/urlsession/ResponseBody.h"

namespace platform::urlsession_detail {

size_t ResponseBody::receive(char* data, size_t size, size_t count, void* context) {
    auto* body = static_cast<ResponseBody*>(context);
    const size_t length = size * count;
    if (length > body->limit - body->bytes.size()) {
        body->tooLarge = true;
        return 0;
    }
    body->bytes.append(data, length);
    return length;
}

}  // namespace platform::urlsession_detail
