// Extra data sections of a method body and the exception-handling section
// (ECMA-335 II.25.4.5 and II.25.4.6): the on-disk clause layouts, reading one clause
// in fat form whatever its stored form, and sizing and emitting a section.
//
// Guarantees: every function is stateless, allocates nothing and is safe on any
// thread. The on-disk records are byte-aligned (packed), so they may be overlaid on
// a buffer at any address; fields are little-endian, as on the only target.
// Readers of a section take its bytes as given: a caller reads a section only where
// the bounded DecoderInit (method_header.h) has checked that the section header and
// every clause it declares lie inside the body.
#pragma once

#include <cstdint>

#include "runtime/cor_types.h"

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "the on-disk records are read in place as little-endian");

#pragma pack(push, 1)

// A clause in small form, 12 bytes: 16-bit offsets and 8-bit lengths.
struct IMAGE_COR_ILMETHOD_SECT_EH_CLAUSE_SMALL {
    uint16_t Flags;
    uint16_t TryOffset;
    uint8_t TryLength;
    uint16_t HandlerOffset;
    uint8_t HandlerLength;
    union {
        uint32_t ClassToken;
        uint32_t FilterOffset;
    };
};

// A clause in fat form, 24 bytes: every field 32 bits.
struct IMAGE_COR_ILMETHOD_SECT_EH_CLAUSE_FAT {
    uint32_t Flags;
    uint32_t TryOffset;
    uint32_t TryLength;
    uint32_t HandlerOffset;
    uint32_t HandlerLength;
    union {
        uint32_t ClassToken;
        uint32_t FilterOffset;
    };
};

// The 4-byte header of an exception section; its clauses follow it, all small or all
// fat as Kind says. Small: DataSize[0] is the data size, DataSize[1..2] are reserved.
// Fat: DataSize holds 24 bits of data size.
struct COR_ILMETHOD_SECT_EH {
    uint8_t Kind;
    uint8_t DataSize[3];
};

#pragma pack(pop)

static_assert(sizeof(IMAGE_COR_ILMETHOD_SECT_EH_CLAUSE_SMALL) == 12);
static_assert(sizeof(IMAGE_COR_ILMETHOD_SECT_EH_CLAUSE_FAT) == 24);
static_assert(sizeof(COR_ILMETHOD_SECT_EH) == 4);

constexpr uint32_t section_header_size = 4;
constexpr uint32_t small_clause_size = sizeof(IMAGE_COR_ILMETHOD_SECT_EH_CLAUSE_SMALL);
constexpr uint32_t fat_clause_size = sizeof(IMAGE_COR_ILMETHOD_SECT_EH_CLAUSE_FAT);

// Section headers. Each reads the 4 header bytes at `section` and nothing else.
uint8_t section_kind(const uint8_t* section);       // bits 0-5
bool section_is_fat(const uint8_t* section);        // 0x40
bool section_has_more(const uint8_t* section);      // 0x80: another section follows
bool section_is_eh_table(const uint8_t* section);   // kind 1
uint32_t section_stored_size(const uint8_t* section);
// The number of bytes the section occupies when walking the chain. An exception
// table counts its whole clauses plus the 4-byte header, so a stored size that
// leaves the header out reads the same as one that includes it; other kinds count
// their stored size.
uint32_t section_walk_size(const uint8_t* section);

// Offset of the section that follows one at `offset` (relative to the body start):
// its end rounded up to a multiple of 4.
constexpr uint64_t align_to_4(uint64_t offset) { return (offset + 3) & ~uint64_t{3}; }

// Number of whole clauses the section's stored size holds.
uint32_t SectEH_ClauseCount(const COR_ILMETHOD_SECT_EH* section);

// Clause `index` in fat form: a pointer into a fat section, or `buffer` filled with
// the widened small clause. Null when `index` is not below SectEH_ClauseCount.
const IMAGE_COR_ILMETHOD_SECT_EH_CLAUSE_FAT* SectEH_EHClause(const COR_ILMETHOD_SECT_EH* section, uint32_t index,
                                                             IMAGE_COR_ILMETHOD_SECT_EH_CLAUSE_FAT* buffer);

// 24 x count + 4, or 0 for no clauses; the code size is not used.
uint32_t SectEH_SizeWithCode(uint32_t count, uint32_t code_size);
// 24 x count + 4, or 0 for no clauses.
uint32_t SectEH_SizeWorst(uint32_t count);
// The size of the smallest section that holds the clauses: 0 for none, 12 x count + 4
// when every clause fits the small form and the section stays within 255 bytes
// (at most 20 clauses), else 24 x count + 4.
uint32_t SectEH_SizeExact(uint32_t count, const IMAGE_COR_ILMETHOD_SECT_EH_CLAUSE_FAT* clauses);

// Writes the section into `output` (which holds at least `size` bytes, `size` being
// SectEH_SizeExact or SectEH_SizeWorst of the same clauses) and returns `size`; writes
// nothing and returns 0 when `size` or `count` is 0. The small form is used when the
// clauses fit it. When `type_token_offsets` is given, its first `count` entries
// receive, for each typed-catch clause, the byte offset of the clause's class token
// from the section start, and 0xFFFFFFFF for every other clause.
uint32_t SectEH_Emit(uint32_t size, uint32_t count, const IMAGE_COR_ILMETHOD_SECT_EH_CLAUSE_FAT* clauses,
                     bool more_sections, uint8_t* output, uint32_t* type_token_offsets);
