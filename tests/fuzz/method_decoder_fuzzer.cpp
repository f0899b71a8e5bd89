// Decodes arbitrary bytes as a method body of the reported size with the bounded
// decoder, reads every clause it reports with SectEH_EHClause, and, for an accepted
// body, checks that the sizes agree and that its header and exception clauses survive
// being emitted again (IlmethodEmit, SectEH_Emit) and decoded back.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "il/exception_section.h"
#include "il/method_header.h"

namespace {

void check(bool condition) {
    if (!condition) {
        __builtin_trap();
    }
}

bool same_clause(const IMAGE_COR_ILMETHOD_SECT_EH_CLAUSE_FAT& a, const IMAGE_COR_ILMETHOD_SECT_EH_CLAUSE_FAT& b,
                 bool small) {
    const uint32_t flag_mask = small ? 0xFFFF : 0xFFFFFFFF;
    return (a.Flags & flag_mask) == (b.Flags & flag_mask) && a.TryOffset == b.TryOffset &&
           a.TryLength == b.TryLength && a.HandlerOffset == b.HandlerOffset && a.HandlerLength == b.HandlerLength &&
           a.ClassToken == b.ClassToken;
}

void check_header_round_trip(const il_method_decoder& decoder, bool more_sections) {
    const il_method_fat_header& values = decoder;
    const uint32_t size = IlmethodSize(&values, more_sections);
    uint8_t header[fat_header_size + 64] = {};
    check(IlmethodEmit(size, &values, more_sections, header) == size);
    il_method_fat_header decoded{};
    if (size == tiny_header_size) {
        check((header[0] & 0x3) == 0x2 && (header[0] >> 2) == decoder.code_size);
        return;
    }
    std::memcpy(&decoded, header, fat_header_size);
    check(decoded.header_size() == 3 && (decoded.flags() & 0x7) == 0x3);
    check(decoded.max_stack == decoder.max_stack && decoded.code_size == decoder.code_size &&
          decoded.local_var_sig_token == decoder.local_var_sig_token);
    check(((decoded.flags() & 0x8) != 0) == (more_sections || (decoder.flags() & 0x8) != 0));
}

void check_section_round_trip(const COR_ILMETHOD_SECT_EH* eh) {
    const uint32_t count = SectEH_ClauseCount(eh);
    std::vector<IMAGE_COR_ILMETHOD_SECT_EH_CLAUSE_FAT> clauses(count);
    for (uint32_t i = 0; i < count; ++i) {
        IMAGE_COR_ILMETHOD_SECT_EH_CLAUSE_FAT buffer;
        const IMAGE_COR_ILMETHOD_SECT_EH_CLAUSE_FAT* clause = SectEH_EHClause(eh, i, &buffer);
        check(clause != nullptr);
        clauses[i] = *clause;
    }
    IMAGE_COR_ILMETHOD_SECT_EH_CLAUSE_FAT unused;
    check(SectEH_EHClause(eh, count, &unused) == nullptr);

    const uint32_t size = SectEH_SizeExact(count, clauses.data());
    if (size == 0) {
        check(count == 0);
        return;
    }
    check(size <= SectEH_SizeWorst(count));
    std::vector<uint8_t> output(size);
    std::vector<uint32_t> token_offsets(count);
    check(SectEH_Emit(size, count, clauses.data(), false, output.data(), token_offsets.data()) == size);

    const auto* emitted = reinterpret_cast<const COR_ILMETHOD_SECT_EH*>(output.data());
    check(section_is_eh_table(output.data()) && !section_has_more(output.data()));
    check(section_walk_size(output.data()) == size && SectEH_ClauseCount(emitted) == count);
    const bool small = !section_is_fat(output.data());
    for (uint32_t i = 0; i < count; ++i) {
        IMAGE_COR_ILMETHOD_SECT_EH_CLAUSE_FAT buffer;
        check(same_clause(clauses[i], *SectEH_EHClause(emitted, i, &buffer), small));
        if (clauses[i].Flags == 0) {
            check(token_offsets[i] + 4 <= size);
            uint32_t token;
            std::memcpy(&token, output.data() + token_offsets[i], sizeof token);
            check(token == clauses[i].ClassToken);
        } else {
            check(token_offsets[i] == 0xFFFFFFFF);
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 0xFFFFFFFF) {
        return 0;
    }
    il_method_decoder decoder;
    if (!DecoderInit(&decoder, data, static_cast<uint32_t>(size))) {
        check(decoder.code == nullptr && decoder.code_size == 0);
        return 0;
    }
    check(decoder.code != nullptr && decoder.code + decoder.code_size <= data + size);
    const uint32_t on_disk = DecoderGetOnDiskSize(&decoder, data);
    check(on_disk <= size && on_disk >= static_cast<uint32_t>(decoder.code + decoder.code_size - data));
    check_header_round_trip(decoder, decoder.eh != nullptr);
    if (decoder.eh != nullptr) {
        check_section_round_trip(decoder.eh);
    }
    // Every exception section further down the chain is readable too.
    const uint8_t* section = decoder.sect;
    while (section != nullptr) {
        if (section_is_eh_table(section)) {
            check_section_round_trip(reinterpret_cast<const COR_ILMETHOD_SECT_EH*>(section));
        }
        section = section_has_more(section)
                      ? data + align_to_4(static_cast<uint64_t>(section - data) + section_walk_size(section))
                      : nullptr;
    }
    return 0;
}
