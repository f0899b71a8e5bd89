// Reader of the method-body fixture that managed/testing/BodyExtractor writes: every
// IL body of a set of real assemblies, each exactly as stored in its file (header,
// code, padding, extra sections). Format (little-endian): the magic "NBBODY01", then
// records starting with a kind byte: 1 assembly (u32 length, UTF-8 name), 2 body
// (u32 method token, u32 size, bytes), 3 end (u32 number of bodies, u32 bodies with
// exception regions, u32 regions, as System.Reflection.Metadata counted them).
// Header only.
#pragma once

#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace body_fixture {

struct body {
    uint32_t assembly;  // index into fixture::assemblies
    uint32_t token;
    std::vector<uint8_t> bytes;
};

struct fixture {
    std::vector<std::string> assemblies;
    std::vector<body> bodies;
    uint64_t total_bytes = 0;
    // The extractor's own counts, to check a decoder of the bodies against.
    uint32_t bodies_with_regions = 0;
    uint32_t regions = 0;
};

// Reads the whole file; false with a reason in `error` when it is missing, truncated
// or malformed (the end record must count exactly the bodies read).
inline bool read(const std::string& path, fixture& out, std::string& error) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        error = "cannot open " + path;
        return false;
    }
    const std::vector<uint8_t> data((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    size_t at = 0;
    auto take_u32 = [&](uint32_t& value) {
        if (data.size() - at < 4) return false;
        std::memcpy(&value, data.data() + at, 4);
        at += 4;
        return true;
    };
    if (data.size() < 8 || std::memcmp(data.data(), "NBBODY01", 8) != 0) {
        error = path + " is not a body fixture";
        return false;
    }
    at = 8;
    while (at < data.size()) {
        const uint8_t kind = data[at++];
        uint32_t a = 0;
        uint32_t b = 0;
        if (kind == 1 && take_u32(a) && data.size() - at >= a) {
            out.assemblies.emplace_back(reinterpret_cast<const char*>(data.data() + at), a);
            at += a;
        } else if (kind == 2 && !out.assemblies.empty() && take_u32(a) && take_u32(b) && data.size() - at >= b) {
            out.bodies.push_back({static_cast<uint32_t>(out.assemblies.size() - 1), a,
                                  std::vector<uint8_t>(data.begin() + at, data.begin() + at + b)});
            out.total_bytes += b;
            at += b;
        } else if (kind == 3 && take_u32(a) && take_u32(out.bodies_with_regions) && take_u32(out.regions)) {
            if (a != out.bodies.size()) {
                error = "the end record counts " + std::to_string(a) + " bodies, the file holds " +
                        std::to_string(out.bodies.size());
                return false;
            }
            return true;
        } else {
            error = "malformed record at byte " + std::to_string(at - 1);
            return false;
        }
    }
    error = "no end record: the file is truncated";
    return false;
}

}  // namespace body_fixture
