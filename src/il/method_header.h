// Method headers of ECMA-335 II.25.4 (tiny and fat) and the split of a body into
// header values, code and extra data sections.
//
// Guarantees: stateless functions, no allocation, safe on any thread. Method bodies
// come from assemblies users load, corrupt and obfuscated ones included, so the
// rewriter decodes them with the bounded DecoderInit, which reads nothing outside the
// size the runtime reported and accepts a body only when its header, its code and
// every section of the chain (each exception clause included) lie inside that size.
// After it accepts, DecoderGetOnDiskSize and SectEH_EHClause (up to the section's
// SectEH_ClauseCount) stay inside the body too. The unbounded DecoderInit trusts its
// input and is meant for bodies this library wrote itself.
//
// Offsets of sections are measured from the header: a fat header is 4-byte aligned,
// so "the next multiple of 4" means the same relative to the header as in memory.
#pragma once

#include <cstdint>

#include "il/exception_section.h"
#include "runtime/cor_types.h"

// The values of a fat header, in its on-disk order; also describes a body to be sized
// or emitted.
struct il_method_fat_header {
    uint16_t flags_and_size;  // bits 0-11 flags, bits 12-15 header size in 4-byte units
    uint16_t max_stack;
    uint32_t code_size;
    uint32_t local_var_sig_token;

    uint16_t flags() const { return flags_and_size & 0x0FFF; }
    uint8_t header_size() const { return static_cast<uint8_t>(flags_and_size >> 12); }
};
static_assert(sizeof(il_method_fat_header) == 12);

constexpr uint32_t tiny_header_size = 1;
constexpr uint32_t fat_header_size = sizeof(il_method_fat_header);
constexpr uint32_t tiny_max_stack = 8;
constexpr uint32_t tiny_max_code_size = 63;

// A body split into its parts. Pointers point into the decoded body.
struct il_method_decoder : il_method_fat_header {
    const uint8_t* code;
    const uint8_t* local_var_sig;  // left null by DecoderInit
    uint32_t local_var_sig_size;   // left 0 by DecoderInit
    const COR_ILMETHOD_SECT_EH* eh;  // the exception section, when it is the first section
    // The section after the exception section, or the first section when that is
    // not an exception table; null when there is none.
    const uint8_t* sect;
};

// Splits the body at `header` without bounds: a header that is neither tiny nor fat
// leaves the decoder clear (no code); a fat header of fewer than 3 units gives its
// code pointer but no sections.
void DecoderInit(il_method_decoder* decoder, const uint8_t* header);

// The same split, reading only `body_size` bytes from `header`. Returns false and
// leaves the decoder clear when the header is neither tiny nor fat, when the fat
// header declares fewer than 3 units (its code would overlap it), or when the
// header, the code, a section header or a section's data does not fit, or a
// section is shorter than its own 4-byte header.
bool DecoderInit(il_method_decoder* decoder, const uint8_t* header, uint32_t body_size);

// Bytes from the header through the end of the last section; 0 when the decoder has
// no code.
uint32_t DecoderGetOnDiskSize(const il_method_decoder* decoder, const uint8_t* header);

// 1 when the body fits a tiny header (max stack at most 8, flags at most 7, no local
// signature, no sections, fewer than 64 bytes of code), otherwise 12.
uint32_t IlmethodSize(const il_method_fat_header* header, bool more_sections);

// Writes a header of `size` bytes (1 or 12, from IlmethodSize) and returns `size`.
uint32_t IlmethodEmit(uint32_t size, const il_method_fat_header* header, bool more_sections, uint8_t* output);
