#include "logging/hex_dump.h"

#include <cstdio>

std::string byte_to_hex_string(uint8_t value) {
    char text[5];
    std::snprintf(text, sizeof text, "0x%02x", value);
    return text;
}

std::string array_to_hex_string(const uint8_t* bytes, uint32_t count) {
    std::string out;
    out.reserve(static_cast<size_t>(count) * 5);
    for (uint32_t i = 0; i < count; ++i) {
        out += byte_to_hex_string(bytes[i]);
        out += ',';
    }
    return out;
}

// The dump is ASCII, so widening is a character-by-character copy.
std::wstring byte_to_hex_wstring(uint8_t value) {
    const std::string narrow = byte_to_hex_string(value);
    return {narrow.begin(), narrow.end()};
}

std::wstring array_to_hex_wstring(const uint8_t* bytes, uint32_t count) {
    const std::string narrow = array_to_hex_string(bytes, count);
    return {narrow.begin(), narrow.end()};
}
