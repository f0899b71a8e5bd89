// Runs method_composer edits on arbitrary bodies inside an exact-size buffer with
// room to spare, so that the sanitizers see any access outside it.
//
// Input: 8 control bytes, then the body.
//   [0] low nibble: first edit, high nibble: second edit (see apply)
//   [1..2] code offset (little-endian), [3] byte count, [4] spare room in the buffer
//   [5..7] unused
// After a successful insertion into a body that decoded whole (header of 3 units, only
// exception sections behind the code), the body must still decode, with the code
// grown by the count, the inserted bytes in place and as many clauses as before.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "il/method_composer.h"

namespace {

void check(bool condition) {
    if (!condition) {
        __builtin_trap();
    }
}

struct body_facts {
    bool decodes = false;
    bool only_eh_sections = true;
    uint32_t code_size = 0;
    uint32_t clause_count = 0;
};

body_facts facts_of(const std::vector<uint8_t>& buffer) {
    body_facts facts;
    il_method_decoder decoder;
    facts.decodes = DecoderInit(&decoder, buffer.data(), static_cast<uint32_t>(buffer.size()));
    if (!facts.decodes) {
        return facts;
    }
    facts.decodes = (buffer[0] & 0x3) == 0x2 || decoder.header_size() == 3;
    facts.code_size = decoder.code_size;
    const uint8_t* section = decoder.eh != nullptr ? reinterpret_cast<const uint8_t*>(decoder.eh) : decoder.sect;
    while (section != nullptr) {
        if (section_is_eh_table(section)) {
            facts.clause_count += SectEH_ClauseCount(reinterpret_cast<const COR_ILMETHOD_SECT_EH*>(section));
        } else {
            facts.only_eh_sections = false;
        }
        section = section_has_more(section)
                      ? buffer.data() + align_to_4(static_cast<uint64_t>(section - buffer.data()) +
                                                   section_walk_size(section))
                      : nullptr;
    }
    return facts;
}

void apply(uint8_t edit, method_composer& composer, std::vector<uint8_t>& buffer, uint32_t offset, uint32_t count,
           const uint8_t* body, uint32_t body_size) {
    static const std::vector<uint8_t> insertion = [] {
        std::vector<uint8_t> bytes(256);
        for (size_t i = 0; i < bytes.size(); ++i) {
            bytes[i] = static_cast<uint8_t>(0xC0 ^ i);
        }
        return bytes;
    }();
    switch (edit % 8) {
    case 0: {
        const body_facts before = facts_of(buffer);
        if (SUCCEEDED(composer.insert_at(offset, insertion.data(), count)) && before.decodes &&
            before.only_eh_sections) {
            const body_facts after = facts_of(buffer);
            check(after.decodes && after.code_size == before.code_size + count);
            check(after.clause_count == before.clause_count);
            check(std::memcmp(composer.code_section() + offset, insertion.data(), count) == 0);
        }
        break;
    }
    case 1:
        composer.shift_seh_section(offset, count);
        break;
    case 2:
        composer.set_body(body, body_size);
        break;
    case 3:
        composer.update_seh_section(offset, count);
        break;
    case 4:
        composer.shift_code_section(offset, count);
        break;
    case 5:
        composer.align_code_section(0);
        composer.increment_code_size(count);
        break;
    case 6:
        composer.set_signature_token(offset);
        check(!composer.is_fat() || buffer.size() < 12 || composer.get_signature_token() == offset);
        break;
    default:
        composer.has_more_sections();
        composer.seh_section_size();
        composer.code_section_size();
        break;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    constexpr size_t control_size = 8;
    if (size < control_size || size > 0x10000) {
        return 0;
    }
    const uint8_t edits = data[0];
    const uint32_t offset = data[1] | (uint32_t{data[2]} << 8);
    const uint32_t count = data[3];
    const uint32_t spare = data[4];
    const uint8_t* body = data + control_size;
    const auto body_size = static_cast<uint32_t>(size - control_size);

    std::vector<uint8_t> buffer(body_size + spare, 0xCD);
    if (!buffer.empty()) {
        std::memcpy(buffer.data(), body, body_size);
    }
    method_composer composer(L"Fuzz", L"Body", L"Edit", buffer.data(), static_cast<uint32_t>(buffer.size()));
    apply(edits & 0x0F, composer, buffer, offset, count, body, body_size);
    apply(edits >> 4, composer, buffer, offset, count, body, body_size);
    const std::wstring text = composer.to_wstring();
    check(!text.empty());
    return 0;
}
