// The CIL instruction set (ECMA-335 Partition III), written once. Every table the
// rewriter and the listings use is derived from NIMBREL_IL_OPCODES at compile time:
// the operand flags (s_OpCodeFlags), the stack pushes (k_rgnStackPushes), the
// mnemonics and the op:: constants emitters write.
//
// Opcode numbers: a one-byte opcode is its byte (0 to 255); a two-byte opcode
// 0xFE xx is 256 + xx (256 to 293). Two pseudo-instructions follow the real ones:
// op::empty (294) encodes nothing, op::switch_target (295) is one case of a switch,
// encoding only its 4-byte displacement. The list head carries op::list_head.
//
// Guarantees: constants only; no state, safe on any thread.
#pragma once

#include <array>
#include <cstdint>

// Operand types of ECMA-335 Partition III, 1.9 (the names the standard uses).
enum class il_operand : uint8_t {
    InlineNone,
    ShortInlineI,
    ShortInlineVar,
    InlineVar,
    InlineI,
    ShortInlineR,
    InlineMethod,
    InlineField,
    InlineType,
    InlineTok,
    InlineString,
    InlineSig,
    InlineI8,
    InlineR,
    ShortInlineBrTarget,
    InlineBrTarget,
    InlineSwitch,
};

// X(identifier, mnemonic, opcode number, operand type, stack slots pushed)
// The pushes are the push side of each stack transition: dup counts 2, every call
// form (call, calli, callvirt, newobj) counts 1 whatever its return type.
// Identifiers that are C++ keywords carry a trailing underscore.
#define NIMBREL_IL_OPCODES(X)                                   \
    X(nop, "nop", 0x00, InlineNone, 0)                          \
    X(break_, "break", 0x01, InlineNone, 0)                     \
    X(ldarg_0, "ldarg.0", 0x02, InlineNone, 1)                  \
    X(ldarg_1, "ldarg.1", 0x03, InlineNone, 1)                  \
    X(ldarg_2, "ldarg.2", 0x04, InlineNone, 1)                  \
    X(ldarg_3, "ldarg.3", 0x05, InlineNone, 1)                  \
    X(ldloc_0, "ldloc.0", 0x06, InlineNone, 1)                  \
    X(ldloc_1, "ldloc.1", 0x07, InlineNone, 1)                  \
    X(ldloc_2, "ldloc.2", 0x08, InlineNone, 1)                  \
    X(ldloc_3, "ldloc.3", 0x09, InlineNone, 1)                  \
    X(stloc_0, "stloc.0", 0x0A, InlineNone, 0)                  \
    X(stloc_1, "stloc.1", 0x0B, InlineNone, 0)                  \
    X(stloc_2, "stloc.2", 0x0C, InlineNone, 0)                  \
    X(stloc_3, "stloc.3", 0x0D, InlineNone, 0)                  \
    X(ldarg_s, "ldarg.s", 0x0E, ShortInlineVar, 1)              \
    X(ldarga_s, "ldarga.s", 0x0F, ShortInlineVar, 1)            \
    X(starg_s, "starg.s", 0x10, ShortInlineVar, 0)              \
    X(ldloc_s, "ldloc.s", 0x11, ShortInlineVar, 1)              \
    X(ldloca_s, "ldloca.s", 0x12, ShortInlineVar, 1)            \
    X(stloc_s, "stloc.s", 0x13, ShortInlineVar, 0)              \
    X(ldnull, "ldnull", 0x14, InlineNone, 1)                    \
    X(ldc_i4_m1, "ldc.i4.m1", 0x15, InlineNone, 1)              \
    X(ldc_i4_0, "ldc.i4.0", 0x16, InlineNone, 1)                \
    X(ldc_i4_1, "ldc.i4.1", 0x17, InlineNone, 1)                \
    X(ldc_i4_2, "ldc.i4.2", 0x18, InlineNone, 1)                \
    X(ldc_i4_3, "ldc.i4.3", 0x19, InlineNone, 1)                \
    X(ldc_i4_4, "ldc.i4.4", 0x1A, InlineNone, 1)                \
    X(ldc_i4_5, "ldc.i4.5", 0x1B, InlineNone, 1)                \
    X(ldc_i4_6, "ldc.i4.6", 0x1C, InlineNone, 1)                \
    X(ldc_i4_7, "ldc.i4.7", 0x1D, InlineNone, 1)                \
    X(ldc_i4_8, "ldc.i4.8", 0x1E, InlineNone, 1)                \
    X(ldc_i4_s, "ldc.i4.s", 0x1F, ShortInlineI, 1)              \
    X(ldc_i4, "ldc.i4", 0x20, InlineI, 1)                       \
    X(ldc_i8, "ldc.i8", 0x21, InlineI8, 1)                      \
    X(ldc_r4, "ldc.r4", 0x22, ShortInlineR, 1)                  \
    X(ldc_r8, "ldc.r8", 0x23, InlineR, 1)                       \
    X(dup, "dup", 0x25, InlineNone, 2)                          \
    X(pop, "pop", 0x26, InlineNone, 0)                          \
    X(jmp, "jmp", 0x27, InlineMethod, 0)                        \
    X(call, "call", 0x28, InlineMethod, 1)                      \
    X(calli, "calli", 0x29, InlineSig, 1)                       \
    X(ret, "ret", 0x2A, InlineNone, 0)                          \
    X(br_s, "br.s", 0x2B, ShortInlineBrTarget, 0)               \
    X(brfalse_s, "brfalse.s", 0x2C, ShortInlineBrTarget, 0)     \
    X(brtrue_s, "brtrue.s", 0x2D, ShortInlineBrTarget, 0)       \
    X(beq_s, "beq.s", 0x2E, ShortInlineBrTarget, 0)             \
    X(bge_s, "bge.s", 0x2F, ShortInlineBrTarget, 0)             \
    X(bgt_s, "bgt.s", 0x30, ShortInlineBrTarget, 0)             \
    X(ble_s, "ble.s", 0x31, ShortInlineBrTarget, 0)             \
    X(blt_s, "blt.s", 0x32, ShortInlineBrTarget, 0)             \
    X(bne_un_s, "bne.un.s", 0x33, ShortInlineBrTarget, 0)       \
    X(bge_un_s, "bge.un.s", 0x34, ShortInlineBrTarget, 0)       \
    X(bgt_un_s, "bgt.un.s", 0x35, ShortInlineBrTarget, 0)       \
    X(ble_un_s, "ble.un.s", 0x36, ShortInlineBrTarget, 0)       \
    X(blt_un_s, "blt.un.s", 0x37, ShortInlineBrTarget, 0)       \
    X(br, "br", 0x38, InlineBrTarget, 0)                        \
    X(brfalse, "brfalse", 0x39, InlineBrTarget, 0)              \
    X(brtrue, "brtrue", 0x3A, InlineBrTarget, 0)                \
    X(beq, "beq", 0x3B, InlineBrTarget, 0)                      \
    X(bge, "bge", 0x3C, InlineBrTarget, 0)                      \
    X(bgt, "bgt", 0x3D, InlineBrTarget, 0)                      \
    X(ble, "ble", 0x3E, InlineBrTarget, 0)                      \
    X(blt, "blt", 0x3F, InlineBrTarget, 0)                      \
    X(bne_un, "bne.un", 0x40, InlineBrTarget, 0)                \
    X(bge_un, "bge.un", 0x41, InlineBrTarget, 0)                \
    X(bgt_un, "bgt.un", 0x42, InlineBrTarget, 0)                \
    X(ble_un, "ble.un", 0x43, InlineBrTarget, 0)                \
    X(blt_un, "blt.un", 0x44, InlineBrTarget, 0)                \
    X(switch_, "switch", 0x45, InlineSwitch, 0)                 \
    X(ldind_i1, "ldind.i1", 0x46, InlineNone, 1)                \
    X(ldind_u1, "ldind.u1", 0x47, InlineNone, 1)                \
    X(ldind_i2, "ldind.i2", 0x48, InlineNone, 1)                \
    X(ldind_u2, "ldind.u2", 0x49, InlineNone, 1)                \
    X(ldind_i4, "ldind.i4", 0x4A, InlineNone, 1)                \
    X(ldind_u4, "ldind.u4", 0x4B, InlineNone, 1)                \
    X(ldind_i8, "ldind.i8", 0x4C, InlineNone, 1)                \
    X(ldind_i, "ldind.i", 0x4D, InlineNone, 1)                  \
    X(ldind_r4, "ldind.r4", 0x4E, InlineNone, 1)                \
    X(ldind_r8, "ldind.r8", 0x4F, InlineNone, 1)                \
    X(ldind_ref, "ldind.ref", 0x50, InlineNone, 1)              \
    X(stind_ref, "stind.ref", 0x51, InlineNone, 0)              \
    X(stind_i1, "stind.i1", 0x52, InlineNone, 0)                \
    X(stind_i2, "stind.i2", 0x53, InlineNone, 0)                \
    X(stind_i4, "stind.i4", 0x54, InlineNone, 0)                \
    X(stind_i8, "stind.i8", 0x55, InlineNone, 0)                \
    X(stind_r4, "stind.r4", 0x56, InlineNone, 0)                \
    X(stind_r8, "stind.r8", 0x57, InlineNone, 0)                \
    X(add, "add", 0x58, InlineNone, 1)                          \
    X(sub, "sub", 0x59, InlineNone, 1)                          \
    X(mul, "mul", 0x5A, InlineNone, 1)                          \
    X(div, "div", 0x5B, InlineNone, 1)                          \
    X(div_un, "div.un", 0x5C, InlineNone, 1)                    \
    X(rem, "rem", 0x5D, InlineNone, 1)                          \
    X(rem_un, "rem.un", 0x5E, InlineNone, 1)                    \
    X(and_, "and", 0x5F, InlineNone, 1)                         \
    X(or_, "or", 0x60, InlineNone, 1)                           \
    X(xor_, "xor", 0x61, InlineNone, 1)                         \
    X(shl, "shl", 0x62, InlineNone, 1)                          \
    X(shr, "shr", 0x63, InlineNone, 1)                          \
    X(shr_un, "shr.un", 0x64, InlineNone, 1)                    \
    X(neg, "neg", 0x65, InlineNone, 1)                          \
    X(not_, "not", 0x66, InlineNone, 1)                         \
    X(conv_i1, "conv.i1", 0x67, InlineNone, 1)                  \
    X(conv_i2, "conv.i2", 0x68, InlineNone, 1)                  \
    X(conv_i4, "conv.i4", 0x69, InlineNone, 1)                  \
    X(conv_i8, "conv.i8", 0x6A, InlineNone, 1)                  \
    X(conv_r4, "conv.r4", 0x6B, InlineNone, 1)                  \
    X(conv_r8, "conv.r8", 0x6C, InlineNone, 1)                  \
    X(conv_u4, "conv.u4", 0x6D, InlineNone, 1)                  \
    X(conv_u8, "conv.u8", 0x6E, InlineNone, 1)                  \
    X(callvirt, "callvirt", 0x6F, InlineMethod, 1)              \
    X(cpobj, "cpobj", 0x70, InlineType, 0)                      \
    X(ldobj, "ldobj", 0x71, InlineType, 1)                      \
    X(ldstr, "ldstr", 0x72, InlineString, 1)                    \
    X(newobj, "newobj", 0x73, InlineMethod, 1)                  \
    X(castclass, "castclass", 0x74, InlineType, 1)              \
    X(isinst, "isinst", 0x75, InlineType, 1)                    \
    X(conv_r_un, "conv.r.un", 0x76, InlineNone, 1)              \
    X(unbox, "unbox", 0x79, InlineType, 1)                      \
    X(throw_, "throw", 0x7A, InlineNone, 0)                     \
    X(ldfld, "ldfld", 0x7B, InlineField, 1)                     \
    X(ldflda, "ldflda", 0x7C, InlineField, 1)                   \
    X(stfld, "stfld", 0x7D, InlineField, 0)                     \
    X(ldsfld, "ldsfld", 0x7E, InlineField, 1)                   \
    X(ldsflda, "ldsflda", 0x7F, InlineField, 1)                 \
    X(stsfld, "stsfld", 0x80, InlineField, 0)                   \
    X(stobj, "stobj", 0x81, InlineType, 0)                      \
    X(conv_ovf_i1_un, "conv.ovf.i1.un", 0x82, InlineNone, 1)    \
    X(conv_ovf_i2_un, "conv.ovf.i2.un", 0x83, InlineNone, 1)    \
    X(conv_ovf_i4_un, "conv.ovf.i4.un", 0x84, InlineNone, 1)    \
    X(conv_ovf_i8_un, "conv.ovf.i8.un", 0x85, InlineNone, 1)    \
    X(conv_ovf_u1_un, "conv.ovf.u1.un", 0x86, InlineNone, 1)    \
    X(conv_ovf_u2_un, "conv.ovf.u2.un", 0x87, InlineNone, 1)    \
    X(conv_ovf_u4_un, "conv.ovf.u4.un", 0x88, InlineNone, 1)    \
    X(conv_ovf_u8_un, "conv.ovf.u8.un", 0x89, InlineNone, 1)    \
    X(conv_ovf_i_un, "conv.ovf.i.un", 0x8A, InlineNone, 1)      \
    X(conv_ovf_u_un, "conv.ovf.u.un", 0x8B, InlineNone, 1)      \
    X(box, "box", 0x8C, InlineType, 1)                          \
    X(newarr, "newarr", 0x8D, InlineType, 1)                    \
    X(ldlen, "ldlen", 0x8E, InlineNone, 1)                      \
    X(ldelema, "ldelema", 0x8F, InlineType, 1)                  \
    X(ldelem_i1, "ldelem.i1", 0x90, InlineNone, 1)              \
    X(ldelem_u1, "ldelem.u1", 0x91, InlineNone, 1)              \
    X(ldelem_i2, "ldelem.i2", 0x92, InlineNone, 1)              \
    X(ldelem_u2, "ldelem.u2", 0x93, InlineNone, 1)              \
    X(ldelem_i4, "ldelem.i4", 0x94, InlineNone, 1)              \
    X(ldelem_u4, "ldelem.u4", 0x95, InlineNone, 1)              \
    X(ldelem_i8, "ldelem.i8", 0x96, InlineNone, 1)              \
    X(ldelem_i, "ldelem.i", 0x97, InlineNone, 1)                \
    X(ldelem_r4, "ldelem.r4", 0x98, InlineNone, 1)              \
    X(ldelem_r8, "ldelem.r8", 0x99, InlineNone, 1)              \
    X(ldelem_ref, "ldelem.ref", 0x9A, InlineNone, 1)            \
    X(stelem_i, "stelem.i", 0x9B, InlineNone, 0)                \
    X(stelem_i1, "stelem.i1", 0x9C, InlineNone, 0)              \
    X(stelem_i2, "stelem.i2", 0x9D, InlineNone, 0)              \
    X(stelem_i4, "stelem.i4", 0x9E, InlineNone, 0)              \
    X(stelem_i8, "stelem.i8", 0x9F, InlineNone, 0)              \
    X(stelem_r4, "stelem.r4", 0xA0, InlineNone, 0)              \
    X(stelem_r8, "stelem.r8", 0xA1, InlineNone, 0)              \
    X(stelem_ref, "stelem.ref", 0xA2, InlineNone, 0)            \
    X(ldelem, "ldelem", 0xA3, InlineType, 1)                    \
    X(stelem, "stelem", 0xA4, InlineType, 0)                    \
    X(unbox_any, "unbox.any", 0xA5, InlineType, 1)              \
    X(conv_ovf_i1, "conv.ovf.i1", 0xB3, InlineNone, 1)          \
    X(conv_ovf_u1, "conv.ovf.u1", 0xB4, InlineNone, 1)          \
    X(conv_ovf_i2, "conv.ovf.i2", 0xB5, InlineNone, 1)          \
    X(conv_ovf_u2, "conv.ovf.u2", 0xB6, InlineNone, 1)          \
    X(conv_ovf_i4, "conv.ovf.i4", 0xB7, InlineNone, 1)          \
    X(conv_ovf_u4, "conv.ovf.u4", 0xB8, InlineNone, 1)          \
    X(conv_ovf_i8, "conv.ovf.i8", 0xB9, InlineNone, 1)          \
    X(conv_ovf_u8, "conv.ovf.u8", 0xBA, InlineNone, 1)          \
    X(refanyval, "refanyval", 0xC2, InlineType, 1)              \
    X(ckfinite, "ckfinite", 0xC3, InlineNone, 1)                \
    X(mkrefany, "mkrefany", 0xC6, InlineType, 1)                \
    X(ldtoken, "ldtoken", 0xD0, InlineTok, 1)                   \
    X(conv_u2, "conv.u2", 0xD1, InlineNone, 1)                  \
    X(conv_u1, "conv.u1", 0xD2, InlineNone, 1)                  \
    X(conv_i, "conv.i", 0xD3, InlineNone, 1)                    \
    X(conv_ovf_i, "conv.ovf.i", 0xD4, InlineNone, 1)            \
    X(conv_ovf_u, "conv.ovf.u", 0xD5, InlineNone, 1)            \
    X(add_ovf, "add.ovf", 0xD6, InlineNone, 1)                  \
    X(add_ovf_un, "add.ovf.un", 0xD7, InlineNone, 1)            \
    X(mul_ovf, "mul.ovf", 0xD8, InlineNone, 1)                  \
    X(mul_ovf_un, "mul.ovf.un", 0xD9, InlineNone, 1)            \
    X(sub_ovf, "sub.ovf", 0xDA, InlineNone, 1)                  \
    X(sub_ovf_un, "sub.ovf.un", 0xDB, InlineNone, 1)            \
    X(endfinally, "endfinally", 0xDC, InlineNone, 0)            \
    X(leave, "leave", 0xDD, InlineBrTarget, 0)                  \
    X(leave_s, "leave.s", 0xDE, ShortInlineBrTarget, 0)         \
    X(stind_i, "stind.i", 0xDF, InlineNone, 0)                  \
    X(conv_u, "conv.u", 0xE0, InlineNone, 1)                    \
    X(arglist, "arglist", 0x100, InlineNone, 1)                 \
    X(ceq, "ceq", 0x101, InlineNone, 1)                         \
    X(cgt, "cgt", 0x102, InlineNone, 1)                         \
    X(cgt_un, "cgt.un", 0x103, InlineNone, 1)                   \
    X(clt, "clt", 0x104, InlineNone, 1)                         \
    X(clt_un, "clt.un", 0x105, InlineNone, 1)                   \
    X(ldftn, "ldftn", 0x106, InlineMethod, 1)                   \
    X(ldvirtftn, "ldvirtftn", 0x107, InlineMethod, 1)           \
    X(ldarg, "ldarg", 0x109, InlineVar, 1)                      \
    X(ldarga, "ldarga", 0x10A, InlineVar, 1)                    \
    X(starg, "starg", 0x10B, InlineVar, 0)                      \
    X(ldloc, "ldloc", 0x10C, InlineVar, 1)                      \
    X(ldloca, "ldloca", 0x10D, InlineVar, 1)                    \
    X(stloc, "stloc", 0x10E, InlineVar, 0)                      \
    X(localloc, "localloc", 0x10F, InlineNone, 1)               \
    X(endfilter, "endfilter", 0x111, InlineNone, 0)             \
    X(unaligned_, "unaligned.", 0x112, ShortInlineI, 0)         \
    X(volatile_, "volatile.", 0x113, InlineNone, 0)             \
    X(tail_, "tail.", 0x114, InlineNone, 0)                     \
    X(initobj, "initobj", 0x115, InlineType, 0)                 \
    X(constrained_, "constrained.", 0x116, InlineType, 0)       \
    X(cpblk, "cpblk", 0x117, InlineNone, 0)                     \
    X(initblk, "initblk", 0x118, InlineNone, 0)                 \
    X(no_, "no.", 0x119, ShortInlineI, 0)                       \
    X(rethrow, "rethrow", 0x11A, InlineNone, 0)                 \
    X(sizeof_, "sizeof", 0x11C, InlineType, 1)                  \
    X(refanytype, "refanytype", 0x11D, InlineNone, 1)           \
    X(readonly_, "readonly.", 0x11E, InlineNone, 0)

namespace op {
enum : uint32_t {
#define NIMBREL_IL_OP_ENUM(ident, mnemonic, number, operand, pushes) ident = number,
    NIMBREL_IL_OPCODES(NIMBREL_IL_OP_ENUM)
#undef NIMBREL_IL_OP_ENUM
    // The first byte of every two-byte opcode.
    two_byte_prefix = 0xFE,
    // Numbers of the real opcodes: 0 to 293.
    real_count = 294,
    // Pseudo-instruction that encodes nothing.
    empty = 294,
    // One case of the switch before it: a 4-byte displacement.
    switch_target = 295,
    // Size of the tables indexed by any opcode number a list may hold.
    count = 296,
    // Opcode of the list head, which is not an instruction.
    list_head = 0xFFFFFFFF,
};
}  // namespace op

// Operand flags of s_OpCodeFlags: the low four bits are the operand size in bytes.
constexpr uint8_t opcode_flag_size_mask = 0x0F;
constexpr uint8_t opcode_flag_branch = 0x10;
constexpr uint8_t opcode_flag_switch = 0x20;

namespace il_opcode_detail {

constexpr uint8_t operand_flags(il_operand operand) {
    switch (operand) {
        case il_operand::InlineNone:
            return 0;
        case il_operand::ShortInlineI:
        case il_operand::ShortInlineVar:
            return 1;
        case il_operand::InlineVar:
            return 2;
        case il_operand::InlineI:
        case il_operand::ShortInlineR:
        case il_operand::InlineMethod:
        case il_operand::InlineField:
        case il_operand::InlineType:
        case il_operand::InlineTok:
        case il_operand::InlineString:
        case il_operand::InlineSig:
            return 4;
        case il_operand::InlineI8:
        case il_operand::InlineR:
            return 8;
        case il_operand::ShortInlineBrTarget:
            return opcode_flag_branch | 1;
        case il_operand::InlineBrTarget:
            return opcode_flag_branch | 4;
        case il_operand::InlineSwitch:
            return opcode_flag_switch;
    }
    return 0;
}

struct opcode_row {
    const char* mnemonic = nullptr;  // null: no instruction has this number
    il_operand operand = il_operand::InlineNone;
    int32_t pushes = 0;
};

constexpr std::array<opcode_row, op::count> build_rows() {
    std::array<opcode_row, op::count> rows{};
#define NIMBREL_IL_OP_ROW(ident, mnemonic, number, operand, pushes) \
    rows[number] = opcode_row{mnemonic, il_operand::operand, pushes};
    NIMBREL_IL_OPCODES(NIMBREL_IL_OP_ROW)
#undef NIMBREL_IL_OP_ROW
    rows[op::empty] = opcode_row{"(empty)", il_operand::InlineNone, 0};
    rows[op::switch_target] = opcode_row{"(switch target)", il_operand::InlineBrTarget, 0};
    return rows;
}

inline constexpr std::array<opcode_row, op::count> rows = build_rows();

constexpr std::array<uint8_t, op::count> build_flags() {
    std::array<uint8_t, op::count> flags{};
    for (uint32_t i = 0; i < op::count; ++i) {
        flags[i] = operand_flags(rows[i].operand);
    }
    return flags;
}

constexpr std::array<int32_t, op::real_count> build_pushes() {
    std::array<int32_t, op::real_count> pushes{};
    for (uint32_t i = 0; i < op::real_count; ++i) {
        pushes[i] = rows[i].pushes;
    }
    return pushes;
}

}  // namespace il_opcode_detail

// Operand flags by opcode number: size in the low four bits, 0x10 branch (0x11 with a
// 1-byte displacement, 0x14 with a 4-byte one), 0x20 switch. Unassigned numbers are 0.
inline constexpr std::array<uint8_t, op::count> s_OpCodeFlags = il_opcode_detail::build_flags();

// Stack slots each real opcode pushes; unassigned numbers are 0.
inline constexpr std::array<int32_t, op::real_count> k_rgnStackPushes = il_opcode_detail::build_pushes();

// Whether `opcode` names a real instruction (0 to 293 with an ECMA-335 definition).
constexpr bool opcode_is_defined(uint32_t opcode) {
    return opcode < op::real_count && il_opcode_detail::rows[opcode].mnemonic != nullptr;
}

// The mnemonic of a defined opcode or pseudo-instruction; null for anything else.
constexpr const char* opcode_name(uint32_t opcode) {
    return opcode < op::count ? il_opcode_detail::rows[opcode].mnemonic : nullptr;
}

// Operand type of a defined opcode (InlineNone for anything else).
constexpr il_operand opcode_operand(uint32_t opcode) {
    return opcode < op::count ? il_opcode_detail::rows[opcode].operand : il_operand::InlineNone;
}

// Bytes the opcode itself occupies: 2 for 0xFE xx, 0 for the pseudo-instructions.
constexpr uint32_t opcode_byte_count(uint32_t opcode) {
    return opcode >= op::real_count ? 0 : (opcode >= 0x100 ? 2 : 1);
}

// The long form of a short branch (br.s to br, leave.s to leave); any other opcode
// is returned as it is.
constexpr uint32_t long_branch_form(uint32_t opcode) {
    if (opcode == op::leave_s) return op::leave;
    if (opcode >= op::br_s && opcode <= op::blt_un_s) return opcode + (op::br - op::br_s);
    return opcode;
}

static_assert(s_OpCodeFlags.size() == 296 && k_rgnStackPushes.size() == 294);
static_assert(s_OpCodeFlags[op::br_s] == 0x11 && s_OpCodeFlags[op::leave] == 0x14);
static_assert(s_OpCodeFlags[op::switch_] == 0x20 && s_OpCodeFlags[op::switch_target] == 0x14);
static_assert(s_OpCodeFlags[op::empty] == 0 && s_OpCodeFlags[op::ldc_i8] == 8 && s_OpCodeFlags[op::ldarg] == 2);
static_assert(k_rgnStackPushes[op::dup] == 2 && k_rgnStackPushes[op::newobj] == 1);
static_assert(op::readonly_ == 286 && op::br - op::br_s == 13);
