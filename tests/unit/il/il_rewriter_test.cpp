#include "il/il_rewriter.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "il/il_listing.h"
#include "il_test_bodies.h"
#include "support/fake_function_control.h"

namespace {

using namespace il_test;

// Lines "IL_xxxx: nop" for `count` nops starting at `offset`, each followed by '\n'.
std::string nop_lines(uint32_t offset, uint32_t count) {
    std::string out;
    char line[32];
    for (uint32_t i = 0; i < count; ++i) {
        std::snprintf(line, sizeof line, "IL_%04X: nop\n", offset + i);
        out += line;
    }
    return out;
}

// Inserts `count` nops after `where`.
void insert_nops(ILRewriter& rewriter, ILInstr* where, int count) {
    for (int i = 0; i < count; ++i) {
        ILInstr* nop = rewriter.CreateInstr();
        nop->opcode = op::nop;
        rewriter.InsertAfter(where, nop);
    }
}

// The code of an installed fat body.
bytes code_of(const bytes& body) {
    const uint32_t size = get_u32(body, 4);
    return bytes(body.begin() + 12, body.begin() + 12 + size);
}

class RewriterTest : public RewriterFixture {};

TEST_F(RewriterTest, TinyBodyExportsWithFatHeaderAndTinyMaxStack) {
    accept(tiny_body({0x00, 0x2A}));
    EXPECT_EQ(il_listing(*rewriter), "IL_0000: nop\nIL_0001: ret");
    ASSERT_EQ(rewriter->Export(), S_OK);
    ASSERT_NE(installed(), nullptr);
    // Fat, header size 3, no flags; max stack 8 (tiny's 8, nop and ret push nothing);
    // code size 2; no local signature.
    EXPECT_EQ(*installed(), (bytes{0x03, 0x30, 0x08, 0x00, 0x02, 0, 0, 0, 0, 0, 0, 0, 0x00, 0x2A}));
}

TEST_F(RewriterTest, MaxStackIsHeaderPlusEveryPushAtLeastSixAtMost65535) {
    const struct {
        const char* name;
        bytes body;
        uint16_t max_stack;
    } rows[] = {
        {"fat 2, ret", fat_body(0, 2, {0x2A}), 6},
        {"fat 2, ldarg.0 ldarg.1 add ret", fat_body(0, 2, {0x02, 0x03, 0x58, 0x2A}), 6},
        {"fat 4, ldarg.0 dup dup pop pop ret (dup counts 2)", fat_body(0, 4, {0x02, 0x25, 0x25, 0x26, 0x26, 0x2A}), 9},
        {"fat 5, call newobj callvirt calli (1 each)",
         fat_body(0, 5, concat({{0x28, 1, 0, 0, 0x0A}, {0x73, 2, 0, 0, 0x0A}, {0x6F, 3, 0, 0, 0x0A},
                                {0x29, 1, 0, 0, 0x11}, {0x2A}})),
         9},
        {"fat 65535, ldarg.0 ret", fat_body(0, 0xFFFF, {0x02, 0x2A}), 0xFFFF},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        accept(row.body);
        ASSERT_EQ(rewriter->Export(), S_OK);
        const bytes& body = *installed();
        EXPECT_EQ(body[2] | (body[3] << 8), row.max_stack);
    }
}

TEST_F(RewriterTest, HeaderKeepsInitLocalsAndLocalSignatureOnly) {
    // 0x10 init locals and 0x40 (compressed IL) in; only 0x10 survives.
    accept(fat_body(0x50, 8, {0x2A}, 0x11000007));
    EXPECT_EQ(rewriter->m_flags, 0x10u);
    EXPECT_EQ(rewriter->m_localVarSigToken, 0x11000007u);
    ASSERT_EQ(rewriter->Export(), S_OK);
    const bytes& body = *installed();
    EXPECT_EQ(body[0] | (body[1] << 8), 0x3013);
    EXPECT_EQ(get_u32(body, 8), 0x11000007u);
}

TEST_F(RewriterTest, BranchToFollowingInstructionKeepsDisplacementZero) {
    accept(tiny_body({0x2B, 0x00, 0x2A}));
    EXPECT_EQ(il_listing(*rewriter), "IL_0000: br.s IL_0002\nIL_0002: ret");
    ASSERT_EQ(rewriter->Export(), S_OK);
    EXPECT_EQ(code_of(*installed()), (bytes{0x2B, 0x00, 0x2A}));
}

TEST_F(RewriterTest, InsertedCodeWidensShortBranchAndLeave) {
    // IL_0000: br.s IL_0003 / IL_0002: nop / IL_0003: leave.s IL_0006 / IL_0005: nop / IL_0006: ret
    accept(tiny_body({0x2B, 0x01, 0x00, 0xDE, 0x01, 0x00, 0x2A}));
    ILInstr* br = rewriter->first_instruction();
    ILInstr* leave = br->next->next;
    insert_nops(*rewriter, br, 200);
    insert_nops(*rewriter, leave, 200);
    ASSERT_EQ(rewriter->Export(), S_OK);
    // br: 5 bytes, 200 nops, nop at 205, leave at 206 (5 bytes), 200 nops, nop at 411, ret at 412.
    EXPECT_EQ(il_listing(*rewriter), "IL_0000: br IL_00CE\n" + nop_lines(5, 201) + "IL_00CE: leave IL_019C\n" +
                                         nop_lines(211, 201) + "IL_019C: ret");
    const bytes code = code_of(*installed());
    ASSERT_EQ(code.size(), 413u);
    EXPECT_EQ(bytes(code.begin(), code.begin() + 5), (bytes{0x38, 201, 0, 0, 0}));
    EXPECT_EQ(bytes(code.begin() + 206, code.begin() + 211), (bytes{0xDD, 201, 0, 0, 0}));
}

TEST_F(RewriterTest, WideningOneBranchWidensAnotherItPushesOutOfRange) {
    accept(tiny_body({0x2A}));
    ILInstr* ret = rewriter->first_instruction();
    rewriter->m_insertAfter = rewriter->GetILList();
    ILInstr* loop_head = rewriter->Emit(op::nop);
    for (int i = 0; i < 124; ++i) rewriter->Emit(op::nop);
    // A reaches ret by 125 bytes; B goes back 129 bytes and must widen, which
    // moves ret 3 bytes further and puts it out of A's reach.
    ILInstr* a = rewriter->EmitBranch(op::br_s, ret);
    ILInstr* b = rewriter->EmitBranch(op::br_s, loop_head);
    for (int i = 0; i < 123; ++i) rewriter->Emit(op::nop);
    ASSERT_EQ(rewriter->Export(), S_OK);
    EXPECT_EQ(a->opcode, op::br);
    EXPECT_EQ(b->opcode, op::br);
    EXPECT_EQ(a->offset, 125u);
    EXPECT_EQ(b->offset, 130u);
    EXPECT_EQ(ret->offset, 258u);
    const bytes code = code_of(*installed());
    EXPECT_EQ(bytes(code.begin() + 125, code.begin() + 135), (bytes{0x38, 128, 0, 0, 0, 0x38, 0x79, 0xFF, 0xFF, 0xFF}));
}

TEST_F(RewriterTest, SwitchImportsAsOneNodeWithItsCasesAndExportsRelativeToTableEnd) {
    // IL_0000: ldarg.0 / IL_0001: switch (IL_0012, IL_0014, IL_0000) / IL_0012: nop / IL_0013: nop / IL_0014: ret
    const bytes code = concat({{0x02, 0x45, 3, 0, 0, 0}, {0, 0, 0, 0}, {2, 0, 0, 0}, {0xEE, 0xFF, 0xFF, 0xFF},
                               {0x00, 0x00, 0x2A}});
    accept(tiny_body(code));
    ILInstr* sw = rewriter->first_instruction()->next;
    ASSERT_EQ(sw->opcode, op::switch_);
    EXPECT_EQ(sw->imm32, 3u);
    ILInstr* cases[3] = {sw->next, sw->next->next, sw->next->next->next};
    for (ILInstr* c : cases) EXPECT_EQ(c->opcode, op::switch_target);
    EXPECT_EQ(cases[2]->next->opcode, op::nop);
    EXPECT_EQ(cases[2]->target, rewriter->first_instruction());
    EXPECT_EQ(il_listing(*rewriter),
              "IL_0000: ldarg.0\n"
              "IL_0001: switch (IL_0012, IL_0014, IL_0000)\n"
              "IL_0012: nop\n"
              "IL_0013: nop\n"
              "IL_0014: ret");
    ASSERT_EQ(rewriter->Export(), S_OK);
    EXPECT_EQ(code_of(*installed()), code);

    // Four nops between the case table and the first target shift every
    // displacement that crosses them.
    insert_nops(*rewriter, cases[2], 4);
    ASSERT_EQ(rewriter->Export(), S_OK);
    const bytes shifted = code_of(*installed());
    EXPECT_EQ(bytes(shifted.begin() + 1, shifted.begin() + 18),
              concat({{0x45, 3, 0, 0, 0}, {4, 0, 0, 0}, {6, 0, 0, 0}, {0xEE, 0xFF, 0xFF, 0xFF}}));
}

TEST_F(RewriterTest, BranchToEndOfCodeBindsToListHead) {
    accept(tiny_body({0x00, 0x2B, 0x00}));  // nop / br.s IL_0003 (the end)
    ILInstr* br = rewriter->first_instruction()->next;
    EXPECT_EQ(br->target, rewriter->GetILList());
    insert_nops(*rewriter, rewriter->GetILList(), 1);  // at the front
    ASSERT_EQ(rewriter->Export(), S_OK);
    EXPECT_EQ(rewriter->GetILList()->offset, 4u);
    EXPECT_EQ(code_of(*installed()), (bytes{0x00, 0x00, 0x2B, 0x00}));
}

// try { nop; leave.s IL_0006 } finally { nop; nop; endfinally } ret
const bytes try_finally_code = {0x00, 0xDE, 0x03, 0x00, 0x00, 0xDC, 0x2A};

TEST_F(RewriterTest, ClausesRoundTripInFatFormWhateverTheirStoredForm) {
    const std::vector<clause> clauses = {
        {COR_ILEXCEPTION_CLAUSE_FINALLY, 0, 3, 3, 3, 0},
        {COR_ILEXCEPTION_CLAUSE_NONE, 0, 1, 1, 2, 0x01000005},
        {COR_ILEXCEPTION_CLAUSE_FAULT, 1, 2, 3, 2, 0},
        {COR_ILEXCEPTION_CLAUSE_FILTER, 0, 3, 5, 1, 3},
    };
    for (const bytes& section : {small_eh(clauses), fat_eh(clauses)}) {
        SCOPED_TRACE(section[0] == 0x41 ? "fat section" : "small section");
        accept(fat_body(0, 8, try_finally_code, 0, section));
        EXPECT_EQ(eh_listing(*rewriter),
                  "finally try IL_0000-IL_0003 handler IL_0003-IL_0006\n"
                  "catch 0x01000005 try IL_0000-IL_0001 handler IL_0001-IL_0003\n"
                  "fault try IL_0001-IL_0003 handler IL_0003-IL_0005\n"
                  "filter IL_0003 try IL_0000-IL_0003 handler IL_0005-IL_0006");
        ASSERT_EQ(rewriter->Export(), S_OK);
        const bytes& body = *installed();
        EXPECT_EQ(body[0] & 0x08, 0x08) << "more sections";
        EXPECT_EQ(bytes(body.begin() + 20, body.end()), fat_eh(clauses));
    }
}

TEST_F(RewriterTest, InsertionInsideTryBlockLengthensTheTryAndMovesTheHandler) {
    accept(fat_body(0, 8, try_finally_code, 0, small_eh({{COR_ILEXCEPTION_CLAUSE_FINALLY, 0, 3, 3, 3, 0}})));
    insert_nops(*rewriter, rewriter->first_instruction(), 2);
    ASSERT_EQ(rewriter->Export(), S_OK);
    EXPECT_EQ(eh_listing(*rewriter), "finally try IL_0000-IL_0005 handler IL_0005-IL_0008");
    const bytes& body = *installed();
    EXPECT_EQ(bytes(body.begin() + 24, body.end()), fat_eh({{COR_ILEXCEPTION_CLAUSE_FINALLY, 0, 5, 5, 3, 0}}));
    EXPECT_EQ(bytes(body.begin() + 12, body.begin() + 21),
              (bytes{0x00, 0x00, 0x00, 0xDE, 0x03, 0x00, 0x00, 0xDC, 0x2A}));
}

TEST_F(RewriterTest, ImportRejectsMalformedBodies) {
    // [0] nop [1] ldc.i4 1 [6] pop [7] leave.s +0 [9] endfinally [10] ret; size 11.
    const bytes code = {0x00, 0x20, 0x01, 0x00, 0x00, 0x00, 0x26, 0xDE, 0x00, 0xDC, 0x2A};
    auto with_clause = [&](clause c) { return fat_body(0, 8, code, 0, fat_eh({c})); };
    const uint32_t finally = COR_ILEXCEPTION_CLAUSE_FINALLY;
    const struct {
        const char* name;
        bytes body;
    } rows[] = {
        {"0xFE as the last byte", tiny_body({0x00, 0xFE})},
        {"opcode byte 0xF8", tiny_body({0xF8, 0x2A})},
        {"unassigned opcode 0x24", tiny_body({0x24, 0x2A})},
        {"unassigned two-byte opcode FE 08", tiny_body({0xFE, 0x08, 0x2A})},
        {"two-byte opcode above 293 (FE 26)", tiny_body({0xFE, 0x26, 0x2A})},
        {"operand cut by the end of the code", tiny_body({0x20, 0x01, 0x00})},
        {"branch into an operand", tiny_body({0x2B, 0x01, 0x20, 0, 0, 0, 0, 0x2A})},
        {"branch past the end", tiny_body({0x2B, 0x02, 0x2A})},
        {"branch before the start", tiny_body({0x2B, 0xFD})},
        {"long branch past the end", tiny_body({0x38, 0x10, 0, 0, 0})},
        {"switch count cut", tiny_body({0x45, 0x01, 0x00})},
        {"switch cases cut", tiny_body({0x45, 2, 0, 0, 0, 0, 0, 0, 0, 0x2A})},
        {"switch case into an operand", tiny_body({0x45, 1, 0, 0, 0, 1, 0, 0, 0, 0x20, 0, 0, 0, 0, 0x2A})},
        {"switch case past the end", tiny_body({0x45, 1, 0, 0, 0, 5, 0, 0, 0, 0x2A})},
        {"header neither tiny nor fat", {0x00, 0x2A}},
        {"fat header code larger than the body", bytes{0x03, 0x30, 8, 0, 10, 0, 0, 0, 0, 0, 0, 0, 0x2A}},
        {"sections announced but missing", bytes{0x0B, 0x30, 8, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0x2A}},
        {"try starts inside an instruction", with_clause({finally, 2, 7, 9, 1, 0})},
        {"try ends inside an instruction", with_clause({finally, 0, 3, 9, 1, 0})},
        {"handler starts inside an instruction", with_clause({finally, 0, 9, 8, 1, 0})},
        {"handler ends inside an instruction", with_clause({finally, 0, 1, 1, 2, 0})},
        {"handler ends past the code", with_clause({finally, 0, 9, 9, 5, 0})},
        {"try starts at the end of the code", with_clause({finally, 11, 1, 9, 1, 0})},
        {"empty try", with_clause({finally, 0, 0, 9, 1, 0})},
        {"empty handler", with_clause({finally, 0, 9, 9, 0, 0})},
        {"filter inside an instruction", with_clause({COR_ILEXCEPTION_CLAUSE_FILTER, 0, 7, 9, 1, 3})},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(import(row.body), COR_E_INVALIDPROGRAM);
        EXPECT_EQ(rewriter->Export(), COR_E_INVALIDPROGRAM) << "a rejected body is never exported";
        EXPECT_EQ(installed(), nullptr);
    }
    // The same code and a clause on instruction starts are accepted.
    EXPECT_EQ(import(with_clause({finally, 0, 9, 9, 1, 0})), S_OK);
}

TEST_F(RewriterTest, RuntimeFailuresAreReturnedAsTheirStatus) {
    const bytes body = tiny_body({0x00, 0x2A});
    const struct {
        const char* call;
        HRESULT injected;
        HRESULT import_status;
        HRESULT export_status;
    } rows[] = {
        {"GetILFunctionBody", E_ACCESSDENIED, E_ACCESSDENIED, COR_E_INVALIDPROGRAM},
        {"GetILFunctionBodyAllocator", E_FAIL, S_OK, E_OUTOFMEMORY},
        {"Alloc", E_FAIL, S_OK, E_OUTOFMEMORY},
        {"SetILFunctionBody", E_ACCESSDENIED, S_OK, E_ACCESSDENIED},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.call);
        info.failures().clear();
        info.fail(row.call, row.injected);
        EXPECT_EQ(import(body), row.import_status);
        EXPECT_EQ(rewriter->Export(), row.export_status);
        EXPECT_EQ(installed(), nullptr);
    }
    info.failures().clear();
    rewriter.reset();
    EXPECT_EQ(module.allocator().references(), 0u) << "the allocator is released with the rewriter";
}

TEST_F(RewriterTest, EmptyCodeRoundTripsAsAnEmptyFatBody) {
    accept(tiny_body({}));
    EXPECT_EQ(rewriter->first_instruction(), rewriter->GetILList());
    ASSERT_EQ(rewriter->Export(), S_OK);
    EXPECT_EQ(*installed(), (bytes{0x03, 0x30, 0x08, 0x00, 0, 0, 0, 0, 0, 0, 0, 0}));
}

TEST_F(RewriterTest, ImportRunsOncePerRewriter) {
    accept(tiny_body({0x2A}));
    EXPECT_EQ(rewriter->Import(), E_UNEXPECTED);
}

TEST_F(RewriterTest, FunctionControlInstallsAHeapCopyInsteadOfTheAllocator) {
    test_support::failure_switch control_failures;
    test_support::fake_function_control control(control_failures);
    method = module.add_method("App.Type", "M", {0x00, 0x00, 0x01}, tiny_body({0x00, 0x2A}));
    ILRewriter with_control(&info, &control, module.module_id, method);
    ASSERT_EQ(with_control.Import(), S_OK);
    ASSERT_EQ(with_control.Export(), S_OK);
    ASSERT_TRUE(control.body_set.has_value());
    EXPECT_EQ(*control.body_set, (bytes{0x03, 0x30, 0x08, 0x00, 0x02, 0, 0, 0, 0, 0, 0, 0, 0x00, 0x2A, 0, 0}));
    EXPECT_EQ(info.calls("GetILFunctionBodyAllocator"), 0u);
    EXPECT_EQ(info.calls("SetILFunctionBody"), 0u);

    control_failures.fail("SetILFunctionBody", E_ACCESSDENIED);
    EXPECT_EQ(with_control.Export(), E_ACCESSDENIED);
}

TEST_F(RewriterTest, TinyHeaderOnRequestOnlyWhenNothingWouldBeLost) {
    accept(tiny_body({0x00, 0x2A}));
    rewriter->m_tinyHeader = true;
    ASSERT_EQ(rewriter->Export(), S_OK);
    EXPECT_EQ(*installed(), (bytes{0x0A, 0x00, 0x2A}));

    const struct {
        const char* name;
        bytes body;
    } refused[] = {
        {"64 bytes of code", tiny_body(concat({repeat(0x00, 62), {0x2A}}))},  // 63 bytes, one more is inserted
        {"a local signature", fat_body(0, 8, {0x2A}, 0x11000001)},
        {"a clause", fat_body(0, 8, try_finally_code, 0, fat_eh({{COR_ILEXCEPTION_CLAUSE_FINALLY, 0, 3, 3, 3, 0}}))},
    };
    for (const auto& row : refused) {
        SCOPED_TRACE(row.name);
        accept(row.body);
        insert_nops(*rewriter, rewriter->GetILList(), 1);
        rewriter->m_tinyHeader = true;
        EXPECT_EQ(rewriter->Export(), E_FAIL);
        EXPECT_EQ(installed(), nullptr);
    }
}

TEST_F(RewriterTest, ExportRefusesListsEmittersLeftIncomplete) {
    const struct {
        const char* name;
        void (*spoil)(ILRewriter&);
    } rows[] = {
        {"branch without target", [](ILRewriter& r) { r.EmitBranch(op::br, nullptr); }},
        {"switch without its cases", [](ILRewriter& r) { r.Emit(op::switch_, 2); }},
        {"switch target without switch", [](ILRewriter& r) { r.EmitBranch(op::switch_target, r.GetILList()); }},
        {"undefined opcode", [](ILRewriter& r) { r.Emit(0x24); }},
        {"clause without handler end",
         [](ILRewriter& r) {
             EHClause c;
             c.flags = COR_ILEXCEPTION_CLAUSE_FINALLY;
             c.try_begin = c.try_end = c.handler_begin = r.first_instruction();
             r.AddEHClause(c);
         }},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        accept(tiny_body({0x00, 0x2A}));
        rewriter->m_insertAfter = rewriter->first_instruction();
        row.spoil(*rewriter);
        EXPECT_EQ(rewriter->Export(), COR_E_INVALIDPROGRAM);
        EXPECT_EQ(installed(), nullptr);
    }
}

TEST_F(RewriterTest, EmittedRunFollowsTheCursorAndListsReadably) {
    accept(tiny_body({0x2A}));
    rewriter->m_insertAfter = rewriter->GetILList();
    rewriter->Emit(op::ldc_i4_s, 5);
    rewriter->Emit(op::ldc_i4, 0x12345678);
    rewriter->Emit(op::ldc_i8, 0x1122334455667788);
    rewriter->Emit(op::call, 0x0A000012);
    rewriter->Emit(op::ldarg, 300);
    rewriter->Emit(op::pop);
    EXPECT_EQ(il_listing(*rewriter),
              "IL_0000: ldc.i4.s 5\n"
              "IL_0002: ldc.i4 305419896\n"
              "IL_0007: ldc.i8 1234605616436508552\n"
              "IL_0010: call 0x0A000012\n"
              "IL_0015: ldarg 300\n"
              "IL_0019: pop\n"
              "IL_001A: ret");
    ASSERT_EQ(rewriter->Export(), S_OK);
    EXPECT_EQ(code_of(*installed()),
              concat({{0x1F, 5}, {0x20, 0x78, 0x56, 0x34, 0x12}, {0x21, 0x88, 0x77, 0x66, 0x55, 0x44, 0x33, 0x22, 0x11},
                      {0x28, 0x12, 0, 0, 0x0A}, {0xFE, 0x09, 0x2C, 0x01}, {0x26, 0x2A}}));
}

}  // namespace
