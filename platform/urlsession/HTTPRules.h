#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/urlsession/URLRequest.h"

namespace platform::urlsession_detail {

// Rules both sessions of this layer apply to what they send: which header fields may go on the
// wire, which of them are secrets that belong to one origin, and which redirects are followed.

// Why `headers` cannot be sent: a name that is empty or holds a colon, CR, LF or NUL, or a
// value that holds CR, LF or NUL (either would let the field end early and start another one).
// No value when every field is sound.
std::optional<std::string> invalidHeaderField(
    const std::vector<std::pair<std::string, std::string>>& headers);

// True for the fields that carry a credential: Authorization, Proxy-Authorization, Cookie, and
// every name that holds "api-key", "apikey", "-auth" or "token" (compared without regard to case).
bool isCredentialHeader(std::string_view name);

// Scheme, host and port of an absolute http or https address (the port made explicit); no
// value for anything else.
std::optional<std::string> originOf(const std::string& url);

// True when a redirect from `from` to `to` would go from https to plain http.
bool isDowngrade(const std::string& from, const std::string& to);

// The request a redirect with `status` to `location` makes of `previous`: 303 (and a POST
// answered by 301 or 302) becomes a GET without body or body headers; credential fields are
// left out when the address is not at `origin`, the first one of the exchange.
URLRequest redirectedRequest(const URLRequest& previous, long status, std::string location,
                             const std::string& origin);

// True for methods that a transport may not send twice by itself (anything but GET, HEAD, PUT,
// DELETE, OPTIONS and TRACE).
bool isNonIdempotent(std::string_view method);

// Adds the test hook's extra certificate authorities (TEST_setExtraCertificateAuthorities) to
// the trust of `easy`, a libcurl easy handle. Returns false when libcurl refuses an option.
bool configureTrust(void* easy);
void setExtraCertificateAuthorities(std::filesystem::path caFile);

}  // namespace platform::urlsession_detail
