#pragma once

#include <map>
#include <string>
#include <string_view>

#include "sdk/utilities/Value.h"

// URL query strings in both directions. Pure functions, safe from any thread.

// "key=value" pairs of `parameters` in key order, joined with "&". Key and value are their
// text forms (a string itself, a number its digits, as the monitor describes values), each
// percent-encoded except for the characters a query may hold as they are (RFC 3986: letters,
// digits, "-._~", "!$&'()*+,;=", ":@", "/?"; so "&", "=" and "+" stay as they are).
std::string apm_queryString(const sdk::Value::Dictionary& parameters);

// `text` percent-encoded except for the characters a query may hold as they are (as above).
std::string APMQueryPercentEncoded(std::string_view text);

// The arguments of a query (or fragment) text: pieces split on "&", each split at its first
// "=" (a piece without one is a key with an empty value), key and value unescaped with
// apm_stringByUnescapingFromURLArgument. For a repeated key the first occurrence wins; empty
// pieces and pieces that do not unescape are skipped.
std::map<std::string, std::string, std::less<>> apm_dictionaryWithHttpArgumentsString(
    std::string_view text);
