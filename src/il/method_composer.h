// Byte-level editor of one raw method body (header, code and exception sections,
// ECMA-335 II.25.4) held in a caller-owned buffer: inserts bytes into the code,
// moves the exception sections behind it and corrects their clauses, changes the
// code size and local signature token, turns a tiny body into a fat one, and renders
// the body as text. The instruction-level editor is the IL rewriter.
//
// Guarantees: the composer never reads or writes outside [body, body + capacity).
// The body may be anything (it is decoded with the bounded DecoderInit against the
// capacity); an edit whose input does not decode, whose offset lies outside the code,
// or whose result would not fit the capacity fails with E_INVALIDARG, logged at
// Error, and changes nothing. A tiny body never grows past 63 bytes of code, and a
// correction that no longer fits a small clause is refused rather than truncated.
// The composer borrows the buffer, never grows it, and serves one thread.
#pragma once

#include <cstdint>
#include <string>

#include "il/exception_section.h"
#include "il/method_header.h"
#include "logging/wtracing_scope.h"
#include "runtime/com_types.h"

class method_composer {
public:
    method_composer(const std::wstring& assembly_name, const std::wstring& type_name,
                    const std::wstring& function_name, uint8_t* body, uint32_t capacity);

    // True unless the low two bits of the first byte say tiny (2).
    bool is_fat() const;
    // The first code byte; null when the buffer cannot hold the header.
    uint8_t* code_section() const;
    // The code size the header declares (0 when the buffer cannot hold the header).
    uint32_t code_section_size() const;
    HRESULT increment_code_size(uint32_t count);
    // Fat body: zero-fills from the end of the code to the next multiple of 4.
    HRESULT align_code_section(uint32_t unused);
    // `pointer` rounded up to a multiple of 4 counted from the body start.
    uint8_t* align_to_dword(uint8_t* pointer) const;

    // Whether a fat body has an exception section.
    bool has_more_sections() const;
    // The first exception section, or null.
    COR_ILMETHOD_SECT_EH* seh_section() const;
    // The data sizes of every exception section from the first one on (other kinds
    // are stepped over and not counted).
    uint32_t seh_section_size() const;

    // The fat header's local signature token; 0 for a tiny body.
    uint32_t get_signature_token() const;
    // Sets it in a fat body; a tiny body is left alone.
    void set_signature_token(uint32_t token);

    // Opens a gap of `count` bytes at code `offset` and grows the code size; sections
    // behind the code are not moved (shift_seh_section does that first).
    HRESULT shift_code_section(uint32_t offset, uint32_t count);
    // Corrects the clauses for `count` bytes inserted at code `offset` and moves the
    // exception sections behind the longer code.
    HRESULT shift_seh_section(uint32_t offset, uint32_t count);
    // Corrects every clause of every exception section.
    HRESULT update_seh_section(uint32_t offset, uint32_t count);
    // Corrects one clause for `count` bytes inserted at code `offset`.
    HRESULT update_clause(IMAGE_COR_ILMETHOD_SECT_EH_CLAUSE_SMALL* clause, uint32_t count, uint32_t offset);
    HRESULT update_clause(IMAGE_COR_ILMETHOD_SECT_EH_CLAUSE_FAT* clause, uint32_t count, uint32_t offset);

    // Inserts `count` bytes (which must not point into the body) at code `offset`.
    HRESULT insert_at(uint32_t offset, const uint8_t* bytes, uint32_t count);
    // Copies a whole body into the buffer; a tiny body in a buffer of more than 64
    // bytes is rewritten as a fat one (which takes 11 bytes more than `length`).
    HRESULT set_body(const uint8_t* bytes, uint32_t length);
    // Does nothing.
    HRESULT add_try_catch_clause(uint32_t, uint32_t, uint32_t, uint32_t);

    // The whole buffer in hexadecimal, then the header, code and clauses.
    std::wstring to_wstring() const;

private:
    bool header_fits() const;
    bool code_fits() const;
    bool decode(il_method_decoder* decoder) const;
    uint32_t header_length() const;
    HRESULT check_code_shift(uint32_t offset, uint32_t count) const;
    HRESULT correct_clauses(uint32_t offset, uint32_t count, bool apply);

    wtracing_scope scope_;
    uint8_t* body_;
    uint32_t capacity_;
};
