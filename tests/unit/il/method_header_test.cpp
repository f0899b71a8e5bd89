#include "il/method_header.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace {

using bytes = std::vector<uint8_t>;

bytes concat(std::initializer_list<bytes> parts) {
    bytes out;
    for (const bytes& part : parts) {
        out.insert(out.end(), part.begin(), part.end());
    }
    return out;
}

// Fat header: flags 0x1B (fat, more sections, init locals) or 0x13 without sections,
// header size 3, max stack 2, the given code size, no local signature.
bytes fat_header(uint32_t code_size, bool more_sections) {
    return {static_cast<uint8_t>(more_sections ? 0x1B : 0x13), 0x30, 0x02, 0x00,
            static_cast<uint8_t>(code_size), static_cast<uint8_t>(code_size >> 8), 0x00, 0x00,
            0x00, 0x00, 0x00, 0x00};
}

const bytes code5 = {0x00, 0x00, 0x00, 0x00, 0x2A};
const bytes pad3 = {0x00, 0x00, 0x00};
// A small exception section with one finally clause (try 0..2, handler 2..5).
const bytes small_eh_one_clause = {0x01, 0x10, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00,
                                   0x02, 0x02, 0x00, 0x03, 0x00, 0x00, 0x00, 0x00};

struct decode_case {
    const char* name;
    bytes body;
    int code_at;  // -1: no code
    uint32_t code_size;
    uint16_t max_stack;
    uint16_t flags;
    int eh_at;  // -1: none
    int sect_at;
    uint32_t on_disk_size;
};

std::vector<decode_case> decode_cases() {
    bytes eh_header_left_out = small_eh_one_clause;
    eh_header_left_out[1] = 12;  // stored size without the 4-byte section header
    bytes eh_then_more = small_eh_one_clause;
    eh_then_more[0] = 0x81;
    const bytes fat_eh_one_clause = {0x41, 0x1C, 0x00, 0x00, 0x02, 0, 0, 0, 0, 0, 0, 0, 0x02, 0, 0, 0,
                                     0x02, 0, 0, 0, 0x03, 0, 0, 0, 0, 0, 0, 0};
    const bytes other_kind_section = {0x02, 0x08, 0x00, 0x00, 0xAA, 0xBB, 0xCC, 0xDD};
    return {
        {"TinyHeader0A", {0x0A, 0x00, 0x2A}, 1, 2, 8, 2, -1, -1, 3},
        {"FatWithoutSections", concat({{0x13, 0x30, 0x02, 0x00, 0x05, 0, 0, 0, 0, 0, 0, 0}, code5}), 12, 5, 2, 0x13,
         -1, -1, 17},
        {"SectionAfterCodeRoundedUpTo4", concat({fat_header(5, true), code5, pad3, small_eh_one_clause}), 12, 5, 2,
         0x1B, 20, -1, 36},
        {"SmallSectionSizeWithoutHeaderWalks16", concat({fat_header(5, true), code5, pad3, eh_header_left_out}), 12, 5,
         2, 0x1B, 20, -1, 36},
        {"FatSection", concat({fat_header(5, true), code5, pad3, fat_eh_one_clause}), 12, 5, 2, 0x1B, 20, -1, 48},
        {"SectionAfterExceptionTable", concat({fat_header(5, true), code5, pad3, eh_then_more, other_kind_section}), 12,
         5, 2, 0x1B, 20, 36, 44},
        {"FirstSectionOfOtherKind", concat({fat_header(5, true), code5, pad3, other_kind_section}), 12, 5, 2, 0x1B, -1,
         20, 28},
    };
}

TEST(MethodHeaderTest, DecoderSplitsBodiesIntoHeaderCodeAndSections) {
    for (const decode_case& c : decode_cases()) {
        SCOPED_TRACE(c.name);
        const bytes body = c.body;
        il_method_decoder bounded;
        ASSERT_TRUE(DecoderInit(&bounded, body.data(), static_cast<uint32_t>(body.size())));
        il_method_decoder unbounded;
        DecoderInit(&unbounded, body.data());
        for (const il_method_decoder* d : {&bounded, &unbounded}) {
            EXPECT_EQ(body.data() + c.code_at, d->code);
            EXPECT_EQ(c.code_size, d->code_size);
            EXPECT_EQ(c.max_stack, d->max_stack);
            EXPECT_EQ(c.flags, d->flags());
            EXPECT_EQ(nullptr, d->local_var_sig);
            EXPECT_EQ(c.eh_at < 0 ? nullptr : body.data() + c.eh_at, reinterpret_cast<const uint8_t*>(d->eh));
            EXPECT_EQ(c.sect_at < 0 ? nullptr : body.data() + c.sect_at, d->sect);
            EXPECT_EQ(c.on_disk_size, DecoderGetOnDiskSize(d, body.data()));
        }
    }
}

TEST(MethodHeaderTest, BoundedDecoderRejectsEveryTruncationOfAValidBody) {
    for (const decode_case& c : decode_cases()) {
        for (uint32_t size = 0; size < c.on_disk_size; ++size) {
            SCOPED_TRACE(std::string(c.name) + " cut to " + std::to_string(size));
            // Exact-size copies, so a read past the reported size is a sanitizer error.
            const bytes prefix(c.body.begin(), c.body.begin() + size);
            il_method_decoder decoder;
            EXPECT_FALSE(DecoderInit(&decoder, prefix.data(), size));
            EXPECT_EQ(nullptr, decoder.code);
            EXPECT_EQ(0u, decoder.code_size);
        }
    }
}

TEST(MethodHeaderTest, BoundedDecoderRejectsMalformedBodies) {
    bytes looping_section = concat({fat_header(5, true), code5, pad3, {0x82, 0x00, 0x00, 0x00}});
    bytes clause_past_end = concat({fat_header(5, true), code5, pad3, small_eh_one_clause});
    clause_past_end[21] = 28;  // two clauses declared, one present
    bytes code_past_end = concat({fat_header(5, false), code5});
    code_past_end[4] = 6;
    bytes short_header = concat({fat_header(5, false), code5});
    short_header[1] = 0x20;  // two 4-byte units: the code would overlap the header
    struct malformed_case {
        const char* name;
        bytes body;
    };
    const std::vector<malformed_case> cases = {
        {"NeitherTinyNorFat", {0x07, 0x00, 0x2A}},
        {"FormatBitsZero", {0x00, 0x00, 0x2A}},
        {"SectionShorterThanItsHeaderWithMoreBit", looping_section},
        {"ClauseBeyondReportedSize", clause_past_end},
        {"CodeBeyondReportedSize", code_past_end},
        {"FatHeaderOfTwoUnits", short_header},
    };
    for (const malformed_case& c : cases) {
        SCOPED_TRACE(c.name);
        il_method_decoder decoder;
        EXPECT_FALSE(DecoderInit(&decoder, c.body.data(), static_cast<uint32_t>(c.body.size())));
        EXPECT_EQ(nullptr, decoder.code);
    }
}

TEST(MethodHeaderTest, UnboundedDecoderFollowsTheFormatLiterally) {
    il_method_decoder decoder;
    const bytes neither = {0x07, 0x00, 0x2A};
    DecoderInit(&decoder, neither.data());
    EXPECT_EQ(nullptr, decoder.code);
    EXPECT_EQ(0u, DecoderGetOnDiskSize(&decoder, neither.data()));

    // Fewer than 3 header units: the code pointer follows the declared size, and no
    // section is looked for even with the more-sections flag.
    bytes two_units = concat({fat_header(5, true), code5, pad3, small_eh_one_clause});
    two_units[1] = 0x20;
    DecoderInit(&decoder, two_units.data());
    EXPECT_EQ(two_units.data() + 8, decoder.code);
    EXPECT_EQ(nullptr, decoder.eh);
    EXPECT_EQ(nullptr, decoder.sect);
}

TEST(MethodHeaderTest, TinyHeaderOnlyWhenEverythingFits) {
    struct size_case {
        const char* name;
        il_method_fat_header header;
        bool more_sections;
        uint32_t size;
    };
    const std::vector<size_case> cases = {
        {"Code63", {0x3003, 8, 63, 0}, false, 1},
        {"Code64", {0x3003, 8, 64, 0}, false, 12},
        {"MaxStack9", {0x3003, 9, 10, 0}, false, 12},
        {"LocalSignature", {0x3003, 8, 10, 0x11000001}, false, 12},
        {"MoreSections", {0x3003, 8, 10, 0}, true, 12},
        {"InitLocals", {0x3013, 8, 10, 0}, false, 12},
        {"FlagsOf7", {0x3007, 8, 10, 0}, false, 1},
    };
    for (const size_case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.size, IlmethodSize(&c.header, c.more_sections));
    }
}

TEST(MethodHeaderTest, EmittedHeadersDecodeBack) {
    uint8_t tiny[1] = {};
    const il_method_fat_header tiny_values{0, 8, 5, 0};
    EXPECT_EQ(1u, IlmethodEmit(1, &tiny_values, false, tiny));
    EXPECT_EQ(0x16, tiny[0]);

    // The format bits, the more-sections bit and the header size are forced.
    const il_method_fat_header fat_values{0x0010, 300, 0x01020304, 0x11000002};
    bytes fat(12, 0);
    EXPECT_EQ(12u, IlmethodEmit(12, &fat_values, true, fat.data()));
    EXPECT_EQ((bytes{0x1B, 0x30, 0x2C, 0x01, 0x04, 0x03, 0x02, 0x01, 0x02, 0x00, 0x00, 0x11}),
              bytes(fat.begin(), fat.begin() + 12));
    il_method_fat_header decoded;
    std::memcpy(&decoded, fat.data(), sizeof decoded);
    EXPECT_EQ(0x1B, decoded.flags());
    EXPECT_EQ(3, decoded.header_size());
    EXPECT_EQ(300, decoded.max_stack);
    EXPECT_EQ(0x01020304u, decoded.code_size);
    EXPECT_EQ(0x11000002u, decoded.local_var_sig_token);
}

}  // namespace
