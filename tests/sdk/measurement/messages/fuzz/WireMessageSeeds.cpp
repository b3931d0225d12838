// Writes the wire message fuzz seeds into <out folder>: for every message type (the index in
// the first byte) a message with every field filled; then nested elements, packed and unpacked
// repeated scalars, fields in another wire type than their own and undeclared fields.
// Usage: wire_message_seeds <out folder>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>

#include "tests/sdk/measurement/messages/MessageTestSupport.h"

namespace {

using messages_test::appendField;
using messages_test::appendVarint;

std::size_t indexOf(const apmpb::MessageType& type) {
    for (std::size_t i = 0; i < apmpb::kMessageTypeCount; ++i) {
        if (apmpb::kAllMessageTypes[i] == &type)
            return i;
    }
    return 0;
}

void write(const std::filesystem::path& file, const apmpb::MessageType& type,
           const sdk::Bytes& bytes) {
    std::ofstream out(file, std::ios::binary);
    out.put(static_cast<char>(indexOf(type)));
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: wire_message_seeds <out folder>\n";
        return 2;
    }
    const std::filesystem::path out(argv[1]);
    std::filesystem::create_directories(out);
    int written = 0;
    for (const apmpb::MessageType* type : apmpb::kAllMessageTypes) {
        messages_test::AnyMessage message(*type);
        messages_test::fill(message, 0);
        const auto bytes = message.protoBuffer();
        if (!bytes) {
            std::cerr << "cannot encode a filled " << type->name << "\n";
            return 1;
        }
        write(out / (std::string("filled-") + type->name), *type, *bytes);
        ++written;
    }

    // A program nesting RuntimeEntity values 50 deep over a string entity.
    sdk::Bytes entity = {0x08, 0x01, 0x22, 0x03, 'a', 'b', 'c'};
    for (int level = 0; level < 50; ++level) {
        sdk::Bytes outer = {0x08, 0x04, 0x1A, 0x02, 'f', 'n'};
        appendField(outer, 2, entity);
        entity.swap(outer);
    }
    sdk::Bytes program;
    appendField(program, 1, entity);
    write(out / "nested-program", apmpb::kProgramType, program);
    sdk::Bytes config = {0x08, 0x07};
    appendField(config, 9, program);
    write(out / "nested-config", apmpb::kMeasurementConfigType, config);

    // Event parameters nested as array items.
    sdk::Bytes param = {0x0A, 0x01, 'p', 0x18, 0x05};
    for (int level = 0; level < 10; ++level) {
        sdk::Bytes outer = {0x0A, 0x01, 'q'};
        appendField(outer, 6, param);
        param.swap(outer);
    }
    sdk::Bytes event = {0x12, 0x02, '_', 'e'};
    appendField(event, 1, param);
    write(out / "nested-params", apmpb::kEventType, event);

    // ResultData words packed and unpacked, with timestamps.
    const sdk::Bytes result = {0x0A, 0x03, 0x01, 0xAC, 0x02, 0x10, 0x07, 0x1A, 0x04, 0x08, 0x01,
                               0x10, 0x02, 0x22, 0x06, 0x08, 0x02, 0x12, 0x02, 0x05, 0x06};
    write(out / "result-data", apmpb::kResultDataType, result);

    // Fields in another wire type than their own, and undeclared fields of every wire type.
    const sdk::Bytes mixed = {0x15, 'a', 'b', 'c', 'd', 0x08, 0x01, 0x1A, 0x01, 0x05, 0x48, 0x07,
                              0x49, 1,   2,   3,   4,   5,    6,    7,    8,    0x4A, 0x01, 'x',
                              0x4D, 1,   2,   3,   4,   0x12, 0x01, 'n',  0x18, 0x02};
    write(out / "wire-types", apmpb::kEventType, mixed);
    written += 6;
    std::cout << "wrote " << written << " seeds\n";
    return 0;
}
