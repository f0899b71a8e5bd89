#include "il/exception_section.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace {

using bytes = std::vector<uint8_t>;
using fat_clause = IMAGE_COR_ILMETHOD_SECT_EH_CLAUSE_FAT;

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

std::vector<fat_clause> small_fitting(uint32_t count) {
    std::vector<fat_clause> clauses;
    for (uint32_t i = 0; i < count; ++i) {
        clauses.push_back(make_clause(COR_ILEXCEPTION_CLAUSE_FINALLY, i, 1, i + 1, 1, 0));
    }
    return clauses;
}

void expect_same_clause(const fat_clause& want, const fat_clause& got) {
    EXPECT_EQ(want.Flags, got.Flags);
    EXPECT_EQ(want.TryOffset, got.TryOffset);
    EXPECT_EQ(want.TryLength, got.TryLength);
    EXPECT_EQ(want.HandlerOffset, got.HandlerOffset);
    EXPECT_EQ(want.HandlerLength, got.HandlerLength);
    EXPECT_EQ(want.ClassToken, got.ClassToken);
}

TEST(ExceptionSectionTest, ExactSizePicksTheSmallFormOnlyWhenEveryClauseFits) {
    struct size_case {
        const char* name;
        std::vector<fat_clause> clauses;
        uint32_t size;
    };
    const std::vector<size_case> cases = {
        {"NoClauses", {}, 0},
        {"TwentySmallClauses", small_fitting(20), 244},
        {"TwentyOneClausesExceed255Bytes", small_fitting(21), 508},
        {"TryLength256", {make_clause(0, 0, 256, 256, 1, 0)}, 28},
        {"HandlerOffset65536", {make_clause(0, 0, 1, 0x10000, 1, 0)}, 28},
        {"LargestSmallValues", {make_clause(0, 0xFFFF, 0xFF, 0xFFFF, 0xFF, 0xFFFFFFFF)}, 16},
    };
    for (const size_case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.size, SectEH_SizeExact(static_cast<uint32_t>(c.clauses.size()), c.clauses.data()));
    }
    EXPECT_EQ(0u, SectEH_SizeWorst(0));
    EXPECT_EQ(52u, SectEH_SizeWorst(2));
    EXPECT_EQ(52u, SectEH_SizeWithCode(2, 1000));
}

TEST(ExceptionSectionTest, SmallSectionRecordsCatchTokenOffsets) {
    const std::vector<fat_clause> clauses = {
        make_clause(COR_ILEXCEPTION_CLAUSE_FINALLY, 0, 4, 4, 2, 0),
        make_clause(COR_ILEXCEPTION_CLAUSE_NONE, 0x0102, 0x10, 0x0304, 0x20, 0x01000007),
    };
    const uint32_t size = SectEH_SizeExact(2, clauses.data());
    ASSERT_EQ(28u, size);
    bytes section(size, 0xEE);
    uint32_t offsets[2] = {0, 0};
    EXPECT_EQ(size, SectEH_Emit(size, 2, clauses.data(), false, section.data(), offsets));
    EXPECT_EQ(0xFFFFFFFFu, offsets[0]);
    EXPECT_EQ(24u, offsets[1]);
    const bytes expected = {0x01, 0x1C, 0x00, 0x00,                                      // header
                            0x02, 0x00, 0x00, 0x00, 0x04, 0x04, 0x00, 0x02, 0, 0, 0, 0,  // finally
                            0x00, 0x00, 0x02, 0x01, 0x10, 0x04, 0x03, 0x20, 0x07, 0x00, 0x00, 0x01};
    EXPECT_EQ(expected, section);

    const auto* eh = reinterpret_cast<const COR_ILMETHOD_SECT_EH*>(section.data());
    ASSERT_EQ(2u, SectEH_ClauseCount(eh));
    for (uint32_t i = 0; i < 2; ++i) {
        fat_clause buffer{};
        const fat_clause* clause = SectEH_EHClause(eh, i, &buffer);
        EXPECT_EQ(&buffer, clause) << "a small clause is widened into the buffer";
        expect_same_clause(clauses[i], *clause);
    }
    fat_clause buffer{};
    EXPECT_EQ(nullptr, SectEH_EHClause(eh, 2, &buffer));
}

TEST(ExceptionSectionTest, FatSectionWhenAClauseDoesNotFitTheSmallForm) {
    const std::vector<fat_clause> clauses = {
        make_clause(COR_ILEXCEPTION_CLAUSE_NONE, 0, 4, 4, 2, 0x01000003),
        make_clause(COR_ILEXCEPTION_CLAUSE_FILTER, 0, 300, 310, 2, 305),
    };
    const uint32_t size = SectEH_SizeExact(2, clauses.data());
    ASSERT_EQ(52u, size);
    bytes section(size, 0xEE);
    uint32_t offsets[2] = {0, 0};
    EXPECT_EQ(size, SectEH_Emit(size, 2, clauses.data(), true, section.data(), offsets));
    EXPECT_EQ((bytes{0xC1, 52, 0x00, 0x00}), bytes(section.begin(), section.begin() + 4));
    EXPECT_EQ(24u, offsets[0]);
    EXPECT_EQ(0xFFFFFFFFu, offsets[1]);

    const auto* eh = reinterpret_cast<const COR_ILMETHOD_SECT_EH*>(section.data());
    for (uint32_t i = 0; i < 2; ++i) {
        fat_clause buffer{};
        const fat_clause* clause = SectEH_EHClause(eh, i, &buffer);
        EXPECT_EQ(section.data() + 4 + 24 * i, reinterpret_cast<const uint8_t*>(clause)) << "read in place";
        expect_same_clause(clauses[i], *clause);
    }
}

TEST(ExceptionSectionTest, TwentyOneSmallFittingClausesAreWrittenFat) {
    const std::vector<fat_clause> clauses = small_fitting(21);
    bytes section(SectEH_SizeWorst(21), 0);
    EXPECT_EQ(508u, SectEH_Emit(508, 21, clauses.data(), false, section.data(), nullptr));
    EXPECT_EQ(0x41, section[0]);
    EXPECT_EQ(21u, SectEH_ClauseCount(reinterpret_cast<const COR_ILMETHOD_SECT_EH*>(section.data())));
}

TEST(ExceptionSectionTest, EmitWritesNothingForNoClausesOrNoSize) {
    const std::vector<fat_clause> clauses = small_fitting(1);
    bytes section(16, 0xEE);
    uint32_t offset = 7;
    EXPECT_EQ(0u, SectEH_Emit(0, 1, clauses.data(), false, section.data(), &offset));
    EXPECT_EQ(0u, SectEH_Emit(16, 0, clauses.data(), false, section.data(), &offset));
    EXPECT_EQ(bytes(16, 0xEE), section);
    EXPECT_EQ(7u, offset);
}

}  // namespace
