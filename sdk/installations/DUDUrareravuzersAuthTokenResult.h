#pragma once

#include <string>

#include "sdk/utilities/Date.h"

// An auth token handed to callers: the token text and when it expires. An immutable value.
struct DUDUrareravuzersAuthTokenResult {
    std::string authToken;
    sdk::Date expirationDate;
};
