#pragma once

#include <string_view>

// Contract checks of the promise library. A broken contract (a missing queue, an empty
// callable, a null promise) goes to the calling thread's SDK assertion handler, whose default
// throws sdk::InternalInconsistencyException (a std::logic_error) with the message. When an
// installed handler returns instead, the call does nothing: void operations return at once and
// operations that make a promise return null.

// Returns `satisfied`; when it is false, first reports "Invalid parameter not satisfying:
// <name>".
bool VPLRequireParameter(bool satisfied, std::string_view name);

// Returns `satisfied`; when it is false, first reports `message`.
bool VPLRequire(bool satisfied, std::string_view message);
