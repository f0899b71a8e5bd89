// Builders of raw method bodies (ECMA-335 II.25.4) for the rewriter's tests, and a
// fixture that serves one body through the runtime double and captures what the
// rewriter installs.
#pragma once

#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <vector>

#include <gtest/gtest.h>

#include "il/il_rewriter.h"
#include "support/fake_profiler_info.h"

namespace il_test {

using bytes = std::vector<uint8_t>;

inline void put_u16(bytes& out, uint16_t value) {
    out.push_back(static_cast<uint8_t>(value));
    out.push_back(static_cast<uint8_t>(value >> 8));
}

inline void put_u32(bytes& out, uint32_t value) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

inline uint32_t get_u32(const bytes& in, size_t at) {
    uint32_t value;
    std::memcpy(&value, in.data() + at, 4);
    return value;
}

inline bytes concat(std::initializer_list<bytes> parts) {
    bytes out;
    for (const bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
    return out;
}

inline bytes repeat(uint8_t value, size_t count) { return bytes(count, value); }

inline bytes tiny_body(const bytes& code) {
    bytes out{static_cast<uint8_t>(code.size() * 4 + 2)};
    out.insert(out.end(), code.begin(), code.end());
    return out;
}

struct clause {
    uint32_t flags, try_offset, try_length, handler_offset, handler_length, token_or_filter;
};

// A fat exception section holding the clauses.
inline bytes fat_eh(const std::vector<clause>& clauses) {
    bytes out;
    put_u32(out, 0x41 | (static_cast<uint32_t>(24 * clauses.size() + 4) << 8));
    for (const clause& c : clauses) {
        for (uint32_t v : {c.flags, c.try_offset, c.try_length, c.handler_offset, c.handler_length, c.token_or_filter})
            put_u32(out, v);
    }
    return out;
}

// A small exception section holding the clauses (each must fit the small form).
inline bytes small_eh(const std::vector<clause>& clauses) {
    bytes out{0x01, static_cast<uint8_t>(12 * clauses.size() + 4), 0, 0};
    for (const clause& c : clauses) {
        put_u16(out, static_cast<uint16_t>(c.flags));
        put_u16(out, static_cast<uint16_t>(c.try_offset));
        out.push_back(static_cast<uint8_t>(c.try_length));
        put_u16(out, static_cast<uint16_t>(c.handler_offset));
        out.push_back(static_cast<uint8_t>(c.handler_length));
        put_u32(out, c.token_or_filter);
    }
    return out;
}

// A fat body: header flags (fat format and header size are added, MoreSects when a
// section is given), max stack, local signature token, code, padding, section.
inline bytes fat_body(uint16_t flags, uint16_t max_stack, const bytes& code, uint32_t local_sig = 0,
                      const bytes& section = {}) {
    bytes out;
    put_u16(out, static_cast<uint16_t>(0x3003 | flags | (section.empty() ? 0 : 0x8)));
    put_u16(out, max_stack);
    put_u32(out, static_cast<uint32_t>(code.size()));
    put_u32(out, local_sig);
    out.insert(out.end(), code.begin(), code.end());
    if (!section.empty()) {
        while (out.size() % 4 != 0) out.push_back(0);
        out.insert(out.end(), section.begin(), section.end());
    }
    return out;
}

// One method of a fake module served to a rewriter; `installed()` is what the
// rewriter handed to SetILFunctionBody.
class RewriterFixture : public testing::Test {
protected:
    HRESULT import(const bytes& body) {
        method = module.add_method("App.Type", "M", {0x00, 0x00, 0x01}, body);
        rewriter = std::make_unique<ILRewriter>(&info, nullptr, module.module_id, method);
        return rewriter->Import();
    }
    // Imports a body the test expects to be accepted.
    void accept(const bytes& body) { ASSERT_EQ(import(body), S_OK); }
    const bytes* installed() { return module.body_set(method); }

    test_support::fake_profiler_info info;
    test_support::fake_module& module = info.add_module("App");
    mdMethodDef method = 0;
    std::unique_ptr<ILRewriter> rewriter;
};

}  // namespace il_test
