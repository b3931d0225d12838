// Readers of protoc's text form, for tests that decode what our code sent with protoc.
#pragma once

#include <gtest/gtest.h>
#include <stdio.h>

#include <cstddef>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace cb::testsupport {

// The output of `command` run by the shell; fails the test when it does not succeed.
inline std::string shellOutput(const std::string& command) {
    std::string output;
    FILE* pipe = popen(command.c_str(), "r");
    EXPECT_NE(pipe, nullptr) << command;
    char buffer[4096];
    while (pipe != nullptr) {
        const std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe);
        if (n == 0) {
            break;
        }
        output.append(buffer, n);
    }
    EXPECT_EQ(pipe == nullptr ? -1 : pclose(pipe), 0) << command;
    return output;
}

// protoc's text of one upload body (gzip or not) as a measurement batch, decoded by `protoc`
// with the message definitions in `protoFolder`; `scratch` is a folder for the body's file.
inline std::string protocDecodeBatch(const std::string& body, const std::filesystem::path& scratch,
                                     const std::string& protoc, const std::string& protoFolder) {
    const std::filesystem::path file = scratch / "batch.bin";
    std::ofstream(file, std::ios::binary) << body;
    const bool gzipped = body.size() > 2 && body[0] == '\x1f' && body[1] == '\x8b';
    return shellOutput((gzipped ? "gzip -dc '" : "cat '") + file.string() + "' | '" + protoc +
                       "' -I '" + protoFolder + "' --decode=apmpb.MeasurementBatch upload.proto");
}

// The blocks of `text` that open with `opening` at `indent` spaces, up to their closing brace.
inline std::vector<std::string> protocBlocks(const std::string& text, const std::string& opening,
                                             std::size_t indent) {
    const std::string pad(indent, ' ');
    std::vector<std::string> found;
    std::istringstream lines(text);
    std::string line;
    std::string current;
    bool inside = false;
    while (std::getline(lines, line)) {
        if (!inside && line == pad + opening + " {") {
            inside = true;
            current.clear();
        } else if (inside && line == pad + "}") {
            inside = false;
            found.push_back(current);
        } else if (inside) {
            current += line + "\n";
        }
    }
    return found;
}

// The value of the first `name: ...` line at `indent` spaces of a block, quotes removed; empty
// when there is none.
inline std::string protocField(const std::string& block, const std::string& name,
                               std::size_t indent) {
    const std::string key = "\n" + std::string(indent, ' ') + name + ": ";
    const std::string lines = "\n" + block;
    const std::size_t at = lines.find(key);
    if (at == std::string::npos) {
        return "";
    }
    std::string value = lines.substr(at + key.size(), lines.find('\n', at + 1) - at - key.size());
    if (value.size() >= 2 && value.front() == '"') {
        value = value.substr(1, value.size() - 2);
    }
    return value;
}

}  // namespace cb::testsupport
