// Readers of protoc's text form, for tests that decode what our code sent with protoc.
#pragma once

#include <cstddef>
#include <sstream>
#include <string>
#include <vector>

namespace cb::testsupport {

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
