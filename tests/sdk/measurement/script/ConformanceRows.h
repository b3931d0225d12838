#pragma once

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

// The line format the conformance tables share: one row per line of the *.txt files of a
// folder, columns separated by " | ", blank lines and lines starting with '#' skipped.
namespace conformance {

inline std::string Trim(const std::string& text) {
    const auto first = text.find_first_not_of(" \t");
    const auto last = text.find_last_not_of(" \t\r");
    return first == std::string::npos ? std::string() : text.substr(first, last - first + 1);
}

// The trimmed columns of `line`.
inline std::vector<std::string> Columns(const std::string& line) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (std::size_t bar; (bar = line.find(" | ", start)) != std::string::npos; start = bar + 3) {
        parts.push_back(Trim(line.substr(start, bar - start)));
    }
    parts.push_back(Trim(line.substr(start)));
    return parts;
}

struct Line {
    std::string stem;      // the file's name without ".txt"
    std::string location;  // file:line, for failure messages
    std::string text;
};

// The rows of every *.txt file in `folder`, files in name order.
inline std::vector<Line> Lines(const std::filesystem::path& folder) {
    std::vector<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        if (entry.path().extension() == ".txt") {
            files.push_back(entry.path());
        }
    }
    std::sort(files.begin(), files.end());
    std::vector<Line> lines;
    for (const auto& file : files) {
        std::ifstream in(file);
        std::string text;
        for (int number = 1; std::getline(in, text); ++number) {
            if (Trim(text).empty() || Trim(text)[0] == '#') {
                continue;
            }
            lines.push_back({file.stem().string(),
                             file.filename().string() + ":" + std::to_string(number), text});
        }
    }
    return lines;
}

}  // namespace conformance
