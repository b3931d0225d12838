#pragma once

#include <map>
#include <string>
#include <string_view>

// The map from the public event names an app logs to the short internal names that are stored
// and uploaded (32 pairs), built once and shared read-only. Safe from any thread.
const std::map<std::string, std::string, std::less<>>& APMPublicEventNameMap();

// Internal event name -> public name, the inverse of APMPublicEventNameMap(); "_cmp", which
// two public names share, gives "ma_campaign". Built once; safe from any thread.
const std::map<std::string, std::string, std::less<>>& APMInternalEventNameMap();

// Reserved public event names an app may still log: "ad_impression" -> "_ai".
const std::map<std::string, std::string, std::less<>>& APMAllowedReservedEventNames();

// True for a non-empty name that does not begin with "_". An empty name logs 18003 and is not
// public.
bool APMIsPublicName(std::string_view name);
