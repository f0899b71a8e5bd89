#include "il/method_composer.h"

#include <cstring>

#include "logging/hex_dump.h"

namespace {

constexpr uint32_t code_size_offset = 4;
constexpr uint32_t signature_token_offset = 8;
// Fat format, header size 3, max stack 8: the header a converted tiny body gets.
constexpr uint32_t tiny_as_fat_first_word = 0x00083003;
// Header flag of compressed IL, a format no compiler emits; shown in the dump only.
constexpr uint16_t compressed_il_flag = 0x40;

uint32_t read_u32(const uint8_t* at) {
    uint32_t value;
    std::memcpy(&value, at, sizeof value);
    return value;
}

void write_u32(uint8_t* at, uint32_t value) { std::memcpy(at, &value, sizeof value); }

// One clause's values, wide enough to hold a correction before checking its form.
struct clause_values {
    uint32_t flags;
    uint64_t try_offset;
    uint64_t try_length;
    uint64_t handler_offset;
    uint64_t handler_length;
    uint64_t filter_offset;  // the class token, unless flags say filter
};

template <typename Clause>
clause_values values_of(const Clause& clause) {
    return {clause.Flags, clause.TryOffset, clause.TryLength, clause.HandlerOffset, clause.HandlerLength,
            clause.FilterOffset};
}

bool fits(const clause_values& values, const IMAGE_COR_ILMETHOD_SECT_EH_CLAUSE_SMALL&) {
    return values.try_offset <= 0xFFFF && values.try_length <= 0xFF && values.handler_offset <= 0xFFFF &&
           values.handler_length <= 0xFF && values.filter_offset <= 0xFFFFFFFF;
}

bool fits(const clause_values& values, const IMAGE_COR_ILMETHOD_SECT_EH_CLAUSE_FAT&) {
    return values.try_offset <= 0xFFFFFFFF && values.try_length <= 0xFFFFFFFF &&
           values.handler_offset <= 0xFFFFFFFF && values.handler_length <= 0xFFFFFFFF &&
           values.filter_offset <= 0xFFFFFFFF;
}

template <typename Clause>
void store(Clause& clause, const clause_values& values) {
    using offset_type = decltype(clause.TryOffset);
    using length_type = decltype(clause.TryLength);
    clause.TryOffset = static_cast<offset_type>(values.try_offset);
    clause.TryLength = static_cast<length_type>(values.try_length);
    clause.HandlerOffset = static_cast<offset_type>(values.handler_offset);
    clause.HandlerLength = static_cast<length_type>(values.handler_length);
    clause.FilterOffset = static_cast<uint32_t>(values.filter_offset);
}

// The clause after `count` bytes were inserted at code offset `offset`. An insertion
// at the try offset or at the try end counts as inside the protected block, one at
// the handler end as inside the handler.
clause_values corrected(clause_values clause, uint32_t count, uint32_t offset) {
    const bool filter = clause.flags == COR_ILEXCEPTION_CLAUSE_FILTER;
    const uint64_t try_end = clause.try_offset + clause.try_length;
    const uint64_t handler_end = clause.handler_offset + clause.handler_length;
    if (offset < clause.try_offset) {
        clause.try_offset += count;
        clause.handler_offset += count;
        if (filter) {
            clause.filter_offset += count;
        }
    } else if (offset <= try_end) {
        clause.try_length += count;
        clause.handler_offset += count;
        if (filter) {
            clause.filter_offset += count;
        }
    } else if (offset < clause.handler_offset) {
        // Between the try end and the handler, where a filter block lives: the
        // handler moves, and so does a filter block that starts after the insertion.
        clause.handler_offset += count;
        if (filter && clause.filter_offset > offset) {
            clause.filter_offset += count;
        }
    } else if (offset <= handler_end) {
        clause.handler_length += count;
    }
    return clause;
}

const wchar_t* clause_label(uint32_t flags) {
    switch (flags) {
    case COR_ILEXCEPTION_CLAUSE_NONE:
        return L"CATCH:\n";
    case COR_ILEXCEPTION_CLAUSE_FILTER:
        return L"FILTER:\n";
    case COR_ILEXCEPTION_CLAUSE_FINALLY:
        return L"FINALLY:\n";
    case COR_ILEXCEPTION_CLAUSE_FAULT:
        return L"FAULT:\n";
    default:
        return L"";
    }
}

// Calls visit(section) for every exception section of the decoded chain, stepping
// over sections of other kinds. The decoder must come from the bounded DecoderInit.
template <typename Visit>
void for_each_eh_section(const il_method_decoder& decoder, const uint8_t* body, Visit visit) {
    const uint8_t* section = decoder.eh != nullptr ? reinterpret_cast<const uint8_t*>(decoder.eh) : decoder.sect;
    while (section != nullptr) {
        if (section_is_eh_table(section)) {
            visit(section);
        }
        if (!section_has_more(section)) {
            break;
        }
        section = body + align_to_4((section - body) + uint64_t{section_walk_size(section)});
    }
}

}  // namespace

method_composer::method_composer(const std::wstring& assembly_name, const std::wstring& type_name,
                                 const std::wstring& function_name, uint8_t* body, uint32_t capacity)
    : scope_(assembly_name, type_name, function_name), body_(body), capacity_(body == nullptr ? 0 : capacity) {}

bool method_composer::is_fat() const { return capacity_ >= 1 && (body_[0] & 0x3) != CorILMethod_TinyFormat; }

uint32_t method_composer::header_length() const { return is_fat() ? fat_header_size : tiny_header_size; }

bool method_composer::header_fits() const { return capacity_ >= 1 && header_length() <= capacity_; }

bool method_composer::code_fits() const {
    return header_fits() && uint64_t{header_length()} + code_section_size() <= capacity_;
}

bool method_composer::decode(il_method_decoder* decoder) const { return DecoderInit(decoder, body_, capacity_); }

uint8_t* method_composer::code_section() const { return header_fits() ? body_ + header_length() : nullptr; }

uint32_t method_composer::code_section_size() const {
    if (!header_fits()) {
        return 0;
    }
    return is_fat() ? read_u32(body_ + code_size_offset) : body_[0] >> 2;
}

HRESULT method_composer::increment_code_size(uint32_t count) {
    if (!header_fits()) {
        scope_.trace_f(Error, L"Method body header does not fit in its buffer of %u bytes", capacity_);
        return E_INVALIDARG;
    }
    const uint64_t size = uint64_t{code_section_size()} + count;
    if (!is_fat()) {
        if (size > tiny_max_code_size) {
            scope_.trace_f(Error, L"A tiny method body cannot hold %llu bytes of code",
                           static_cast<unsigned long long>(size));
            return E_INVALIDARG;
        }
        body_[0] = static_cast<uint8_t>(size * 4 + CorILMethod_TinyFormat);
        return S_OK;
    }
    if (size > 0xFFFFFFFF) {
        scope_.trace_f(Error, L"Code size %llu does not fit the header", static_cast<unsigned long long>(size));
        return E_INVALIDARG;
    }
    write_u32(body_ + code_size_offset, static_cast<uint32_t>(size));
    return S_OK;
}

HRESULT method_composer::align_code_section(uint32_t /*unused*/) {
    if (!is_fat()) {
        return S_OK;
    }
    const uint64_t code_end = uint64_t{fat_header_size} + code_section_size();
    const uint64_t aligned = align_to_4(code_end);
    if (!code_fits() || aligned > capacity_) {
        scope_.trace_f(Error, L"Aligned code does not fit in the buffer of %u bytes", capacity_);
        return E_INVALIDARG;
    }
    std::memset(body_ + code_end, 0, aligned - code_end);
    return S_OK;
}

uint8_t* method_composer::align_to_dword(uint8_t* pointer) const {
    return body_ + align_to_4(static_cast<uint64_t>(pointer - body_));
}

bool method_composer::has_more_sections() const {
    il_method_decoder decoder;
    return is_fat() && decode(&decoder) && decoder.eh != nullptr;
}

COR_ILMETHOD_SECT_EH* method_composer::seh_section() const {
    il_method_decoder decoder;
    if (!decode(&decoder) || decoder.eh == nullptr) {
        return nullptr;
    }
    return reinterpret_cast<COR_ILMETHOD_SECT_EH*>(body_ + (reinterpret_cast<const uint8_t*>(decoder.eh) - body_));
}

uint32_t method_composer::seh_section_size() const {
    il_method_decoder decoder;
    if (!decode(&decoder)) {
        return 0;
    }
    uint32_t size = 0;
    for_each_eh_section(decoder, body_, [&](const uint8_t* section) { size += section_walk_size(section); });
    return size;
}

uint32_t method_composer::get_signature_token() const {
    return is_fat() && header_fits() ? read_u32(body_ + signature_token_offset) : 0;
}

void method_composer::set_signature_token(uint32_t token) {
    if (is_fat() && header_fits()) {
        write_u32(body_ + signature_token_offset, token);
    }
}

// Everything shift_code_section needs, checked before anything is changed.
HRESULT method_composer::check_code_shift(uint32_t offset, uint32_t count) const {
    if (!code_fits()) {
        scope_.trace_f(Error, L"Method body does not fit in its buffer of %u bytes", capacity_);
        return E_INVALIDARG;
    }
    const uint32_t code_size = code_section_size();
    if (offset > code_size) {
        scope_.trace_f(Error, L"Code offset %u is outside the code of %u bytes", offset, code_size);
        return E_INVALIDARG;
    }
    const uint64_t new_size = uint64_t{code_size} + count;
    if (!is_fat() && new_size > tiny_max_code_size) {
        scope_.trace_f(Error, L"A tiny method body cannot hold %llu bytes of code",
                       static_cast<unsigned long long>(new_size));
        return E_INVALIDARG;
    }
    const uint64_t new_end = header_length() + new_size;
    if ((is_fat() ? align_to_4(new_end) : new_end) > capacity_ || new_size > 0xFFFFFFFF) {
        scope_.trace_f(Error, L"%u more bytes of code do not fit in the buffer of %u bytes", count, capacity_);
        return E_INVALIDARG;
    }
    return S_OK;
}

HRESULT method_composer::shift_code_section(uint32_t offset, uint32_t count) {
    const HRESULT hr = check_code_shift(offset, count);
    if (FAILED(hr)) {
        return hr;
    }
    uint8_t* code = code_section();
    const uint32_t code_size = code_section_size();
    std::memmove(code + offset + count, code + offset, code_size - offset);
    increment_code_size(count);
    if (is_fat()) {
        const uint64_t code_end = uint64_t{fat_header_size} + code_size + count;
        std::memset(body_ + code_end, 0, align_to_4(code_end) - code_end);
    }
    return S_OK;
}

// Runs over every clause of every exception section: with `apply` false it only
// checks that each correction fits its clause's form, with `apply` true it stores
// them. Checking first means a refused correction leaves every clause as it was.
HRESULT method_composer::correct_clauses(uint32_t offset, uint32_t count, bool apply) {
    il_method_decoder decoder;
    if (!decode(&decoder) || decoder.eh == nullptr) {
        scope_.trace(Error, L"Failed to find exception handling section");
        return E_INVALIDARG;
    }
    HRESULT result = S_OK;
    for_each_eh_section(decoder, body_, [&](const uint8_t* section) {
        uint8_t* clauses = body_ + (section - body_) + section_header_size;
        const uint32_t clause_count = SectEH_ClauseCount(reinterpret_cast<const COR_ILMETHOD_SECT_EH*>(section));
        const bool fat = section_is_fat(section);
        for (uint32_t i = 0; i < clause_count && SUCCEEDED(result); ++i) {
            if (fat) {
                auto* clause = reinterpret_cast<IMAGE_COR_ILMETHOD_SECT_EH_CLAUSE_FAT*>(clauses + i * fat_clause_size);
                result = apply ? update_clause(clause, count, offset)
                               : (fits(corrected(values_of(*clause), count, offset), *clause) ? S_OK : E_INVALIDARG);
            } else {
                auto* clause =
                    reinterpret_cast<IMAGE_COR_ILMETHOD_SECT_EH_CLAUSE_SMALL*>(clauses + i * small_clause_size);
                result = apply ? update_clause(clause, count, offset)
                               : (fits(corrected(values_of(*clause), count, offset), *clause) ? S_OK : E_INVALIDARG);
            }
        }
    });
    if (FAILED(result)) {
        scope_.trace_f(Error, L"Exception handling clauses cannot take %u bytes inserted at code offset %u", count,
                       offset);
    }
    return result;
}

HRESULT method_composer::update_seh_section(uint32_t offset, uint32_t count) {
    const HRESULT hr = correct_clauses(offset, count, false);
    return FAILED(hr) ? hr : correct_clauses(offset, count, true);
}

HRESULT method_composer::update_clause(IMAGE_COR_ILMETHOD_SECT_EH_CLAUSE_SMALL* clause, uint32_t count,
                                       uint32_t offset) {
    if (clause == nullptr) {
        scope_.trace(Error, L"Exception handling section fat clause parameter is invalid");
        return E_INVALIDARG;
    }
    const clause_values values = corrected(values_of(*clause), count, offset);
    if (!fits(values, *clause)) {
        scope_.trace_f(Error, L"Small exception handling clause cannot take %u bytes inserted at code offset %u",
                       count, offset);
        return E_INVALIDARG;
    }
    store(*clause, values);
    return S_OK;
}

HRESULT method_composer::update_clause(IMAGE_COR_ILMETHOD_SECT_EH_CLAUSE_FAT* clause, uint32_t count,
                                       uint32_t offset) {
    if (clause == nullptr) {
        scope_.trace(Error, L"Exception handling section fat clause parameter is invalid");
        return E_INVALIDARG;
    }
    const clause_values values = corrected(values_of(*clause), count, offset);
    if (!fits(values, *clause)) {
        scope_.trace_f(Error, L"Exception handling clause cannot take %u bytes inserted at code offset %u", count,
                       offset);
        return E_INVALIDARG;
    }
    store(*clause, values);
    return S_OK;
}

HRESULT method_composer::shift_seh_section(uint32_t offset, uint32_t count) {
    il_method_decoder decoder;
    const bool has_eh = decode(&decoder) && decoder.eh != nullptr;
    const uint64_t code_end = has_eh ? static_cast<uint64_t>(decoder.code - body_) + decoder.code_size : 0;
    const uint64_t destination = align_to_4(code_end + count);
    const uint32_t size = has_eh ? seh_section_size() : 0;
    if (has_eh && destination + size > capacity_) {
        scope_.trace_f(Error, L"Exception handling section moved by %u bytes does not fit in the buffer of %u bytes",
                       count, capacity_);
        return E_INVALIDARG;
    }
    const HRESULT hr = update_seh_section(offset, count);
    if (FAILED(hr)) {
        scope_.trace(Error, L"Failed to update SEH section offsets");
        return hr;
    }
    std::memmove(body_ + destination, decoder.eh, size);
    return S_OK;
}

HRESULT method_composer::insert_at(uint32_t offset, const uint8_t* bytes, uint32_t count) {
    if (bytes == nullptr && count != 0) {
        scope_.trace(Error, L"No bytes given to insert");
        return E_POINTER;
    }
    HRESULT hr = check_code_shift(offset, count);
    if (FAILED(hr)) {
        return hr;
    }
    if (is_fat() && has_more_sections()) {
        hr = shift_seh_section(offset, count);
        if (FAILED(hr)) {
            scope_.trace(Error, L"Failed to move SEH section");
            return hr;
        }
    }
    hr = shift_code_section(offset, count);
    if (FAILED(hr)) {
        return hr;
    }
    if (count != 0) {
        std::memmove(code_section() + offset, bytes, count);
    }
    return S_OK;
}

HRESULT method_composer::set_body(const uint8_t* bytes, uint32_t length) {
    if (bytes == nullptr && length != 0) {
        scope_.trace(Error, L"No method body given");
        return E_POINTER;
    }
    const bool tiny = length >= 1 && (bytes[0] & 0x3) == CorILMethod_TinyFormat;
    const bool to_fat = tiny && capacity_ > 64;
    const uint64_t needed = uint64_t{length} + (to_fat ? fat_header_size - tiny_header_size : 0);
    if (needed > capacity_) {
        scope_.trace_f(Error, L"Method body of %llu bytes does not fit in the buffer of %u bytes",
                       static_cast<unsigned long long>(needed), capacity_);
        return E_INVALIDARG;
    }
    if (length == 0) {
        return S_OK;
    }
    std::memmove(body_, bytes, length);
    if (to_fat) {
        scope_.trace(Error, L"Transitioning from TINY to FAT method");
        const uint32_t code_size = length - tiny_header_size;
        std::memmove(body_ + fat_header_size, body_ + tiny_header_size, code_size);
        write_u32(body_, tiny_as_fat_first_word);
        write_u32(body_ + code_size_offset, code_size);
        write_u32(body_ + signature_token_offset, 0);
    }
    return S_OK;
}

HRESULT method_composer::add_try_catch_clause(uint32_t, uint32_t, uint32_t, uint32_t) { return S_OK; }

std::wstring method_composer::to_wstring() const {
    std::wstring text = L"(" + std::to_wstring(capacity_) + L" bytes)\n    " + array_to_hex_wstring(body_, capacity_) +
                        L"\n    ";
    if (!header_fits()) {
        text += L"Header does not fit in the buffer\n";
        return text;
    }
    const uint32_t code_size = code_section_size();
    text += L"Header type: ";
    il_method_fat_header header{};
    if (!is_fat()) {
        text += L"TINY (type: " + std::to_wstring(body_[0] & 0x3) + L", size: " + std::to_wstring(code_size) +
                L")\n    ";
    } else {
        std::memcpy(&header, body_, fat_header_size);
        const uint32_t flags = header.flags();
        text += L"FAT (code size: " + std::to_wstring(code_size) + L", flags: " + std::to_wstring(flags) + L" (";
        if ((flags & compressed_il_flag) != 0) {
            text += L"CorILMethod_CompressedIL | ";
        }
        if ((flags & CorILMethod_InitLocals) != 0) {
            text += L"CorILMethod_InitLocals | ";
        }
        if ((flags & CorILMethod_MoreSects) != 0) {
            text += L"CorILMethod_MoreSects | ";
        }
        text += L"), max stack: " + std::to_wstring(header.max_stack) +
                L", signature token: " + std::to_wstring(header.local_var_sig_token) + L")\n    ";
    }
    if (!code_fits()) {
        text += L"Code section (" + std::to_wstring(code_size) + L" bytes) does not fit in the buffer\n";
        return text;
    }
    text += L"Code section (" + std::to_wstring(code_size) + L" bytes): " +
            array_to_hex_wstring(code_section(), code_size) + L"\n";
    if (!is_fat()) {
        return text;
    }
    if (code_size % 4 != 0) {
        const uint32_t pad = 4 - code_size % 4;
        text += L"    Code section padded by " + std::to_wstring(pad) + L" bytes: ";
        for (uint32_t i = 0; i < pad; ++i) {
            text += byte_to_hex_wstring(0) + L",";
        }
        text += L"\n";
    }
    if ((header.flags() & CorILMethod_MoreSects) == 0) {
        return text;
    }
    il_method_decoder decoder;
    if (!decode(&decoder)) {
        text += L"    Sections could not be decoded\n";
        return text;
    }
    for_each_eh_section(decoder, body_, [&](const uint8_t* section) {
        const auto* eh = reinterpret_cast<const COR_ILMETHOD_SECT_EH*>(section);
        const uint32_t count = SectEH_ClauseCount(eh);
        for (uint32_t i = 0; i < count; ++i) {
            IMAGE_COR_ILMETHOD_SECT_EH_CLAUSE_FAT buffer;
            const IMAGE_COR_ILMETHOD_SECT_EH_CLAUSE_FAT* clause = SectEH_EHClause(eh, i, &buffer);
            text += L"    ";
            text += clause_label(clause->Flags);
            text += L"      .try   {@" + std::to_wstring(clause->TryOffset) + L" " +
                    std::to_wstring(clause->TryLength) + L" bytes}\n";
            text += L"      .catch {@" + std::to_wstring(clause->HandlerOffset) + L" " +
                    std::to_wstring(clause->HandlerLength) + L" bytes}\n";
        }
    });
    return text;
}
