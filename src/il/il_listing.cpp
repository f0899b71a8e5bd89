#include "il/il_listing.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <unordered_map>

namespace {

// Offsets of every node of the list as it stands; the list head maps to the size.
std::unordered_map<const ILInstr*, uint32_t> layout(ILRewriter& rewriter) {
    std::unordered_map<const ILInstr*, uint32_t> offsets;
    uint32_t offset = 0;
    const ILInstr* head = rewriter.GetILList();
    for (const ILInstr* node = head->next; node != head; node = node->next) {
        offsets[node] = offset;
        const uint8_t flags = node->opcode < op::count ? s_OpCodeFlags[node->opcode] : 0;
        offset += opcode_byte_count(node->opcode) + ((flags & opcode_flag_switch) ? 4 : flags & opcode_flag_size_mask);
    }
    offsets[head] = offset;
    return offsets;
}

std::string label(const std::unordered_map<const ILInstr*, uint32_t>& offsets, const ILInstr* node) {
    const auto found = offsets.find(node);
    if (found == offsets.end()) return "IL_????";
    char text[16];
    std::snprintf(text, sizeof text, "IL_%04" PRIX32, found->second);
    return text;
}

std::string operand_text(const ILInstr& node) {
    char text[40];
    switch (opcode_operand(node.opcode)) {
        case il_operand::ShortInlineI:
            if (node.opcode == op::ldc_i4_s) {
                std::snprintf(text, sizeof text, " %d", int{static_cast<int8_t>(node.imm8)});
                break;
            }
            [[fallthrough]];
        case il_operand::ShortInlineVar:
            std::snprintf(text, sizeof text, " %u", unsigned{node.imm8});
            break;
        case il_operand::InlineVar:
            std::snprintf(text, sizeof text, " %u", unsigned{node.imm16});
            break;
        case il_operand::InlineI:
            std::snprintf(text, sizeof text, " %" PRId32, static_cast<int32_t>(node.imm32));
            break;
        case il_operand::InlineI8:
            std::snprintf(text, sizeof text, " %" PRId64, static_cast<int64_t>(node.imm64));
            break;
        case il_operand::ShortInlineR: {
            float value;
            std::memcpy(&value, &node.imm32, sizeof value);
            std::snprintf(text, sizeof text, " %g", static_cast<double>(value));
            break;
        }
        case il_operand::InlineR: {
            double value;
            std::memcpy(&value, &node.imm64, sizeof value);
            std::snprintf(text, sizeof text, " %g", value);
            break;
        }
        case il_operand::InlineMethod:
        case il_operand::InlineField:
        case il_operand::InlineType:
        case il_operand::InlineTok:
        case il_operand::InlineString:
        case il_operand::InlineSig:
            std::snprintf(text, sizeof text, " 0x%08" PRIX32, node.imm32);
            break;
        default:
            text[0] = '\0';
            break;
    }
    return text;
}

}  // namespace

std::string il_listing(ILRewriter& rewriter) {
    const auto offsets = layout(rewriter);
    std::string out;
    const ILInstr* head = rewriter.GetILList();
    for (const ILInstr* node = head->next; node != head; node = node->next) {
        if (node->opcode == op::switch_target) continue;  // listed with its switch
        if (!out.empty()) out += '\n';
        out += label(offsets, node) + ": ";
        const char* name = opcode_name(node->opcode);
        if (name == nullptr) {
            char unknown[24];
            std::snprintf(unknown, sizeof unknown, "(opcode %" PRIu32 ")", node->opcode);
            out += unknown;
            continue;
        }
        out += name;
        if (node->opcode == op::switch_) {
            out += " (";
            const ILInstr* target = node->next;
            for (uint32_t i = 0; i < node->imm32 && target != head && target->opcode == op::switch_target; ++i) {
                out += (i == 0 ? "" : ", ") + label(offsets, target->target);
                target = target->next;
            }
            out += ")";
        } else if (s_OpCodeFlags[node->opcode] & opcode_flag_branch) {
            out += " " + label(offsets, node->target);
        } else {
            out += operand_text(*node);
        }
    }
    return out;
}

std::string eh_listing(ILRewriter& rewriter) {
    const auto offsets = layout(rewriter);
    std::string out;
    for (const EHClause& clause : rewriter.m_ehClauses) {
        if (!out.empty()) out += '\n';
        char kind[40];
        switch (clause.flags) {
            case COR_ILEXCEPTION_CLAUSE_NONE:
                std::snprintf(kind, sizeof kind, "catch 0x%08" PRIX32, clause.class_token);
                break;
            case COR_ILEXCEPTION_CLAUSE_FILTER:
                std::snprintf(kind, sizeof kind, "filter %s", label(offsets, clause.filter).c_str());
                break;
            case COR_ILEXCEPTION_CLAUSE_FINALLY:
                std::snprintf(kind, sizeof kind, "finally");
                break;
            case COR_ILEXCEPTION_CLAUSE_FAULT:
                std::snprintf(kind, sizeof kind, "fault");
                break;
            default:
                std::snprintf(kind, sizeof kind, "flags 0x%" PRIX32, clause.flags);
                break;
        }
        out += std::string(kind) + " try " + label(offsets, clause.try_begin) + "-" + label(offsets, clause.try_end) +
               " handler " + label(offsets, clause.handler_begin) + "-" +
               label(offsets, clause.handler_end != nullptr ? clause.handler_end->next : nullptr);
    }
    return out;
}
