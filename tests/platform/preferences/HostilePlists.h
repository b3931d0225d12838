#pragma once

// Property lists made to hurt a reader: deep nesting and shared references that build into far
// more than their bytes. Header-only, for the tests and the plist fuzz seeds.

#include <cstdint>
#include <string>
#include <vector>

namespace platform::hostile {

// `depth` nested <array> elements around a <true/>, as an XML plist. `attribute` is put inside
// every opening tag (a quoted value holding "/>" must not hide the nesting).
inline std::string deepXml(int depth, const std::string& attribute = "") {
    std::string open = attribute.empty() ? "<array>" : "<array " + attribute + ">";
    std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><plist version=\"1.0\">";
    xml.reserve(xml.size() + static_cast<size_t>(depth) * (open.size() + 8) + 32);
    for (int i = 0; i < depth; ++i) {
        xml += open;
    }
    xml += "<true/>";
    for (int i = 0; i < depth; ++i) {
        xml += "</array>";
    }
    return xml + "</plist>";
}

// A binary plist ("bplist00") of `objects`, each given as its encoded bytes, with one-byte
// offsets when they fit (else eight-byte ones) and one-byte references; object `top` is the
// root.
inline std::string binaryPlist(const std::vector<std::string>& objects, uint8_t top = 0) {
    std::string data = "bplist00";
    std::vector<uint64_t> offsets;
    for (const std::string& object : objects) {
        offsets.push_back(data.size());
        data += object;
    }
    const uint64_t table = data.size();
    const int offsetSize = table < 256 ? 1 : 8;
    auto putBigEndian = [&data](uint64_t value, int size) {
        for (int shift = (size - 1) * 8; shift >= 0; shift -= 8) {
            data.push_back(static_cast<char>(value >> shift));
        }
    };
    for (uint64_t offset : offsets) {
        putBigEndian(offset, offsetSize);
    }
    data.append(6, '\0');
    data.push_back(static_cast<char>(offsetSize));
    data.push_back(1);  // reference size
    putBigEndian(objects.size(), 8);
    putBigEndian(top, 8);
    putBigEndian(table, 8);
    return data;
}

// An array object of fewer than 15 one-byte references.
inline std::string arrayObject(const std::vector<uint8_t>& refs) {
    std::string object(1, static_cast<char>(0xA0 | refs.size()));
    object.append(refs.begin(), refs.end());
    return object;
}

// `levels` arrays, each holding the next one `fanOut` times, over a final `true`: small in
// bytes, fanOut^levels objects once every reference is built. With levels 24 and fanOut 2 it
// is a 138-byte file that builds 16 million arrays.
inline std::string sharedReferences(int levels, int fanOut = 2) {
    std::vector<std::string> objects;
    for (int i = 0; i < levels; ++i) {
        objects.push_back(arrayObject(std::vector<uint8_t>(fanOut, static_cast<uint8_t>(i + 1))));
    }
    objects.push_back("\x09");  // true
    return binaryPlist(objects);
}

// A dictionary of `count` (< 15) keys, all holding the same string of `length` bytes: shared
// leaves, as a writer that keeps one copy of equal strings makes.
inline std::string sharedLongString(int count, int length) {
    std::vector<std::string> objects;
    std::string dictionary(1, static_cast<char>(0xD0 | count));
    for (int i = 0; i < count; ++i) {
        dictionary.push_back(static_cast<char>(i + 1));
    }
    for (int i = 0; i < count; ++i) {
        dictionary.push_back(static_cast<char>(count + 1));
    }
    objects.push_back(dictionary);
    for (int i = 0; i < count; ++i) {
        objects.push_back(std::string("\x51") + static_cast<char>('a' + i));  // key "a", "b", ...
    }
    std::string text = "\x5F\x11";  // ASCII string, two-byte length follows
    text.push_back(static_cast<char>(length >> 8));
    text.push_back(static_cast<char>(length & 0xFF));
    objects.push_back(text + std::string(static_cast<size_t>(length), 'x'));
    return binaryPlist(objects);
}

}  // namespace platform::hostile
