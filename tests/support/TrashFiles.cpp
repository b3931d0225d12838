#include "tests/support/TrashFiles.h"

#include <algorithm>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

namespace cb::testsupport {

std::string readText(const fs::path& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

bool isTrashInfo(const std::string& text, std::string* path) {
    const std::string head = "[Trash Info]\nPath=";
    const size_t dateAt = text.find("\nDeletionDate=");
    if (text.rfind(head, 0) != 0 || dateAt == std::string::npos)
        return false;
    if (path != nullptr)
        *path = text.substr(head.size(), dateAt - head.size());
    const std::string date = text.substr(dateAt + 14);
    const std::string shape = "dddd-dd-ddTdd:dd:dd\n";
    if (date.size() != shape.size())
        return false;
    for (size_t i = 0; i < shape.size(); ++i) {
        const bool digit = date[i] >= '0' && date[i] <= '9';
        if (shape[i] == 'd' ? !digit : date[i] != shape[i])
            return false;
    }
    return true;
}

std::vector<std::string> listTree(const fs::path& root) {
    std::vector<std::string> paths;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        paths.push_back(entry.path().lexically_relative(root).string());
    }
    std::sort(paths.begin(), paths.end());
    return paths;
}

}  // namespace cb::testsupport
