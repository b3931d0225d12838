#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// The sink of script log calls: each becomes a measurement monitor message with code 24005.
// Stateless; safe from any thread.
class APMPixieLogger {
  public:
    // The monitor level of a script level:
    //   script level   silent   monitored   neither
    //   2              8        8           8
    //   3              7        7           7
    //   4              6        6           6
    //   5              5        4           3
    //   6              2        1           0
    //   other          6        6           6
    static std::int64_t monitorLevel(std::int64_t scriptLevel, bool silent, bool monitored);

    void logWithLevel(std::int64_t level, std::string_view message,
                      const std::vector<std::string>& contexts, bool silent, bool monitored) const;
};
