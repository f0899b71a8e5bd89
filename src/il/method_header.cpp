#include "il/method_header.h"

#include <cstring>

namespace {

// The tiny format is told by the low two bits; the fat format by the low three, so
// a byte ending in binary 111 is neither.
bool is_tiny(uint8_t first) { return (first & 0x3) == CorILMethod_TinyFormat; }

bool is_fat(uint8_t first) { return (first & 0x7) == CorILMethod_FatFormat; }

// Checks the chain of sections starting at `offset` against the body size. Every
// step moves at least the 4-byte header forward, so the walk ends.
bool sections_fit(const uint8_t* header, uint64_t offset, uint32_t body_size) {
    for (;;) {
        if (offset + section_header_size > body_size) {
            return false;
        }
        const uint8_t* section = header + offset;
        const uint32_t size = section_walk_size(section);
        if (size < section_header_size || offset + size > body_size) {
            return false;
        }
        if (!section_has_more(section)) {
            return true;
        }
        offset = align_to_4(offset + size);
    }
}

}  // namespace

void DecoderInit(il_method_decoder* decoder, const uint8_t* header) {
    *decoder = il_method_decoder{};
    const uint8_t first = header[0];
    if (is_tiny(first)) {
        decoder->flags_and_size = CorILMethod_TinyFormat;
        decoder->max_stack = tiny_max_stack;
        decoder->code = header + tiny_header_size;
        decoder->code_size = first >> 2;
        return;
    }
    if (!is_fat(first)) {
        return;
    }
    std::memcpy(static_cast<il_method_fat_header*>(decoder), header, fat_header_size);
    decoder->code = header + 4 * decoder->header_size();
    if (decoder->header_size() < 3 || (decoder->flags() & CorILMethod_MoreSects) == 0) {
        return;
    }
    const uint8_t* first_section = header + align_to_4((decoder->code - header) + uint64_t{decoder->code_size});
    if (!section_is_eh_table(first_section)) {
        decoder->sect = first_section;
        return;
    }
    decoder->eh = reinterpret_cast<const COR_ILMETHOD_SECT_EH*>(first_section);
    if (section_has_more(first_section)) {
        decoder->sect = header + align_to_4((first_section - header) + uint64_t{section_walk_size(first_section)});
    }
}

bool DecoderInit(il_method_decoder* decoder, const uint8_t* header, uint32_t body_size) {
    *decoder = il_method_decoder{};
    if (header == nullptr || body_size == 0) {
        return false;
    }
    const uint8_t first = header[0];
    if (is_tiny(first)) {
        if (tiny_header_size + (first >> 2) > body_size) {
            return false;
        }
    } else if (is_fat(first)) {
        if (body_size < fat_header_size) {
            return false;
        }
        il_method_fat_header fat;
        std::memcpy(&fat, header, fat_header_size);
        const uint64_t code_end = 4 * uint64_t{fat.header_size()} + fat.code_size;
        if (fat.header_size() < 3 || code_end > body_size) {
            return false;
        }
        if ((fat.flags() & CorILMethod_MoreSects) != 0 && !sections_fit(header, align_to_4(code_end), body_size)) {
            return false;
        }
    } else {
        return false;
    }
    DecoderInit(decoder, header);
    return true;
}

uint32_t DecoderGetOnDiskSize(const il_method_decoder* decoder, const uint8_t* header) {
    if (decoder->code == nullptr) {
        return 0;
    }
    const uint8_t* end = decoder->code + decoder->code_size;
    if (decoder->eh != nullptr && decoder->sect == nullptr) {
        const auto* eh = reinterpret_cast<const uint8_t*>(decoder->eh);
        end = eh + section_walk_size(eh);
    } else if (decoder->sect != nullptr) {
        const uint8_t* section = decoder->sect;
        // A section shorter than its own header cannot be stepped over; the walk
        // stops there instead of looping on it.
        while (section_has_more(section) && section_walk_size(section) >= section_header_size) {
            section = header + align_to_4((section - header) + uint64_t{section_walk_size(section)});
        }
        end = section + section_walk_size(section);
    }
    return static_cast<uint32_t>(end - header);
}

uint32_t IlmethodSize(const il_method_fat_header* header, bool more_sections) {
    const bool tiny = header->max_stack <= tiny_max_stack && header->flags() <= 7 &&
                      header->local_var_sig_token == 0 && !more_sections &&
                      header->code_size <= tiny_max_code_size;
    return tiny ? tiny_header_size : fat_header_size;
}

uint32_t IlmethodEmit(uint32_t size, const il_method_fat_header* header, bool more_sections, uint8_t* output) {
    if (size == tiny_header_size) {
        output[0] = static_cast<uint8_t>(header->code_size * 4 + CorILMethod_TinyFormat);
        return size;
    }
    std::memcpy(output, header, fat_header_size);
    output[0] |= CorILMethod_FatFormat;
    if (more_sections) {
        output[0] |= CorILMethod_MoreSects;
    }
    output[1] = static_cast<uint8_t>((output[1] & 0x0F) | (3 << 4));
    return size;
}
