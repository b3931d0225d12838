#pragma once

#include "platform/urlsession/URLSessionTypes.h"
#include "sdk/utilities/Value.h"

// One answer of the installations service: the response head and the body (empty when the
// answer had none).
struct DUDUrareravuzersURLSessionResponse {
    platform::HTTPURLResponse HTTPResponse;
    sdk::Bytes data;
};
