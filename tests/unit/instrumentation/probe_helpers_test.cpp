// The probe toolkit: probes at entry and exits, the re-installed body with and
// without them, the generated helper body, and the whole-body try/catch.
#include "instrumentation/probe_helpers.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "il/il_listing.h"
#include "il/il_rewriter.h"
#include "support/fake_function_control.h"
#include "wrap_fixture.h"

namespace wrap_test {
namespace {

class ProbeHelpersTest : public WrapFixture {
protected:
    ProbeHelpersTest() {
        enter = app.add_member_ref(cart, "Enter", {0x00, 0x03, 0x01, 0x08, 0x08, 0x08});
        leave = app.add_member_ref(cart, "Leave", {0x00, 0x03, 0x01, 0x08, 0x08, 0x08});
    }
    std::vector<std::string> probe(mdToken probe_method, mdMethodDef method_token, int32_t n, uint32_t local) {
        return {"ldc.i4 " + std::to_string(static_cast<int32_t>(app.module_id)),
                "ldc.i4 " + std::to_string(static_cast<int32_t>(method_token)),
                "ldc.i4 " + std::to_string(n),
                "stloc " + std::to_string(local),
                "ldloc " + std::to_string(local),
                "call " + name_of(probe_method)};
    }
    mdMemberRef enter = 0, leave = 0;
};

TEST_F(ProbeHelpersTest, ExitProbesFollowEveryRet) {
    // static int32 Sign(int32 x): two returns.
    const mdMethodDef sign = method("Sign", {0x00, 0x01, 0x08, 0x08},
                                    tiny({0x02, 0x16, 0x2F, 0x02, 0x15, 0x2A, 0x17, 0x2A}));
    ILRewriter rewriter(&info, nullptr, app.module_id, sign);
    ASSERT_EQ(rewriter.Import(), S_OK);
    const uint32_t stack = rewriter.m_maxStack;
    ASSERT_EQ(AddExitProbe(&rewriter, app.module_id, sign, 7, 0, leave), S_OK);
    EXPECT_EQ(rewriter.m_maxStack, stack + 10) << "five slots per probe";

    std::vector<std::string> expected = {"ldarg.0", "ldc.i4.0", "bge.s <target>", "ldc.i4.m1", "nop"};
    for (const auto& line : probe(leave, sign, 7, 0)) expected.push_back(line);
    expected.insert(expected.end(), {"ret", "ldc.i4.1", "nop"});
    for (const auto& line : probe(leave, sign, 7, 0)) expected.push_back(line);
    expected.push_back("ret");
    const std::string text = il_listing(rewriter);
    std::vector<std::string> lines = instructions(text);
    for (std::string& line : lines) {  // name the call operand as the fixture does
        const size_t at = line.find("call 0x");
        if (at != std::string::npos) {
            line = "call " + name_of(static_cast<mdToken>(std::stoul(line.substr(at + 5), nullptr, 16)));
        }
    }
    EXPECT_EQ(lines, expected) << text;
    // The branch over the first exit still reaches the code after it, behind the probe.
    EXPECT_NE(text.find("bge.s IL_0023"), std::string::npos) << text;
}

TEST_F(ProbeHelpersTest, ExitProbeOfABodyWithoutRetChangesNothing) {
    const mdMethodDef fail = method("Fail", {0x00, 0x00, 0x01}, tiny({0x14, 0x7A}));
    ILRewriter rewriter(&info, nullptr, app.module_id, fail);
    ASSERT_EQ(rewriter.Import(), S_OK);
    const std::string before = il_listing(rewriter);
    EXPECT_EQ(AddExitProbe(&rewriter, app.module_id, fail, 1, 0, leave), E_FAIL);
    EXPECT_EQ(il_listing(rewriter), before);
}

TEST_F(ProbeHelpersTest, RewriteIlReinstallsTheBodyWithOrWithoutProbes) {
    const mdSignature locals = app.add_standalone_sig({0x07, 0x01, 0x08});
    const mdMethodDef total = method("Total", {0x00, 0x00, 0x08}, fat({0x16, 0x0A, 0x06, 0x2A}, 1, locals));

    ASSERT_EQ(RewriteIL(&info, nullptr, app.module_id, total, 0, enter, leave), S_OK);
    EXPECT_EQ(instructions(listing(total)), (std::vector<std::string>{"ldc.i4.0", "stloc.0", "ldloc.0", "ret"}));

    ASSERT_EQ(RewriteIL(&info, nullptr, app.module_id, total, 3, enter, leave), S_OK);
    std::vector<std::string> expected = probe(enter, total, 3, 1);
    expected.insert(expected.end(), {"ldc.i4.0", "stloc.0", "ldloc.0", "nop"});
    for (const auto& line : probe(leave, total, 3, 1)) expected.push_back(line);
    expected.push_back("ret");
    EXPECT_EQ(instructions(listing(total)), expected);
    EXPECT_EQ(check(total), std::vector<std::string>{});
}

TEST_F(ProbeHelpersTest, RewriteIlHandsTheBodyToTheFunctionControl) {
    const mdMethodDef ping = method("Ping", {0x00, 0x00, 0x01}, tiny({0x00, 0x2A}));
    test_support::fake_function_control control(info.failures());
    ASSERT_EQ(RewriteIL(&info, &control, app.module_id, ping, 0, enter, leave), S_OK);
    ASSERT_TRUE(control.body_set.has_value());
    // A fat header (max stack 8: the tiny header's), code size 2, no locals, the code
    // padded to four bytes.
    EXPECT_EQ(*control.body_set,
              (blob{0x03, 0x30, 0x08, 0x00, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x2A, 0x00, 0x00}));
    EXPECT_EQ(app.body_set(ping), nullptr) << "nothing through the profiler info";
}

TEST_F(ProbeHelpersTest, ManagedHelperGetsItsGeneratedBody) {
    const mdMethodDef helper = method("Helper", {0x20, 0x02, 0x01, 0x18, 0x08}, tiny({0x2A}));
    const mdMemberRef m1 = app.add_member_ref(cart, "First", {0x00, 0x01, 0x01, 0x0B});
    const mdMemberRef m2 = app.add_member_ref(cart, "Second", {0x00, 0x02, 0x01, 0x18, 0x08});
    ASSERT_EQ(SetILForManagedHelper(&info, app.module_id, helper, m1, m2), S_OK);
    const blob expected = concat({{0x46, 0x00, 0x02, 0x6E, 0x28}, token_bytes(m1), {0x03, 0x04, 0x28},
                                  token_bytes(m2), {0x00, 0x2A}});
    ASSERT_NE(app.body_set(helper), nullptr);
    EXPECT_EQ(*app.body_set(helper), expected) << "tiny header: 17 bytes of code";
}

TEST_F(ProbeHelpersTest, WholeBodyTryCatchOnlyForAVoidMethodEndingInItsOneRet) {
    const mdMemberRef handler = app.add_member_ref(cart, "Handle", {0x00, 0x01, 0x01, 0x1C});
    const mdMethodDef ping = method("Ping", {0x00, 0x00, 0x01}, tiny({0x00, 0x2A}));
    ASSERT_EQ(wrap_in_try_catch(&info, app.module_id, ping, handler), S_OK);
    EXPECT_EQ(instructions(listing(ping)),
              (std::vector<std::string>{"nop", "nop", "nop", "leave.s <target>", "nop", "stloc.s 0", "ldloc.s 0",
                                        "call Cart::Handle", "leave.s <target>", "nop", "ret"}));
    EXPECT_EQ(clauses(ping), "catch System.Exception try IL_0000-IL_0005 handler IL_0005-IL_0011");
    EXPECT_EQ(check(ping), std::vector<std::string>{});

    const struct {
        const char* name;
        blob signature;
        blob body;
    } refused[] = {
        {"a value to return", {0x00, 0x00, 0x08}, tiny({0x16, 0x2A})},
        {"two returns", {0x00, 0x01, 0x01, 0x08}, tiny({0x02, 0x2C, 0x01, 0x2A, 0x2A})},
        {"code after the ret", {0x00, 0x00, 0x01}, tiny({0x2B, 0x01, 0x2A, 0x2B, 0xFD})},
    };
    for (const auto& row : refused) {
        SCOPED_TRACE(row.name);
        const mdMethodDef target = method(std::string("Refused") + row.name, row.signature, row.body);
        EXPECT_EQ(wrap_in_try_catch(&info, app.module_id, target, handler), S_FALSE);
        EXPECT_EQ(app.body_set(target), nullptr);
    }
}

}  // namespace
}  // namespace wrap_test
