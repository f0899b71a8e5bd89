#include "il/il_rewriter.h"

#include <cstring>
#include <memory>
#include <new>

#include "il/exception_section.h"
#include "il/method_header.h"

namespace {

uint32_t read_u32(const uint8_t* p) {
    uint32_t value;
    std::memcpy(&value, p, sizeof value);
    return value;
}

void write_u32(uint8_t* p, uint32_t value) { std::memcpy(p, &value, sizeof value); }

bool is_filter(uint32_t flags) { return flags == COR_ILEXCEPTION_CLAUSE_FILTER; }

// Largest bytes one node can take in the code: a two-byte opcode with an 8-byte
// operand, a short branch counted in its long form, a switch with its count.
uint32_t worst_case_size(uint32_t opcode) {
    const uint8_t flags = s_OpCodeFlags[opcode];
    uint32_t operand = flags & opcode_flag_size_mask;
    if (flags & opcode_flag_branch) operand = 4;
    if (flags & opcode_flag_switch) operand = 4;
    return opcode_byte_count(opcode) + operand;
}

}  // namespace

ILRewriter::ILRewriter(ICorProfilerInfo* profiler_info, ICorProfilerFunctionControl* function_control,
                       ModuleID module_id, mdMethodDef method_token)
    : m_pProfilerInfo(profiler_info),
      m_pFunctionControl(function_control),
      m_moduleId(module_id),
      m_methodToken(method_token) {
    m_instructions.next = &m_instructions;
    m_instructions.prev = &m_instructions;
    m_instructions.opcode = op::list_head;
}

IMetaDataImport* ILRewriter::adopt_corlib_metadata_import(com_ptr<IMetaDataImport> import) {
    IMetaDataImport* expected = nullptr;
    IMetaDataImport* offered = import.get();
    if (offered != nullptr && m_pCorLibMetaDataImport.compare_exchange_strong(expected, offered)) {
        (void)import.detach();  // the process-wide slot owns this reference now
        return offered;
    }
    return expected;
}

ILInstr* ILRewriter::CreateInstr() {
    ILInstr* node = &m_nodes.emplace_back();
    ++m_instrCount;
    return node;
}

void ILRewriter::InsertBefore(ILInstr* where, ILInstr* node) {
    node->next = where;
    node->prev = where->prev;
    where->prev->next = node;
    where->prev = node;
}

void ILRewriter::InsertAfter(ILInstr* where, ILInstr* node) {
    node->next = where->next;
    node->prev = where;
    where->next->prev = node;
    where->next = node;
}

ILInstr* ILRewriter::Emit(uint32_t opcode, uint64_t operand) {
    ILInstr* node = CreateInstr();
    node->opcode = opcode;
    node->imm64 = operand;
    InsertAfter(m_insertAfter != nullptr ? m_insertAfter : &m_instructions, node);
    m_insertAfter = node;
    return node;
}

ILInstr* ILRewriter::EmitBranch(uint32_t opcode, ILInstr* target) {
    ILInstr* node = Emit(opcode);
    node->target = target;
    return node;
}

void ILRewriter::AddEHClause(const EHClause& clause) {
    m_ehClauses.push_back(clause);
    m_ehCount = static_cast<uint32_t>(m_ehClauses.size());
}

HRESULT ILRewriter::Import() {
    if (m_instructions.next != &m_instructions || !m_offsetToInstr.empty()) {
        return E_UNEXPECTED;  // one import per rewriter
    }
    m_importFailed = true;  // until the whole body has been accepted
    LPCBYTE body = nullptr;
    ULONG body_size = 0;
    HRESULT hr = m_pProfilerInfo->GetILFunctionBody(m_moduleId, m_methodToken, &body, &body_size);
    if (FAILED(hr)) {
        return hr;
    }
    try {
        il_method_decoder decoder;
        if (!DecoderInit(&decoder, body, body_size)) {
            return COR_E_INVALIDPROGRAM;
        }
        m_localVarSigToken = decoder.local_var_sig_token;
        m_maxStack = decoder.max_stack;
        m_flags = decoder.flags() & CorILMethod_InitLocals;
        m_codeSize = decoder.code_size;
        hr = ImportIL(decoder.code);
        if (FAILED(hr)) {
            return hr;
        }
        hr = ImportEH(decoder.eh, decoder.eh != nullptr ? SectEH_ClauseCount(decoder.eh) : 0);
        if (FAILED(hr)) {
            return hr;
        }
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    m_importFailed = false;
    return S_OK;
}

HRESULT ILRewriter::ImportIL(const uint8_t* code) {
    m_offsetToInstr.assign(uint64_t{m_codeSize} + 1, nullptr);
    m_offsetToInstr[m_codeSize] = &m_instructions;
    m_instructions.opcode = op::list_head;

    const uint32_t end = m_codeSize;
    uint64_t max_stack = m_maxStack;
    bool has_branch = false;
    uint32_t position = 0;
    while (position < end) {
        const uint32_t start = position;
        uint32_t opcode = code[position++];
        if (opcode == op::two_byte_prefix) {
            if (position == end) {
                return COR_E_INVALIDPROGRAM;
            }
            opcode = 0x100 + code[position++];
        }
        // An undefined opcode has no known length: what follows cannot be decoded.
        if (!opcode_is_defined(opcode)) {
            return COR_E_INVALIDPROGRAM;
        }
        const uint8_t flags = s_OpCodeFlags[opcode];
        const uint32_t operand_size = flags & opcode_flag_size_mask;
        if (end - position < operand_size) {
            return COR_E_INVALIDPROGRAM;
        }

        ILInstr* node = CreateInstr();
        node->opcode = opcode;
        node->offset = start;
        InsertBefore(&m_instructions, node);
        m_offsetToInstr[start] = node;
        max_stack += k_rgnStackPushes[opcode];

        if (flags & opcode_flag_switch) {
            if (end - position < 4) {
                return COR_E_INVALIDPROGRAM;
            }
            const uint32_t count = read_u32(code + position);
            position += 4;
            if ((end - position) / 4 < count) {
                return COR_E_INVALIDPROGRAM;
            }
            node->imm32 = count;
            // Case displacements are relative to the end of the whole case table.
            const int64_t base = int64_t{position} + 4 * int64_t{count};
            for (uint32_t i = 0; i < count; ++i) {
                const int64_t target = base + static_cast<int32_t>(read_u32(code + position));
                if (target < 0 || target > end) {
                    return COR_E_INVALIDPROGRAM;
                }
                ILInstr* case_node = CreateInstr();
                case_node->opcode = op::switch_target;
                case_node->offset = position;
                case_node->imm64 = static_cast<uint64_t>(target);
                InsertBefore(&m_instructions, case_node);
                position += 4;
            }
            has_branch = has_branch || count > 0;
            continue;
        }
        if (flags & opcode_flag_branch) {
            const int32_t displacement = operand_size == 1 ? static_cast<int8_t>(code[position])
                                                           : static_cast<int32_t>(read_u32(code + position));
            position += operand_size;
            const int64_t target = int64_t{position} + displacement;
            if (target < 0 || target > end) {
                return COR_E_INVALIDPROGRAM;
            }
            node->imm64 = static_cast<uint64_t>(target);
            has_branch = true;
            continue;
        }
        std::memcpy(&node->imm64, code + position, operand_size);
        position += operand_size;
    }
    m_maxStack = max_stack > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(max_stack);

    if (has_branch) {
        // Bind every target offset to the node starting there; an offset inside an
        // instruction has no node, and the body is not well formed.
        for (ILInstr* node = m_instructions.next; node != &m_instructions; node = node->next) {
            if (s_OpCodeFlags[node->opcode] & opcode_flag_branch) {
                ILInstr* target = m_offsetToInstr[node->imm64];
                if (target == nullptr) {
                    return COR_E_INVALIDPROGRAM;
                }
                node->target = target;
            }
        }
    }
    return S_OK;
}

HRESULT ILRewriter::ImportEH(const COR_ILMETHOD_SECT_EH* section, uint32_t count) {
    m_ehClauses.resize(count);
    m_ehCount = count;
    // The node starting at `offset`, or null when none does. `allow_end` admits the
    // end of the code (the list head) for the exclusive ends of blocks.
    auto node_at = [this](uint64_t offset, bool allow_end) -> ILInstr* {
        if (offset > m_codeSize || (offset == m_codeSize && !allow_end)) {
            return nullptr;
        }
        return m_offsetToInstr[offset];
    };
    for (uint32_t i = 0; i < count; ++i) {
        IMAGE_COR_ILMETHOD_SECT_EH_CLAUSE_FAT buffer;
        const IMAGE_COR_ILMETHOD_SECT_EH_CLAUSE_FAT* stored = SectEH_EHClause(section, i, &buffer);
        if (stored == nullptr) {
            return COR_E_INVALIDPROGRAM;
        }
        IMAGE_COR_ILMETHOD_SECT_EH_CLAUSE_FAT clause;
        std::memcpy(&clause, stored, sizeof clause);
        // Empty blocks are refused: a handler of no instructions has no last node.
        if (clause.TryLength == 0 || clause.HandlerLength == 0) {
            return COR_E_INVALIDPROGRAM;
        }
        EHClause& bound = m_ehClauses[i];
        bound.flags = clause.Flags;
        bound.try_begin = node_at(clause.TryOffset, false);
        bound.try_end = node_at(uint64_t{clause.TryOffset} + clause.TryLength, true);
        bound.handler_begin = node_at(clause.HandlerOffset, false);
        ILInstr* after_handler = node_at(uint64_t{clause.HandlerOffset} + clause.HandlerLength, true);
        bound.handler_end = after_handler != nullptr ? after_handler->prev : nullptr;
        if (is_filter(clause.Flags)) {
            bound.filter = node_at(clause.FilterOffset, false);
            if (bound.filter == nullptr) {
                return COR_E_INVALIDPROGRAM;
            }
        } else {
            bound.class_token = clause.ClassToken;
        }
        if (bound.try_begin == nullptr || bound.try_end == nullptr || bound.handler_begin == nullptr ||
            bound.handler_end == nullptr) {
            return COR_E_INVALIDPROGRAM;
        }
    }
    return S_OK;
}

HRESULT ILRewriter::EncodeCode(uint32_t* code_size) {
    uint64_t worst = 0;
    for (const ILInstr* node = m_instructions.next; node != &m_instructions; node = node->next) {
        if (node->opcode >= op::count || (node->opcode < op::real_count && !opcode_is_defined(node->opcode))) {
            return COR_E_INVALIDPROGRAM;
        }
        worst += worst_case_size(node->opcode);
    }
    if (worst > UINT32_MAX / 2) {
        return E_FAIL;
    }
    m_outputBuffer.resize(worst);
    uint8_t* out = m_outputBuffer.data();

    for (;;) {
        // Encode pass: opcodes and plain operands; displacements are reserved.
        uint32_t offset = 0;
        bool has_branch = false;
        uint32_t cases_left = 0;  // switch targets still expected after a switch
        for (ILInstr* node = m_instructions.next; node != &m_instructions; node = node->next) {
            node->offset = offset;
            const uint32_t opcode = node->opcode;
            const uint8_t flags = s_OpCodeFlags[opcode];
            if ((opcode == op::switch_target) != (cases_left > 0)) {
                return COR_E_INVALIDPROGRAM;  // a switch must be followed by exactly its cases
            }
            if (opcode < op::real_count) {
                if (opcode >= 0x100) out[offset++] = op::two_byte_prefix;
                out[offset++] = static_cast<uint8_t>(opcode);
            }
            if (flags & opcode_flag_switch) {
                write_u32(out + offset, node->imm32);
                offset += 4;
                cases_left = node->imm32;
                has_branch = true;
            } else if (flags & opcode_flag_branch) {
                if (node->target == nullptr) {
                    return COR_E_INVALIDPROGRAM;
                }
                if (opcode == op::switch_target) --cases_left;
                offset += flags & opcode_flag_size_mask;
                has_branch = true;
            } else {
                const uint32_t size = flags & opcode_flag_size_mask;
                std::memcpy(out + offset, &node->imm64, size);
                offset += size;
            }
        }
        if (cases_left != 0) {
            return COR_E_INVALIDPROGRAM;
        }
        m_instructions.offset = offset;
        *code_size = offset;
        if (!has_branch) {
            return S_OK;
        }

        // Fix-up pass: displacements, relative to the next instruction, or for switch
        // cases to the end of the case table.
        bool widened = false;
        uint32_t switch_base = 0;
        for (ILInstr* node = m_instructions.next; node != &m_instructions; node = node->next) {
            const uint8_t flags = s_OpCodeFlags[node->opcode];
            if (flags & opcode_flag_switch) {
                switch_base = node->offset + 5 + 4 * node->imm32;
            } else if (node->opcode == op::switch_target) {
                write_u32(out + node->offset, node->target->offset - switch_base);
            } else if (flags & opcode_flag_branch) {
                const uint32_t next = node->next->offset;
                const int64_t displacement = int64_t{node->target->offset} - next;
                if ((flags & opcode_flag_size_mask) == 4) {
                    write_u32(out + next - 4, static_cast<uint32_t>(displacement));
                } else if (displacement >= INT8_MIN && displacement <= INT8_MAX) {
                    out[next - 1] = static_cast<uint8_t>(displacement);
                } else {
                    node->opcode = long_branch_form(node->opcode);
                    widened = true;
                }
            }
        }
        if (!widened) {
            return S_OK;
        }
    }
}

HRESULT ILRewriter::Export() {
    if (m_importFailed) {
        return COR_E_INVALIDPROGRAM;
    }
    try {
        uint32_t code_size = 0;
        HRESULT hr = EncodeCode(&code_size);
        if (FAILED(hr)) {
            return hr;
        }
        for (const EHClause& clause : m_ehClauses) {
            if (clause.try_begin == nullptr || clause.try_end == nullptr || clause.handler_begin == nullptr ||
                clause.handler_end == nullptr || (is_filter(clause.flags) && clause.filter == nullptr) ||
                clause.try_end->offset < clause.try_begin->offset ||
                clause.handler_end->next->offset < clause.handler_begin->offset) {
                return COR_E_INVALIDPROGRAM;
            }
        }

        const uint32_t clause_count = static_cast<uint32_t>(m_ehClauses.size());
        const uint64_t eh_size = clause_count == 0 ? 0 : uint64_t{fat_clause_size} * clause_count + section_header_size;
        uint64_t total_size;
        if (m_tinyHeader) {
            // A tiny header holds no locals and no sections; dropping them would
            // change the method.
            if (code_size > tiny_max_code_size || clause_count != 0 || m_localVarSigToken != 0) {
                return E_FAIL;
            }
            total_size = tiny_header_size + code_size;
        } else {
            if (eh_size > 0xFFFFFF) {
                return E_FAIL;  // more clauses than a fat section's 24-bit size can describe
            }
            total_size = fat_header_size + align_to_4(code_size) + eh_size;
        }
        if (total_size > UINT32_MAX) {
            return E_FAIL;
        }

        std::unique_ptr<uint8_t[]> heap_body;
        uint8_t* body = nullptr;
        if (m_pFunctionControl != nullptr) {
            heap_body.reset(new (std::nothrow) uint8_t[total_size]);
            body = heap_body.get();
        } else {
            if (FAILED(m_pProfilerInfo->GetILFunctionBodyAllocator(m_moduleId, m_pMethodMalloc.put())) ||
                !m_pMethodMalloc) {
                return E_OUTOFMEMORY;
            }
            body = static_cast<uint8_t*>(m_pMethodMalloc->Alloc(static_cast<ULONG>(total_size)));
        }
        if (body == nullptr) {
            return E_OUTOFMEMORY;
        }
        std::memset(body, 0, total_size);

        uint8_t* code = body;
        if (m_tinyHeader) {
            body[0] = static_cast<uint8_t>(code_size * 4 + CorILMethod_TinyFormat);
            code = body + tiny_header_size;
        } else {
            uint16_t flags = 0x3000 | CorILMethod_FatFormat | (m_flags & 0xFFC);
            if (clause_count != 0) flags |= CorILMethod_MoreSects;
            if (m_maxStack < 6) m_maxStack = 6;
            const il_method_fat_header header{flags, static_cast<uint16_t>(m_maxStack > 0xFFFF ? 0xFFFF : m_maxStack),
                                              code_size, m_localVarSigToken};
            std::memcpy(body, &header, fat_header_size);
            code = body + fat_header_size;
        }
        if (code_size != 0) {  // an empty list has no buffer to copy from
            std::memcpy(code, m_outputBuffer.data(), code_size);
        }

        if (clause_count != 0) {
            uint8_t* section = body + fat_header_size + align_to_4(code_size);
            write_u32(section, CorILMethod_Sect_EHTable | CorILMethod_Sect_FatFormat |
                                   (static_cast<uint32_t>(eh_size) << 8));
            uint8_t* out = section + section_header_size;
            for (const EHClause& clause : m_ehClauses) {
                const IMAGE_COR_ILMETHOD_SECT_EH_CLAUSE_FAT fat{
                    clause.flags,
                    clause.try_begin->offset,
                    clause.try_end->offset - clause.try_begin->offset,
                    clause.handler_begin->offset,
                    clause.handler_end->next->offset - clause.handler_begin->offset,
                    {is_filter(clause.flags) ? clause.filter->offset : clause.class_token}};
                std::memcpy(out, &fat, fat_clause_size);
                out += fat_clause_size;
            }
        }

        // Allocator memory belongs to the runtime from here on; the heap copy is the
        // function control's to copy and is freed on return.
        hr = m_pFunctionControl != nullptr
                 ? m_pFunctionControl->SetILFunctionBody(static_cast<ULONG>(total_size), body)
                 : m_pProfilerInfo->SetILFunctionBody(m_moduleId, m_methodToken, body);
        return FAILED(hr) ? hr : S_OK;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}
