// Writes the fuzz seeds: each non-empty line of the seed list (not starting with '#') is a
// program in the compact text form, encoded as one Program message into <out>/seed-<n>.
// Usage: script_program_seeds <seed list> <out folder>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>

#include "ProgramText.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::cerr << "usage: script_program_seeds <seed list> <out folder>\n";
        return 2;
    }
    std::ifstream list(argv[1]);
    const std::filesystem::path out(argv[2]);
    std::filesystem::create_directories(out);
    std::string line;
    int written = 0;
    for (int number = 1; std::getline(list, line); ++number) {
        if (line.empty() || line[0] == '#') {
            continue;
        }
        std::string problem;
        const auto program = program_text::Program(line, &problem);
        const auto bytes = program ? program->protoBuffer() : std::nullopt;
        if (!bytes) {
            std::cerr << argv[1] << ":" << number << ": " << problem << "\n";
            return 1;
        }
        std::ofstream file(out / ("seed-" + std::to_string(number)), std::ios::binary);
        file.write(reinterpret_cast<const char*>(bytes->data()),
                   static_cast<std::streamsize>(bytes->size()));
        ++written;
    }
    std::cout << "wrote " << written << " seeds\n";
    return written > 0 ? 0 : 1;
}
