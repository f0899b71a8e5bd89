// Hexadecimal dumps of bytes for diagnostics: each byte as "0x%02x" (lower case, two
// digits); arrays as every byte followed by a comma, the last one included.
#pragma once

#include <cstdint>
#include <string>

std::string byte_to_hex_string(uint8_t value);
std::string array_to_hex_string(const uint8_t* bytes, uint32_t count);
std::wstring byte_to_hex_wstring(uint8_t value);
std::wstring array_to_hex_wstring(const uint8_t* bytes, uint32_t count);
