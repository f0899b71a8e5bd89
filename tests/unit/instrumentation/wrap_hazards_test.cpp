// Methods the emitters must not break: the ones they leave alone, and the ones whose
// shape the plain layout would get wrong (code after the last ret, a body's own
// clauses, the rethrow that keeps the original exception).
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "il/il_rewriter.h"
#include "instrumentation/exception_blocks.h"
#include "wrap_fixture.h"

namespace wrap_test {
namespace {

std::string joined(const std::vector<std::string>& lines) {
    std::string out;
    for (const std::string& line : lines) out += line + "\n";
    return out;
}

size_t count_exact(const std::vector<std::string>& lines, const std::string& line) {
    return static_cast<size_t>(std::count(lines.begin(), lines.end(), line));
}

class WrapHazardsTest : public WrapFixture {};

struct skip_row {
    const char* name;
    std::string method;
    blob signature;
    blob body;
    bool on_struct;  // a method of Shop.Point instead of Shop.Cart
    std::string reason;
};

TEST_F(WrapHazardsTest, MethodsTheEmittersCannotExpressAreLeftAloneWithOneDebugLine) {
    const mdMethodDef other = method("Other", {0x00, 0x01, 0x08, 0x08}, tiny({0x02, 0x2A}));
    const mdMethodDef jump_target = method("JumpTarget", {0x00, 0x01, 0x01, 0x08}, tiny({0x2A}));
    const std::vector<skip_row> rows = {
        {"instance method of a struct", "Length", {0x20, 0x00, 0x08}, tiny({0x16, 0x2A}), true,
         "its declaring type is a value type, so 'this' is a managed pointer"},
        {"constructor of a struct", ".ctor", {0x20, 0x01, 0x01, 0x08}, tiny({0x2A}), true,
         "its declaring type is a value type, so 'this' is a managed pointer"},
        {"by-reference return", "Slot", {0x00, 0x00, 0x10, 0x08}, tiny({0x14, 0x2A}), false,
         "it returns by reference"},
        {"by-reference return behind a custom modifier", "ReadOnlySlot", {0x00, 0x00, 0x1F, 0x05, 0x10, 0x08},
         tiny({0x14, 0x2A}), false, "it returns by reference"},
        {"typed reference return", "Typed", {0x00, 0x00, 0x16}, tiny({0x14, 0x2A}), false,
         "it returns a typed reference"},
        {"every exit throws", "Fail", {0x00, 0x00, 0x01}, tiny(concat({{0x73}, token_bytes(exception_ctor), {0x7A}})),
         false, "it has no ret: every exit throws or loops"},
        {"endless loop", "Spin", {0x00, 0x00, 0x01}, tiny({0x00, 0x2B, 0xFD}), false,
         "it has no ret: every exit throws or loops"},
        {"tail call", "Tail", {0x00, 0x01, 0x08, 0x08},
         tiny(concat({{0x02, 0xFE, 0x14, 0x28}, token_bytes(other), {0x2A}})), false,
         "it makes a tail. call, which must stay followed by ret"},
        {"no IL body (abstract, extern, runtime-implemented)", "Abstract", {0x20, 0x00, 0x01}, {}, false,
         "it has no IL body"},
        {"jmp", "Jump", {0x00, 0x01, 0x01, 0x08}, tiny(concat({{0x27}, token_bytes(jump_target), {0x2A}})), false,
         "it contains jmp, which is not allowed inside a protected region"},
    };
    for (const skip_row& row : rows) {
        SCOPED_TRACE(row.name);
        const mdMethodDef target = method(row.method, row.signature, row.body, row.on_struct ? point : cart);
        const size_t assembly_refs = app.assembly_refs.size();
        const size_t member_refs = app.member_refs.size();
        const size_t signatures = app.standalone_sigs.size();
        const int32_t next_id = methodCounter.load();

        EXPECT_EQ(instrument(target), S_FALSE);

        EXPECT_EQ(app.body_set(target), nullptr);
        EXPECT_EQ(info.calls("SetILFunctionBody"), 0u);
        const std::string type = row.on_struct ? "Shop.Point" : "Shop.Cart";
        const std::string line = "Method " + type + "." + row.method + " left unchanged: " + row.reason + ".";
        EXPECT_EQ(messages(Debug), std::vector<std::string>{line});
        EXPECT_EQ(messages(Error), std::vector<std::string>{});
        // Decided before anything was defined or counted.
        EXPECT_EQ(app.assembly_refs.size(), assembly_refs);
        EXPECT_EQ(app.member_refs.size(), member_refs);
        EXPECT_EQ(app.standalone_sigs.size(), signatures);
        EXPECT_EQ(methodCounter.load(), next_id);
    }
}

// The runtime raises the JIT callback again for a method it recompiles (tiering,
// on-stack replacement) and hands out the body installed before.
TEST_F(WrapHazardsTest, ABodyWrappedBeforeIsNotWrappedAgain) {
    const mdMethodDef ping = method("Ping", {0x00, 0x00, 0x01}, tiny({0x2A}));
    ASSERT_EQ(instrument(ping), S_OK);
    const blob installed = *app.body_set(ping);
    EXPECT_EQ(instrument(ping), S_FALSE);
    EXPECT_EQ(messages(Debug),
              std::vector<std::string>{"Method Shop.Cart.Ping left unchanged: its body is already instrumented."});
    EXPECT_EQ(info.calls("SetILFunctionBody"), 1u);
    EXPECT_EQ(*app.body_set(ping), installed);
}

TEST_F(WrapHazardsTest, FindLastExitPointNamesTheLastRet) {
    const struct {
        const char* name;
        blob code;
        HRESULT result;
        uint32_t last_offset;
        bool several;
    } rows[] = {
        {"one ret", {0x00, 0x2A}, S_OK, 1, false},
        {"two rets", {0x02, 0x2C, 0x01, 0x2A, 0x2A}, S_OK, 4, true},
        {"a ret followed by a loop", {0x2B, 0x01, 0x2A, 0x2B, 0xFD}, S_OK, 2, false},
        {"none", {0x14, 0x7A}, E_FAIL, 0, false},
    };
    int n = 0;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const mdMethodDef target = method("Exits" + std::to_string(n++), {0x00, 0x01, 0x01, 0x08}, tiny(row.code));
        ILRewriter rewriter(&info, nullptr, app.module_id, target);
        ASSERT_EQ(rewriter.Import(), S_OK);
        ILInstr* last = nullptr;
        bool several = false;
        EXPECT_EQ(FindLastExitPoint(rewriter, &last, &several), row.result);
        if (row.result == S_OK) {
            ASSERT_NE(last, nullptr);
            EXPECT_EQ(last->offset, row.last_offset);
        } else {
            EXPECT_EQ(last, nullptr);
        }
        EXPECT_EQ(several, row.several);
    }
}

TEST_F(WrapHazardsTest, StaticMethodsOfStructsAreWrapped) {
    const mdMethodDef create = method("Create", {0x00, 0x00, 0x08}, tiny({0x16, 0x2A}), point);
    EXPECT_EQ(instrument(create), S_OK);
    EXPECT_EQ(check(create), std::vector<std::string>{});
}

// A loop whose back branch is the last instruction: the code after the last ret must
// stay inside the new protected regions, or its branches would cross into them.
TEST_F(WrapHazardsTest, CodeAfterTheLastRetStaysInsideTheProtectedRegions) {
    // static int32 Find(int32[] a, int32 v) { int i = 0; for (;;) { if (a[i] == v) return i; i++; } }
    const mdSignature locals = app.add_standalone_sig({0x07, 0x01, 0x08});
    const blob loop = {0x16, 0x0A,                    // ldc.i4.0; stloc.0
                       0x02, 0x06, 0x94, 0x03,        // top: ldarg.0; ldloc.0; ldelem.i4; ldarg.1
                       0x33, 0x02, 0x06, 0x2A,        // bne.un.s next; ldloc.0; ret
                       0x06, 0x17, 0x58, 0x0A,        // next: ldloc.0; ldc.i4.1; add; stloc.0
                       0x2B, 0xF2};                   // br.s top
    const mdMethodDef find = method("Find", {0x00, 0x02, 0x08, 0x1D, 0x08, 0x08}, fat(loop, 2, locals));
    ASSERT_EQ(instrument(find), S_OK);
    const std::vector<std::string> lines = instructions(listing(find));
    EXPECT_EQ(check(find), std::vector<std::string>{}) << joined(lines);
    EXPECT_EQ(count_exact(lines, "ret"), 1u);
    // The ret inside the loop stores and leaves; the back branch is followed by the end
    // marker and the rethrow block's leave.
    EXPECT_TRUE(contains_run(lines, {"ldloc.0", "stloc.s 8", "nop", "leave <target>", "ldloc.0", "ldc.i4.1", "add",
                                     "stloc.0", "br.s <target>", "nop", "nop", "leave <target>"}))
        << joined(lines);

    // A return followed by code that throws.
    // static int32 Check(int32 x) { if (x > 0) return x; throw new Exception(); }
    const mdMethodDef check_method = method(
        "Check", {0x00, 0x01, 0x08, 0x08},
        tiny(concat({{0x02, 0x16, 0x31, 0x02, 0x02, 0x2A, 0x73}, token_bytes(exception_ctor), {0x7A}})));
    ASSERT_EQ(instrument(check_method), S_OK);
    const std::vector<std::string> throwing = instructions(listing(check_method));
    EXPECT_EQ(check(check_method), std::vector<std::string>{}) << joined(throwing);
    EXPECT_TRUE(contains_run(throwing, {"newobj Exception::.ctor", "throw", "nop", "nop", "leave <target>"}))
        << joined(throwing);
}

TEST_F(WrapHazardsTest, ClausesNestedInOthersComeBeforeThem) {
    // static int32 Guarded(int32 x) { try { r = 10 / x; } catch (Exception) { r = -1; } return r; }
    const mdSignature locals = app.add_standalone_sig({0x07, 0x01, 0x08});
    const blob code = {0x1F, 0x0A, 0x02, 0x5B, 0x0A, 0xDE, 0x05,  // try: ...; leave.s end
                       0x26, 0x15, 0x0A, 0xDE, 0x00,              // catch: pop; ldc.i4.m1; stloc.0; leave.s end
                       0x06, 0x2A};                               // end: ldloc.0; ret
    const mdMethodDef guarded = method("Guarded", {0x00, 0x01, 0x08, 0x08},
                                       fat(code, 2, locals, {{0, 0, 7, 7, 5, exception_ref}}));
    ASSERT_EQ(instrument(guarded), S_OK);

    // The body's own clause first, then the prologue's catch, the rethrow block's inner
    // and outer catch, the epilogue's catch, the finally. (The checker verifies the
    // nesting of every pair; the kinds show which clause is which.)
    std::vector<std::string> kinds;
    const std::string text = clauses(guarded);
    for (size_t at = 0; at < text.size();) {
        const size_t end = text.find('\n', at);
        const std::string line = text.substr(at, end == std::string::npos ? std::string::npos : end - at);
        kinds.push_back(line.substr(0, line.find(" try")));
        at = end == std::string::npos ? text.size() : end + 1;
    }
    EXPECT_EQ(kinds, (std::vector<std::string>{"catch System.Exception", "catch System.Exception",
                                                "catch System.Exception", "catch System.Exception",
                                                "catch System.Exception", "finally"}))
        << text;
    EXPECT_EQ(check(guarded), std::vector<std::string>{}) << text;
    // The own clause moved behind the prologue with its code.
    EXPECT_EQ(text.rfind("catch System.Exception try IL_0000", 0), std::string::npos) << text;
}

TEST_F(WrapHazardsTest, TheRethrowHandlerRethrowsTheCaughtException) {
    const mdMethodDef ping = method("Ping", {0x00, 0x00, 0x01}, tiny({0x2A}));
    ASSERT_EQ(instrument(ping), S_OK);
    const std::vector<std::string> lines = instructions(listing(ping));
    // After the inner try/catch around Log and Error, the handler ends in rethrow: the
    // caller gets the same exception with its stack trace, not a new throw of it.
    EXPECT_TRUE(contains_run(lines, {"call span::Log", "nop", "nop", "leave.s <target>", "nop", "rethrow"}))
        << joined(lines);
    EXPECT_EQ(count_exact(lines, "throw"), 0u);
    EXPECT_EQ(count_exact(lines, "ldloc.s 7"), 1u) << "the stored exception is read once, for Error";
    EXPECT_EQ(check(ping), std::vector<std::string>{});
}

}  // namespace
}  // namespace wrap_test
