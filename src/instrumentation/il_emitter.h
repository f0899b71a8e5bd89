// Writes a run of instructions into a rewriter's list at a cursor, one call per
// instruction, so that an emitter reads like the IL it produces:
//
//     il_emitter il(rewriter, after);
//     ILInstr* done = il.label();
//     il(op::ldc_i4, id);
//     il.branch(op::brtrue_s, done);
//     ...
//     il.place(done);
//
// Labels are nodes created ahead of their place so that branches can point forward.
// The variable-index helpers pick the one-byte form while the index fits and the
// two-byte form beyond (ECMA-335 III.3.38, 3.43, 3.61, 3.63), so large methods need
// no special case. Header only; one emitter per thread, like its rewriter.
#pragma once

#include <cstdint>

#include "il/il_rewriter.h"
#include "il/opcodes.h"

class il_emitter {
public:
    // New instructions go after `after` (the list head for the very beginning).
    il_emitter(ILRewriter& rewriter, ILInstr* after) : rewriter_(rewriter) { rewriter_.m_insertAfter = after; }

    ILInstr* operator()(uint32_t opcode, uint64_t operand = 0) { return rewriter_.Emit(opcode, operand); }
    ILInstr* branch(uint32_t opcode, ILInstr* target) { return rewriter_.EmitBranch(opcode, target); }

    // An instruction created now and linked by place(); a branch may target it before.
    ILInstr* label(uint32_t opcode = op::nop, uint64_t operand = 0) {
        ILInstr* node = rewriter_.CreateInstr();
        node->opcode = opcode;
        node->imm64 = operand;
        return node;
    }
    ILInstr* place(ILInstr* label) {
        rewriter_.InsertAfter(cursor(), label);
        rewriter_.m_insertAfter = label;
        return label;
    }
    ILInstr* cursor() const { return rewriter_.m_insertAfter; }

    ILInstr* ldarg(uint32_t index) {
        return index <= UINT8_MAX ? (*this)(op::ldarg_s, index) : (*this)(op::ldarg, index);
    }
    ILInstr* starg(uint32_t index) {
        return index <= UINT8_MAX ? (*this)(op::starg_s, index) : (*this)(op::starg, index);
    }
    ILInstr* ldloc(uint32_t index) {
        return index <= UINT8_MAX ? (*this)(op::ldloc_s, index) : (*this)(op::ldloc, index);
    }
    ILInstr* stloc(uint32_t index) {
        return index <= UINT8_MAX ? (*this)(op::stloc_s, index) : (*this)(op::stloc, index);
    }
    // ldc.i4.s while the value fits a signed byte, ldc.i4 beyond.
    ILInstr* ldc_i4_s(int32_t value) {
        return value >= INT8_MIN && value <= INT8_MAX ? (*this)(op::ldc_i4_s, static_cast<uint8_t>(value))
                                                      : (*this)(op::ldc_i4, static_cast<uint32_t>(value));
    }

    // Turns an existing node (a ret, a label) into stloc or ldloc of `index`, in the
    // form the index needs.
    static void make_stloc(ILInstr* node, uint32_t index) {
        node->opcode = index <= UINT8_MAX ? op::stloc_s : op::stloc;
        node->imm64 = index;
    }
    static void make_ldloc(ILInstr* node, uint32_t index) {
        node->opcode = index <= UINT8_MAX ? op::ldloc_s : op::ldloc;
        node->imm64 = index;
    }

private:
    ILRewriter& rewriter_;
};
