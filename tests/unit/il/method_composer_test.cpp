#include "il/method_composer.h"

#include <gtest/gtest.h>

#include <boost/log/attributes/value_extraction.hpp>
#include <boost/log/core/core.hpp>
#include <boost/log/expressions/message.hpp>
#include <boost/log/sinks/basic_sink_backend.hpp>
#include <boost/log/sinks/sync_frontend.hpp>
#include <boost/make_shared.hpp>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "logging/hex_dump.h"
#include "logging/logging_configuration.h"

namespace {

using bytes = std::vector<uint8_t>;
using fat_clause = IMAGE_COR_ILMETHOD_SECT_EH_CLAUSE_FAT;

// Logging switched on at Debug for the test's life, without the echo to standard
// output, and every record that reaches the core kept.
class log_capture {
public:
    log_capture() : saved_(LoggingConfiguration::config()) {
        LoggingConfiguration::config().level = Debug;
        LoggingConfiguration::config().echo_to_stdout = false;
        sink_ = boost::make_shared<boost::log::sinks::synchronous_sink<backend>>();
        boost::log::core::get()->add_sink(sink_);
    }
    ~log_capture() {
        boost::log::core::get()->remove_sink(sink_);
        LoggingConfiguration::config() = saved_;
    }
    log_capture(const log_capture&) = delete;
    log_capture& operator=(const log_capture&) = delete;

    // The messages logged at Error, each cut after the scope prefix.
    std::vector<std::wstring> errors() const {
        std::vector<std::wstring> out;
        for (const auto& [level, text] : sink_->locked_backend()->records) {
            if (level == Error) {
                const size_t end_of_prefix = text.find(L"() : ");
                out.push_back(end_of_prefix == std::wstring::npos ? text : text.substr(end_of_prefix + 6));
            }
        }
        return out;
    }

private:
    struct backend : boost::log::sinks::basic_sink_backend<boost::log::sinks::synchronized_feeding> {
        void consume(const boost::log::record_view& record) {
            const auto level = boost::log::extract<severity>("Severity", record);
            const auto text = record[boost::log::expressions::wmessage];
            records.emplace_back(level ? *level : None, text ? *text : L"");
        }
        std::vector<std::pair<severity, std::wstring>> records;
    };
    LoggingConfiguration saved_;
    boost::shared_ptr<boost::log::sinks::synchronous_sink<backend>> sink_;
};

method_composer composer_for(bytes& buffer) {
    return method_composer(L"Assembly", L"Type", L"Method", buffer.data(), static_cast<uint32_t>(buffer.size()));
}

fat_clause make_clause(uint32_t flags, uint32_t try_offset, uint32_t try_length, uint32_t handler_offset,
                       uint32_t handler_length, uint32_t token_or_filter) {
    fat_clause clause{};
    clause.Flags = flags;
    clause.TryOffset = try_offset;
    clause.TryLength = try_length;
    clause.HandlerOffset = handler_offset;
    clause.HandlerLength = handler_length;
    clause.ClassToken = token_or_filter;
    return clause;
}

void append_u32(bytes& out, uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        out.push_back(static_cast<uint8_t>(value >> (8 * i)));
    }
}

void append_u16(bytes& out, uint32_t value) {
    out.push_back(static_cast<uint8_t>(value));
    out.push_back(static_cast<uint8_t>(value >> 8));
}

// An exception section written by hand in the requested form.
bytes eh_section(const std::vector<fat_clause>& clauses, bool fat, bool more_sections = false) {
    bytes out;
    const uint32_t size = 4 + static_cast<uint32_t>(clauses.size()) * (fat ? 24 : 12);
    out.push_back(static_cast<uint8_t>(0x01 | (fat ? 0x40 : 0) | (more_sections ? 0x80 : 0)));
    out.push_back(static_cast<uint8_t>(size));
    out.push_back(fat ? static_cast<uint8_t>(size >> 8) : 0);
    out.push_back(0);
    for (const fat_clause& c : clauses) {
        if (fat) {
            for (uint32_t v : {c.Flags, c.TryOffset, c.TryLength, c.HandlerOffset, c.HandlerLength, c.ClassToken}) {
                append_u32(out, v);
            }
        } else {
            append_u16(out, c.Flags);
            append_u16(out, c.TryOffset);
            out.push_back(static_cast<uint8_t>(c.TryLength));
            append_u16(out, c.HandlerOffset);
            out.push_back(static_cast<uint8_t>(c.HandlerLength));
            append_u32(out, c.ClassToken);
        }
    }
    return out;
}

bytes numbered_code(uint32_t size) {
    bytes code(size);
    for (uint32_t i = 0; i < size; ++i) {
        code[i] = static_cast<uint8_t>(0x80 + i);
    }
    return code;
}

// A fat body (max stack 2, local signature 0x11000001) with the given code and
// sections, in a buffer of `room` spare bytes behind it.
bytes fat_body(const bytes& code, const std::vector<bytes>& sections, size_t room) {
    bytes out = {static_cast<uint8_t>(sections.empty() ? 0x13 : 0x1B), 0x30, 0x02, 0x00};
    append_u32(out, static_cast<uint32_t>(code.size()));
    append_u32(out, 0x11000001);
    out.insert(out.end(), code.begin(), code.end());
    for (const bytes& section : sections) {
        out.resize((out.size() + 3) & ~size_t{3}, 0);
        out.insert(out.end(), section.begin(), section.end());
    }
    out.resize(out.size() + room, 0);
    return out;
}

// Clause `index` of every exception section of the body, in order.
std::vector<fat_clause> clauses_of(const bytes& buffer) {
    il_method_decoder decoder;
    EXPECT_TRUE(DecoderInit(&decoder, buffer.data(), static_cast<uint32_t>(buffer.size())));
    std::vector<fat_clause> out;
    const uint8_t* section = reinterpret_cast<const uint8_t*>(decoder.eh);
    while (section != nullptr) {
        const auto* eh = reinterpret_cast<const COR_ILMETHOD_SECT_EH*>(section);
        for (uint32_t i = 0; i < SectEH_ClauseCount(eh); ++i) {
            fat_clause buffer_clause{};
            out.push_back(*SectEH_EHClause(eh, i, &buffer_clause));
        }
        section = section_has_more(section)
                      ? buffer.data() + align_to_4((section - buffer.data()) + uint64_t{section_walk_size(section)})
                      : nullptr;
    }
    return out;
}

std::string describe(const fat_clause& c) {
    return "{flags " + std::to_string(c.Flags) + " try " + std::to_string(c.TryOffset) + "+" +
           std::to_string(c.TryLength) + " handler " + std::to_string(c.HandlerOffset) + "+" +
           std::to_string(c.HandlerLength) + " token/filter " + std::to_string(c.ClassToken) + "}";
}

bool same(const fat_clause& a, const fat_clause& b) { return describe(a) == describe(b); }

const bytes inserted = {0xA0, 0xA1, 0xA2, 0xA3};

TEST(MethodComposerTest, InsertAtCorrectsClausesAndMovesTheSection) {
    const fat_clause catch_clause = make_clause(COR_ILEXCEPTION_CLAUSE_NONE, 2, 8, 10, 5, 0x01000005);
    // Filter block from 6 (the try end) to 10 (the handler).
    const fat_clause filter_clause = make_clause(COR_ILEXCEPTION_CLAUSE_FILTER, 2, 4, 10, 5, 6);
    struct insert_case {
        const char* name;
        fat_clause before;
        uint32_t offset;
        fat_clause after;
    };
    const std::vector<insert_case> cases = {
        {"BeforeTry", catch_clause, 0, make_clause(0, 6, 8, 14, 5, 0x01000005)},
        {"AtTryOffsetGrowsTry", catch_clause, 2, make_clause(0, 2, 12, 14, 5, 0x01000005)},
        {"AtTryEndGrowsTry", catch_clause, 10, make_clause(0, 2, 12, 14, 5, 0x01000005)},
        {"InsideHandler", catch_clause, 12, make_clause(0, 2, 8, 10, 9, 0x01000005)},
        {"AtHandlerEnd", catch_clause, 15, make_clause(0, 2, 8, 10, 9, 0x01000005)},
        {"AfterHandler", catch_clause, 16, catch_clause},
        {"FilterBeforeTry", filter_clause, 0, make_clause(1, 6, 4, 14, 5, 10)},
        {"FilterAtTryEnd", filter_clause, 6, make_clause(1, 2, 8, 14, 5, 10)},
        {"InsideFilterBlockMovesHandlerOnly", filter_clause, 8, make_clause(1, 2, 4, 14, 5, 6)},
    };
    const bytes code = numbered_code(16);
    for (const bool fat_section : {false, true}) {
        for (const insert_case& c : cases) {
            SCOPED_TRACE(std::string(c.name) + (fat_section ? " (fat section)" : " (small section)"));
            bytes buffer = fat_body(code, {eh_section({c.before}, fat_section)}, 16);
            method_composer composer = composer_for(buffer);
            ASSERT_EQ(S_OK, composer.insert_at(c.offset, inserted.data(), 4));

            EXPECT_EQ(20u, composer.code_section_size());
            bytes expected_code(code.begin(), code.begin() + c.offset);
            expected_code.insert(expected_code.end(), inserted.begin(), inserted.end());
            expected_code.insert(expected_code.end(), code.begin() + c.offset, code.end());
            EXPECT_EQ(expected_code, bytes(buffer.begin() + 12, buffer.begin() + 32));
            EXPECT_EQ(buffer.data() + 32, reinterpret_cast<uint8_t*>(composer.seh_section()));
            const std::vector<fat_clause> clauses = clauses_of(buffer);
            ASSERT_EQ(1u, clauses.size());
            EXPECT_TRUE(same(c.after, clauses[0])) << "want " << describe(c.after) << ", got " << describe(clauses[0]);
        }
    }
}

TEST(MethodComposerTest, SectionMovesToTheNextMultipleOf4AfterTheLongerCode) {
    const fat_clause clause = make_clause(COR_ILEXCEPTION_CLAUSE_FINALLY, 0, 2, 2, 2, 0);
    struct placement_case {
        uint32_t count;
        size_t section_at;
    };
    for (const placement_case& c : std::vector<placement_case>{{1, 28}, {3, 28}, {4, 32}}) {
        SCOPED_TRACE(c.count);
        bytes buffer = fat_body(numbered_code(13), {eh_section({clause}, false)}, 16);
        method_composer composer = composer_for(buffer);
        ASSERT_EQ(buffer.data() + 28, reinterpret_cast<uint8_t*>(composer.seh_section()));
        ASSERT_EQ(S_OK, composer.insert_at(13, inserted.data(), c.count));
        EXPECT_EQ(buffer.data() + c.section_at, reinterpret_cast<uint8_t*>(composer.seh_section()));
        const std::vector<fat_clause> clauses = clauses_of(buffer);
        ASSERT_EQ(1u, clauses.size());
        EXPECT_TRUE(same(clause, clauses[0]));
    }
}

TEST(MethodComposerTest, EveryExceptionSectionOfTheChainIsCorrectedAndMoved) {
    const fat_clause first = make_clause(COR_ILEXCEPTION_CLAUSE_FINALLY, 0, 4, 4, 4, 0);
    const fat_clause second = make_clause(COR_ILEXCEPTION_CLAUSE_FAULT, 8, 2, 10, 2, 0);
    bytes buffer = fat_body(numbered_code(12), {eh_section({first}, false, true), eh_section({second}, true)}, 8);
    method_composer composer = composer_for(buffer);
    EXPECT_EQ(16u + 28u, composer.seh_section_size());

    ASSERT_EQ(S_OK, composer.insert_at(0, inserted.data(), 4));
    const std::vector<fat_clause> clauses = clauses_of(buffer);
    ASSERT_EQ(2u, clauses.size());
    EXPECT_TRUE(same(make_clause(2, 0, 8, 8, 4, 0), clauses[0])) << describe(clauses[0]);
    EXPECT_TRUE(same(make_clause(4, 12, 2, 14, 2, 0), clauses[1])) << describe(clauses[1]);
}

TEST(MethodComposerTest, TinyBodyGrowsInPlace) {
    bytes buffer = {0x0A, 0x00, 0x2A, 0x00, 0x00};
    method_composer composer = composer_for(buffer);
    ASSERT_EQ(S_OK, composer.insert_at(1, inserted.data(), 2));
    EXPECT_EQ((bytes{0x12, 0x00, 0xA0, 0xA1, 0x2A}), buffer);
    EXPECT_FALSE(composer.is_fat());
    EXPECT_FALSE(composer.has_more_sections());
}

TEST(MethodComposerTest, EditsThatDoNotFitAreRefusedAndChangeNothing) {
    const bytes code = numbered_code(16);
    bytes tiny_62 = {static_cast<uint8_t>(62 << 2 | 2)};
    tiny_62.resize(63 + 40, 0x00);
    bytes lying_code_size = fat_body(code, {}, 8);
    lying_code_size[4] = 0xE8;  // 1000 bytes of code in a 36-byte buffer
    lying_code_size[5] = 0x03;
    struct refused_case {
        const char* name;
        bytes buffer;
        uint32_t offset;
        uint32_t count;
    };
    const std::vector<refused_case> cases = {
        {"OffsetPastTheCode", fat_body(code, {}, 16), 17, 4},
        {"NoRoomForTheCode", fat_body(code, {}, 0), 16, 4},
        {"NoRoomForTheMovedSection",
         fat_body(code, {eh_section({make_clause(0, 2, 8, 10, 5, 1)}, false)}, 3), 0, 4},
        {"TinyBodyPast63Bytes", tiny_62, 0, 2},
        {"CodeSizeBeyondTheBuffer", lying_code_size, 0, 1},
        {"SmallTryOffsetOverflows",
         fat_body(code, {eh_section({make_clause(2, 0xFFF0, 1, 0xFFF1, 1, 0)}, false)}, 64), 0, 0x20},
        {"SmallTryLengthOverflows", fat_body(code, {eh_section({make_clause(2, 0, 0xF0, 0xF0, 1, 0)}, false)}, 64), 0,
         0x20},
    };
    const bytes filler(0x20, 0x55);
    for (const refused_case& c : cases) {
        SCOPED_TRACE(c.name);
        bytes buffer = c.buffer;
        method_composer composer = composer_for(buffer);
        EXPECT_EQ(E_INVALIDARG, composer.insert_at(c.offset, filler.data(), c.count));
        EXPECT_EQ(c.buffer, buffer);
    }
}

TEST(MethodComposerTest, SetBodyTurnsATinyBodyIntoAFatOne) {
    log_capture log;
    const bytes tiny = {0x12, 0x00, 0x00, 0x00, 0x2A};
    bytes buffer(80, 0xEE);
    method_composer composer = composer_for(buffer);
    ASSERT_EQ(S_OK, composer.set_body(tiny.data(), static_cast<uint32_t>(tiny.size())));
    EXPECT_EQ((bytes{0x03, 0x30, 0x08, 0x00, 0x04, 0, 0, 0, 0, 0, 0, 0, 0x00, 0x00, 0x00, 0x2A}),
              bytes(buffer.begin(), buffer.begin() + 16));
    EXPECT_TRUE(composer.is_fat());
    EXPECT_EQ(4u, composer.code_section_size());
    EXPECT_EQ(std::vector<std::wstring>{L"Transitioning from TINY to FAT method"}, log.errors());

    // Up to 64 bytes of capacity the body is copied as it is.
    bytes small_buffer(64, 0xEE);
    method_composer small = composer_for(small_buffer);
    ASSERT_EQ(S_OK, small.set_body(tiny.data(), static_cast<uint32_t>(tiny.size())));
    EXPECT_EQ(tiny, bytes(small_buffer.begin(), small_buffer.begin() + 5));
    EXPECT_FALSE(small.is_fat());

    // A converted body needs 11 bytes more than its length.
    bytes full_tiny(64, 0x00);
    full_tiny[0] = 63 << 2 | 2;
    bytes tight(70, 0xEE);
    method_composer no_room = composer_for(tight);
    EXPECT_EQ(E_INVALIDARG, no_room.set_body(full_tiny.data(), 64));
    EXPECT_EQ(bytes(70, 0xEE), tight);
}

TEST(MethodComposerTest, FailuresAreLoggedAtError) {
    log_capture log;
    bytes buffer = fat_body(numbered_code(8), {}, 16);
    method_composer composer = composer_for(buffer);
    EXPECT_EQ(E_INVALIDARG, composer.update_seh_section(0, 4));
    EXPECT_EQ(E_INVALIDARG, composer.shift_seh_section(0, 4));
    using small_clause = IMAGE_COR_ILMETHOD_SECT_EH_CLAUSE_SMALL;
    EXPECT_EQ(E_INVALIDARG, composer.update_clause(static_cast<small_clause*>(nullptr), 4, 0));
    EXPECT_EQ(E_INVALIDARG, composer.update_clause(static_cast<fat_clause*>(nullptr), 4, 0));
    const std::vector<std::wstring> expected = {
        L"Failed to find exception handling section",
        L"Failed to find exception handling section",
        L"Failed to update SEH section offsets",
        L"Exception handling section fat clause parameter is invalid",
        L"Exception handling section fat clause parameter is invalid",
    };
    EXPECT_EQ(expected, log.errors());
}

TEST(MethodComposerTest, TextOfATinyBody) {
    bytes buffer = {0x0A, 0x00, 0x2A};
    EXPECT_EQ(L"(3 bytes)\n"
              L"    0x0a,0x00,0x2a,\n"
              L"    Header type: TINY (type: 2, size: 2)\n"
              L"    Code section (2 bytes): 0x00,0x2a,\n",
              composer_for(buffer).to_wstring());
}

TEST(MethodComposerTest, TextOfAFatBodyWithClauses) {
    const bytes code = {0x00, 0x00, 0x00, 0x00, 0x2A};
    bytes buffer = fat_body(code,
                            {eh_section({make_clause(COR_ILEXCEPTION_CLAUSE_NONE, 0, 2, 2, 3, 0x01000001),
                                         make_clause(COR_ILEXCEPTION_CLAUSE_FINALLY, 0, 4, 4, 1, 0)},
                                        false)},
                            0);
    ASSERT_EQ(48u, buffer.size());
    EXPECT_EQ(L"(48 bytes)\n    " + array_to_hex_wstring(buffer.data(), 48) +
                  L"\n"
                  L"    Header type: FAT (code size: 5, flags: 27 (CorILMethod_InitLocals | CorILMethod_MoreSects | "
                  L"), max stack: 2, signature token: 285212673)\n"
                  L"    Code section (5 bytes): 0x00,0x00,0x00,0x00,0x2a,\n"
                  L"    Code section padded by 3 bytes: 0x00,0x00,0x00,\n"
                  L"    CATCH:\n"
                  L"      .try   {@0 2 bytes}\n"
                  L"      .catch {@2 3 bytes}\n"
                  L"    FINALLY:\n"
                  L"      .try   {@0 4 bytes}\n"
                  L"      .catch {@4 1 bytes}\n",
              composer_for(buffer).to_wstring());
}

TEST(MethodComposerTest, TextOfABodyThatDoesNotFitItsBuffer) {
    bytes buffer = fat_body(numbered_code(8), {}, 0);
    buffer[4] = 200;
    const std::wstring text = composer_for(buffer).to_wstring();
    EXPECT_NE(std::wstring::npos, text.find(L"Code section (200 bytes) does not fit in the buffer\n")) << text.c_str();
}

}  // namespace
