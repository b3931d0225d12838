#pragma once

#include <map>
#include <string>

// Public parameter name -> the engine's internal short name, 55 entries; several public names
// share one internal name (the "razudizo_" and "ma_" forms). Audience loading and the debug
// display of names use it to accept either form. Built once; safe from any thread.
const std::map<std::string, std::string, std::less<>>& APMInternalParameterNames();
