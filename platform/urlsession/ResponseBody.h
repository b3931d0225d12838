#pragma once

#include <cstddef>
#include <string>

namespace platform::urlsession_detail {

// The body of one response as libcurl delivers it, kept in memory up to `limit` bytes. Both
// sessions of this layer receive through it, so a body over the request's limit ends every
// transfer the same way. Touched on the thread that drives the transfer only.
struct ResponseBody {
    size_t limit = 0;  // the request's maxResponseBytes; set before the transfer starts
    std::string bytes;
    bool tooLarge = false;  // a chunk would have passed `limit`; the transfer was ended

    // libcurl's write callback (CURLOPT_WRITEFUNCTION) with CURLOPT_WRITEDATA pointing at a
    // ResponseBody. Appends the chunk and returns its length; a chunk that would pass `limit`
    // is dropped, sets tooLarge and returns 0, which makes libcurl end the transfer with
    // CURLE_WRITE_ERROR.
    static size_t receive(char* data, size_t size, size_t count, void* context);
};

}  // namespace platform::urlsession_detail
