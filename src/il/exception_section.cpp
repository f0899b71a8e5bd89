#include "il/exception_section.h"

#include <cstring>

namespace {

const uint8_t* clauses_of(const COR_ILMETHOD_SECT_EH* section) {
    return reinterpret_cast<const uint8_t*>(section) + section_header_size;
}

bool fits_small_form(const IMAGE_COR_ILMETHOD_SECT_EH_CLAUSE_FAT& clause) {
    return clause.TryOffset <= 0xFFFF && clause.HandlerOffset <= 0xFFFF && clause.TryLength <= 0xFF &&
           clause.HandlerLength <= 0xFF;
}

void write_header(uint8_t* output, uint8_t kind, uint32_t data_size) {
    output[0] = kind;
    output[1] = static_cast<uint8_t>(data_size);
    output[2] = static_cast<uint8_t>(data_size >> 8);
    output[3] = static_cast<uint8_t>(data_size >> 16);
}

}  // namespace

uint8_t section_kind(const uint8_t* section) { return section[0] & CorILMethod_Sect_KindMask; }

bool section_is_fat(const uint8_t* section) { return (section[0] & CorILMethod_Sect_FatFormat) != 0; }

bool section_has_more(const uint8_t* section) { return (section[0] & CorILMethod_Sect_MoreSects) != 0; }

bool section_is_eh_table(const uint8_t* section) { return section_kind(section) == CorILMethod_Sect_EHTable; }

uint32_t section_stored_size(const uint8_t* section) {
    if (section_is_fat(section)) {
        return section[1] | (uint32_t{section[2]} << 8) | (uint32_t{section[3]} << 16);
    }
    return section[1];
}

uint32_t section_walk_size(const uint8_t* section) {
    const uint32_t stored = section_stored_size(section);
    if (!section_is_eh_table(section)) {
        return stored;
    }
    const uint32_t clause_size = section_is_fat(section) ? fat_clause_size : small_clause_size;
    return stored / clause_size * clause_size + section_header_size;
}

uint32_t SectEH_ClauseCount(const COR_ILMETHOD_SECT_EH* section) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(section);
    return section_stored_size(bytes) / (section_is_fat(bytes) ? fat_clause_size : small_clause_size);
}

const IMAGE_COR_ILMETHOD_SECT_EH_CLAUSE_FAT* SectEH_EHClause(const COR_ILMETHOD_SECT_EH* section, uint32_t index,
                                                             IMAGE_COR_ILMETHOD_SECT_EH_CLAUSE_FAT* buffer) {
    if (index >= SectEH_ClauseCount(section)) {
        return nullptr;
    }
    if (section_is_fat(reinterpret_cast<const uint8_t*>(section))) {
        return reinterpret_cast<const IMAGE_COR_ILMETHOD_SECT_EH_CLAUSE_FAT*>(clauses_of(section) +
                                                                             size_t{index} * fat_clause_size);
    }
    const auto* small = reinterpret_cast<const IMAGE_COR_ILMETHOD_SECT_EH_CLAUSE_SMALL*>(
        clauses_of(section) + size_t{index} * small_clause_size);
    buffer->Flags = small->Flags;
    buffer->TryOffset = small->TryOffset;
    buffer->TryLength = small->TryLength;
    buffer->HandlerOffset = small->HandlerOffset;
    buffer->HandlerLength = small->HandlerLength;
    buffer->ClassToken = small->ClassToken;
    return buffer;
}

uint32_t SectEH_SizeWithCode(uint32_t count, uint32_t /*code_size*/) { return SectEH_SizeWorst(count); }

uint32_t SectEH_SizeWorst(uint32_t count) { return count == 0 ? 0 : fat_clause_size * count + section_header_size; }

uint32_t SectEH_SizeExact(uint32_t count, const IMAGE_COR_ILMETHOD_SECT_EH_CLAUSE_FAT* clauses) {
    if (count == 0) {
        return 0;
    }
    const uint64_t small_size = uint64_t{small_clause_size} * count + section_header_size;
    bool small = small_size <= 0xFF;
    for (uint32_t i = 0; small && i < count; ++i) {
        small = fits_small_form(clauses[i]);
    }
    return small ? static_cast<uint32_t>(small_size) : SectEH_SizeWorst(count);
}

uint32_t SectEH_Emit(uint32_t size, uint32_t count, const IMAGE_COR_ILMETHOD_SECT_EH_CLAUSE_FAT* clauses,
                     bool more_sections, uint8_t* output, uint32_t* type_token_offsets) {
    if (size == 0 || count == 0) {
        return 0;
    }
    constexpr uint32_t no_type_token = 0xFFFFFFFF;
    if (type_token_offsets != nullptr) {
        for (uint32_t i = 0; i < count; ++i) {
            type_token_offsets[i] = no_type_token;
        }
    }

    const uint64_t small_size = uint64_t{small_clause_size} * count + section_header_size;
    if (small_size <= 0xFE) {
        bool small = true;
        for (uint32_t i = 0; small && i < count; ++i) {
            const IMAGE_COR_ILMETHOD_SECT_EH_CLAUSE_FAT& clause = clauses[i];
            if (!fits_small_form(clause)) {
                small = false;  // the fat form below overwrites what was written
                break;
            }
            IMAGE_COR_ILMETHOD_SECT_EH_CLAUSE_SMALL out{};
            out.Flags = static_cast<uint16_t>(clause.Flags);
            out.TryOffset = static_cast<uint16_t>(clause.TryOffset);
            out.TryLength = static_cast<uint8_t>(clause.TryLength);
            out.HandlerOffset = static_cast<uint16_t>(clause.HandlerOffset);
            out.HandlerLength = static_cast<uint8_t>(clause.HandlerLength);
            out.ClassToken = clause.ClassToken;
            const uint32_t at = section_header_size + small_clause_size * i;
            std::memcpy(output + at, &out, sizeof out);
            if (type_token_offsets != nullptr && clause.Flags == COR_ILEXCEPTION_CLAUSE_NONE) {
                type_token_offsets[i] = at + offsetof(IMAGE_COR_ILMETHOD_SECT_EH_CLAUSE_SMALL, ClassToken);
            }
        }
        if (small) {
            const uint8_t kind = CorILMethod_Sect_EHTable | (more_sections ? CorILMethod_Sect_MoreSects : 0);
            write_header(output, kind, static_cast<uint32_t>(small_size));
            output[2] = 0;  // small sections keep bytes 2-3 reserved
            output[3] = 0;
            return size;
        }
    }

    const uint8_t kind = CorILMethod_Sect_EHTable | CorILMethod_Sect_FatFormat |
                         (more_sections ? CorILMethod_Sect_MoreSects : 0);
    write_header(output, kind, SectEH_SizeWorst(count));
    for (uint32_t i = 0; i < count; ++i) {
        const uint32_t at = section_header_size + fat_clause_size * i;
        std::memcpy(output + at, &clauses[i], fat_clause_size);
        if (type_token_offsets != nullptr && clauses[i].Flags == COR_ILEXCEPTION_CLAUSE_NONE) {
            type_token_offsets[i] = at + offsetof(IMAGE_COR_ILMETHOD_SECT_EH_CLAUSE_FAT, ClassToken);
        }
    }
    return size;
}
