// The shape of wrapped bodies: the whole layout once, then argument packing, the
// write-back, exits and return values by kind, long operand forms, method ids.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "wrap_fixture.h"

namespace wrap_test {
namespace {

// A TypeDefOrRefOrSpecEncoded token (ECMA-335 II.23.2.8) of a small row, as one byte.
uint8_t coded(mdToken token) {
    const uint32_t tag = TypeFromToken(token) == mdtTypeDef ? 0 : TypeFromToken(token) == mdtTypeRef ? 1 : 2;
    return static_cast<uint8_t>(RidFromToken(token) << 2 | tag);
}

// The same for any row: one, two or four bytes.
blob encoded(mdToken token) {
    const uint32_t tag = TypeFromToken(token) == mdtTypeDef ? 0 : TypeFromToken(token) == mdtTypeRef ? 1 : 2;
    const uint32_t value = RidFromToken(token) << 2 | tag;
    if (value < 0x80) return {static_cast<uint8_t>(value)};
    if (value < 0x4000) return {static_cast<uint8_t>(0x80 | value >> 8), static_cast<uint8_t>(value)};
    return {static_cast<uint8_t>(0xC0 | value >> 24), static_cast<uint8_t>(value >> 16),
            static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value)};
}

size_t count_of(const std::vector<std::string>& lines, const std::string& prefix) {
    return static_cast<size_t>(
        std::count_if(lines.begin(), lines.end(), [&](const std::string& l) { return l.rfind(prefix, 0) == 0; }));
}

size_t count_exact(const std::vector<std::string>& lines, const std::string& line) {
    return static_cast<size_t>(std::count(lines.begin(), lines.end(), line));
}

std::string hex_byte(uint8_t value) {
    char text[3];
    std::snprintf(text, sizeof text, "%02x", value);
    return text;
}

// The lines of a listing as they are, offsets included.
std::vector<std::string> raw_lines(const std::string& listing) {
    std::vector<std::string> out;
    size_t start = 0;
    for (size_t end = listing.find('\n'); ; end = listing.find('\n', start)) {
        out.push_back(listing.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (end == std::string::npos) break;
        start = end + 1;
    }
    return out;
}

std::string joined(const std::vector<std::string>& lines) {
    std::string out;
    for (const std::string& line : lines) out += line + "\n";
    return out;
}

class MethodWrapperTest : public WrapFixture {};

TEST_F(MethodWrapperTest, StaticVoidMethodGetsTheWholeLayout) {
    const mdMethodDef ping = method("Ping", {0x00, 0x00, 0x01}, tiny({0x00, 0x2A}));
    ASSERT_EQ(instrument(ping), S_OK);

    EXPECT_EQ(listing(ping), R"IL(IL_0000: nop
IL_0001: nop
IL_0002: nop
IL_0003: nop
IL_0004: nop
IL_0005: nop
IL_0006: nop
IL_0007: nop
IL_0008: nop
IL_0009: nop
IL_000A: nop
IL_000B: nop
IL_000C: nop
IL_000D: ldc.i4 0
IL_0012: call Invokers::ContainsKey
IL_0017: brtrue.s IL_0031
IL_0019: nop
IL_001A: nop
IL_001B: ldc.i4 0
IL_0020: call MethodBase::GetCurrentMethod
IL_0025: ldc.i4 0
IL_002A: call Invokers::RegisterMethod
IL_002F: nop
IL_0030: nop
IL_0031: nop
IL_0032: ldc.i4 0
IL_0037: newobj InstrumentationDirectives::.ctor
IL_003C: stloc.s 1
IL_003E: ldnull
IL_003F: ldc.i4.s 0
IL_0041: newarr System.Object
IL_0046: stloc.s 0
IL_0048: ldloc.s 0
IL_004A: ldloc.s 1
IL_004C: call span::GenericPrologue
IL_0051: ldloc.s 1
IL_0053: callvirt InstrumentationDirectives::GetIndexes
IL_0058: stloc.s 2
IL_005A: ldloc.s 2
IL_005C: brfalse.s IL_0081
IL_005E: ldc.i4.0
IL_005F: stloc.s 3
IL_0061: br.s IL_0073
IL_0063: nop
IL_0064: ldloc.s 2
IL_0066: ldloc.s 3
IL_0068: ldelem.i4
IL_0069: stloc.s 5
IL_006B: nop
IL_006C: nop
IL_006D: ldloc.s 3
IL_006F: ldc.i4.1
IL_0070: add
IL_0071: stloc.s 3
IL_0073: ldloc.s 3
IL_0075: ldloc.s 2
IL_0077: ldlen
IL_0078: conv.i4
IL_0079: clt
IL_007B: stloc.s 4
IL_007D: ldloc.s 4
IL_007F: brtrue.s IL_0063
IL_0081: nop
IL_0082: nop
IL_0083: leave.s IL_0099
IL_0085: nop
IL_0086: ldc.i4 1
IL_008B: ldstr "Failed while attempting to invoke the emitted IL within the instruemented method's body. Shop.Cart.Ping::Prologue();"
IL_0090: call span::Log
IL_0095: nop
IL_0096: nop
IL_0097: leave.s IL_0099
IL_0099: nop
IL_009A: nop
IL_009B: nop
IL_009C: nop
IL_009D: nop
IL_009E: nop
IL_009F: nop
IL_00A0: leave IL_0134
IL_00A5: stloc.s 7
IL_00A7: nop
IL_00A8: nop
IL_00A9: ldc.i4 4
IL_00AE: ldstr "[EmitRethrowErrorBlock] Shop.Cart.Ping::Catch N' Throw About to invoke Tralo.Managed.span.Error()"
IL_00B3: call span::Log
IL_00B8: ldnull
IL_00B9: ldloc.s 7
IL_00BB: call span::Error
IL_00C0: pop
IL_00C1: nop
IL_00C2: nop
IL_00C3: leave.s IL_00DA
IL_00C5: pop
IL_00C6: nop
IL_00C7: ldc.i4 1
IL_00CC: ldstr "[EmitRethrowErrorBlock] Shop.Cart.Ping::Catch N' Throw Failed while invoking Tralo.Managed.span.Error"
IL_00D1: call span::Log
IL_00D6: nop
IL_00D7: nop
IL_00D8: leave.s IL_00DA
IL_00DA: nop
IL_00DB: rethrow
IL_00DD: nop
IL_00DE: leave.s IL_0133
IL_00E0: nop
IL_00E1: ldc.i4 5
IL_00E6: ldstr "[Finally] Shop.Cart.Ping::Finally;"
IL_00EB: call span::Log
IL_00F0: nop
IL_00F1: nop
IL_00F2: nop
IL_00F3: nop
IL_00F4: nop
IL_00F5: nop
IL_00F6: nop
IL_00F7: ldc.i4 0
IL_00FC: newobj InstrumentationDirectives::.ctor
IL_0101: stloc.s 9
IL_0103: ldnull
IL_0104: ldc.i4.s 0
IL_0106: newarr System.Object
IL_010B: stloc.s 8
IL_010D: ldloc.s 8
IL_010F: ldnull
IL_0110: ldloc.s 9
IL_0112: call span::GenericEpilogue
IL_0117: nop
IL_0118: leave.s IL_012E
IL_011A: nop
IL_011B: ldc.i4 1
IL_0120: ldstr "Failed while attempting to invoke the emitted IL within the instruemented method's body. Shop.Cart.Ping::Epilogue();"
IL_0125: call span::Log
IL_012A: nop
IL_012B: nop
IL_012C: leave.s IL_012E
IL_012E: nop
IL_012F: nop
IL_0130: nop
IL_0131: nop
IL_0132: endfinally
IL_0133: nop
IL_0134: ret)IL");
    // Inner before outer: the prologue's catch, the rethrow block's inner and outer
    // catch, the epilogue's catch inside the finally handler, the finally.
    EXPECT_EQ(clauses(ping), R"(catch System.Exception try IL_000A-IL_0085 handler IL_0085-IL_0099
catch System.Exception try IL_00A8-IL_00C5 handler IL_00C5-IL_00DA
catch System.Exception try IL_0005-IL_00A5 handler IL_00A5-IL_00DD
catch System.Exception try IL_00F4-IL_011A handler IL_011A-IL_012E
finally try IL_0001-IL_00E0 handler IL_00E0-IL_0133)");
    EXPECT_EQ(check(ping), std::vector<std::string>{});
    EXPECT_EQ(info.metadata_applied, std::vector<ModuleID>{app.module_id});
    EXPECT_EQ(messages(Error), std::vector<std::string>{});
}

struct packing_row {
    const char* name;
    blob signature;  // of a static method
    std::vector<std::string> packed;  // what puts argument 0 into the array
    std::vector<std::string> stored;  // the write-back's store, empty for none
};

// Every wrapped body of the rows must pass the structural check too: a box of a
// by-ref-like type or a wrong write-back would show there or in the listing.
TEST_F(MethodWrapperTest, ArgumentsArePackedAndWrittenBackByKind) {
    const uint8_t point_type = coded(point);
    const std::vector<packing_row> rows = {
        {"int32 is boxed and unboxed", {0x00, 0x01, 0x01, 0x08},
         {"ldarg.s 0", "box System.Int32"}, {"unbox.any System.Int32", "starg.s 0"}},
        {"double is boxed through a core library type imported into the module", {0x00, 0x01, 0x01, 0x0D},
         {"ldarg.s 0", "box System.Double"}, {"unbox.any System.Double", "starg.s 0"}},
        {"char without a core library type is null and never written", {0x00, 0x01, 0x01, 0x03}, {"ldnull"}, {}},
        {"string is passed as it is and never written", {0x00, 0x01, 0x01, 0x0E}, {"ldarg.s 0"}, {}},
        {"object is stored without a cast", {0x00, 0x01, 0x01, 0x1C}, {"ldarg.s 0"}, {"starg.s 0"}},
        {"class is cast on the way back", {0x00, 0x01, 0x01, 0x12, coded(cart)},
         {"ldarg.s 0"}, {"castclass Shop.Cart", "starg.s 0"}},
        {"array is passed as it is", {0x00, 0x01, 0x01, 0x1D, 0x08}, {"ldarg.s 0"}, {}},
        {"generic class is passed as it is", {0x00, 0x01, 0x01, 0x15, 0x12, coded(list_ref), 0x01, 0x08},
         {"ldarg.s 0"}, {}},
        {"ref int is read through the reference and never written", {0x00, 0x01, 0x01, 0x10, 0x08},
         {"ldarg.s 0", "ldobj System.Int32", "box System.Int32"}, {}},
        {"ref string is null", {0x00, 0x01, 0x01, 0x10, 0x0E}, {"ldnull"}, {}},
        {"ref object is null and never written", {0x00, 0x01, 0x01, 0x10, 0x1C}, {"ldnull"}, {}},
        {"struct of the module is boxed", {0x00, 0x01, 0x01, 0x11, point_type},
         {"ldarg.s 0", "box Shop.Point"}, {}},
        {"ref struct of the module is read and boxed", {0x00, 0x01, 0x01, 0x10, 0x11, point_type},
         {"ldarg.s 0", "ldobj Shop.Point", "box Shop.Point"}, {}},
        {"core library struct is boxed", {0x00, 0x01, 0x01, 0x11, coded(date_time_ref)},
         {"ldarg.s 0", "box System.DateTime"}, {}},
        {"instantiated value type is boxed through its type specification",
         {0x00, 0x01, 0x01, 0x15, 0x11, coded(nullable_ref), 0x01, 0x08},
         {"ldarg.s 0", "box typespec(15 11 " + hex_byte(coded(nullable_ref)) + " 01 08)"}, {}},
        {"by-ref-like struct of the module is null", {0x00, 0x01, 0x01, 0x11, coded(buffer)}, {"ldnull"}, {}},
        {"Span<int> is null", {0x00, 0x01, 0x01, 0x15, 0x11, coded(span_ref), 0x01, 0x08}, {"ldnull"}, {}},
        {"struct of an assembly that cannot be read is null", {0x00, 0x01, 0x01, 0x11, coded(unknown_struct_ref)},
         {"ldnull"}, {}},
        {"pointer is null", {0x00, 0x01, 0x01, 0x0F, 0x08}, {"ldnull"}, {}},
        {"function pointer is null", {0x00, 0x01, 0x01, 0x1B, 0x00, 0x00, 0x01}, {"ldnull"}, {}},
        {"typed reference is null", {0x00, 0x01, 0x01, 0x16}, {"ldnull"}, {}},
        {"method type parameter whose constraints cannot be read is null",
         {0x10, 0x01, 0x01, 0x01, 0x1E, 0x00}, {"ldnull"}, {}},
    };
    int n = 0;
    for (const packing_row& row : rows) {
        SCOPED_TRACE(row.name);
        const mdMethodDef put = method("Put" + std::to_string(n++), row.signature, tiny({0x00, 0x2A}));
        ASSERT_EQ(instrument(put), S_OK);
        const std::vector<std::string> lines = instructions(listing(put));

        std::vector<std::string> packing = {"ldloc.s 0", "ldc.i4 0"};
        packing.insert(packing.end(), row.packed.begin(), row.packed.end());
        packing.push_back("stelem.ref");
        EXPECT_TRUE(contains_run(lines, packing)) << joined(lines);
        EXPECT_EQ(count_of(lines, "stelem.ref"), 2u) << "prologue and epilogue each pack the argument";

        if (row.stored.empty()) {
            EXPECT_EQ(count_of(lines, "starg"), 0u) << joined(lines);
        } else {
            std::vector<std::string> store = {"ldloc.s 0", "ldc.i4.s 0", "ldelem.ref"};
            store.insert(store.end(), row.stored.begin(), row.stored.end());
            EXPECT_TRUE(contains_run(lines, store)) << joined(lines);
            EXPECT_EQ(count_of(lines, "starg"), 1u);
        }
        EXPECT_EQ(check(put), std::vector<std::string>{});
    }
}

TEST_F(MethodWrapperTest, InstanceMethodPassesThisAndWritesBackOnlyReplaceableArguments) {
    // instance int32 Compute(int32 a, string s, object o, int32& r) { return a; }
    const mdMethodDef compute = method("Compute", {0x20, 0x04, 0x08, 0x08, 0x0E, 0x1C, 0x10, 0x08},
                                       tiny({0x03, 0x2A}));
    ASSERT_EQ(instrument(compute), S_OK);
    const std::vector<std::string> lines = instructions(listing(compute));

    EXPECT_TRUE(contains_run(lines, {"newobj InstrumentationDirectives::.ctor", "stloc.s 1", "ldarg.0",
                                     "ldc.i4.s 4", "newarr System.Object", "stloc.s 0", "ldloc.s 0", "ldc.i4 0",
                                     "ldarg.s 1", "box System.Int32", "stelem.ref", "ldloc.s 0", "ldc.i4 1",
                                     "ldarg.s 2", "stelem.ref", "ldloc.s 0", "ldc.i4 2", "ldarg.s 3", "stelem.ref",
                                     "ldloc.s 0", "ldc.i4 3", "ldarg.s 4", "ldobj System.Int32", "box System.Int32",
                                     "stelem.ref", "ldloc.s 0", "ldloc.s 1", "call span::GenericPrologue"}))
        << joined(lines);
    // The write-back of `a` (index 0) whole; `o` (index 2) is the only other one.
    EXPECT_TRUE(contains_run(lines, {"nop", "ldloc.s 5", "ldc.i4.s 0", "bne.un.s <target>", "ldloc.s 0",
                                     "ldc.i4.s 0", "ldelem.ref", "ldnull", "ceq", "br.s <target>", "ldc.i4.1", "nop",
                                     "stloc.s 6", "ldloc.s 6", "brtrue.s <target>", "ldloc.s 0", "ldc.i4.s 0",
                                     "ldelem.ref", "unbox.any System.Int32", "starg.s 1", "nop", "nop"}))
        << joined(lines);
    EXPECT_TRUE(contains_run(lines, {"ldloc.s 0", "ldc.i4.s 2", "ldelem.ref", "starg.s 3"}));
    EXPECT_EQ(count_of(lines, "starg"), 2u) << "neither the string nor the reference is written back";
    // The epilogue passes `this` and the int32 result, boxed.
    EXPECT_TRUE(contains_run(lines, {"ldloc.s 9", "ldloc.s 7", "box System.Int32", "ldloc.s 10",
                                     "call span::GenericEpilogue"}))
        << joined(lines);
    EXPECT_EQ(check(compute), std::vector<std::string>{});
}

TEST_F(MethodWrapperTest, EveryReturnLeavesThroughTheCommonExit) {
    // static int32 Sign(int32 x) { if (x >= 0) goto positive; return -1; positive: return 1; }
    const mdMethodDef sign =
        method("Sign", {0x00, 0x01, 0x08, 0x08}, tiny({0x02, 0x16, 0x2F, 0x02, 0x15, 0x2A, 0x17, 0x2A}));
    ASSERT_EQ(instrument(sign), S_OK);
    const std::string text = listing(sign);
    const std::vector<std::string> lines = instructions(text);

    EXPECT_EQ(count_exact(lines, "ret"), 1u);
    // The early return stores its value and leaves; the last one falls into the end
    // marker after storing it.
    EXPECT_TRUE(contains_run(lines, {"ldc.i4.m1", "stloc.s 7", "nop", "leave <target>", "ldc.i4.1", "nop", "nop",
                                     "stloc.s 7", "nop", "nop", "leave <target>"}))
        << text;
    // Both leave to the nop that starts the common exit: nop, ldloc.s 7, ret.
    const std::vector<std::string> raw = raw_lines(text);
    ASSERT_GE(raw.size(), 3u);
    const std::string exit = raw[raw.size() - 3];
    EXPECT_EQ(exit.substr(9), "nop");
    const auto minus_one = std::find_if(raw.begin(), raw.end(), [](const std::string& l) {
        return l.find(": ldc.i4.m1") != std::string::npos;
    });
    const auto early_leave = std::find_if(minus_one, raw.end(), [](const std::string& l) {
        return l.find(": leave") != std::string::npos;
    });
    ASSERT_NE(early_leave, raw.end());
    EXPECT_EQ(early_leave->substr(early_leave->size() - 7), exit.substr(0, 7)) << text;
    EXPECT_EQ(lines.back(), "ret");
    EXPECT_EQ(lines[lines.size() - 2], "ldloc.s 7");
    EXPECT_EQ(check(sign), std::vector<std::string>{});

    // void with three returns: each early one is a plain leave.s.
    const mdMethodDef skip = method("Skip", {0x00, 0x01, 0x01, 0x08},
                                    tiny({0x02, 0x2C, 0x01, 0x2A, 0x02, 0x16, 0x2E, 0x01, 0x2A, 0x2A}));
    ASSERT_EQ(instrument(skip), S_OK);
    const std::vector<std::string> void_lines = instructions(listing(skip));
    EXPECT_EQ(count_exact(void_lines, "ret"), 1u);
    EXPECT_TRUE(contains_run(void_lines, {"brfalse.s <target>", "leave <target>", "ldarg.0", "ldc.i4.0",
                                          "beq.s <target>", "leave <target>", "nop", "nop", "nop", "nop",
                                          "leave <target>"}))
        << joined(void_lines);
    EXPECT_EQ(check(skip), std::vector<std::string>{});
}

struct return_row {
    const char* name;
    blob return_type;
    blob local_type;  // the return local's type in the local signature
    std::vector<std::string> epilogue_value;
    bool defines_type_spec;
};

TEST_F(MethodWrapperTest, ReturnValuesAreKeptInALocalOfTheReturnType) {
    const uint8_t nullable = coded(nullable_ref);
    const std::vector<return_row> rows = {
        {"int32", {0x08}, {0x08}, {"ldloc.s 7", "box System.Int32"}, false},
        {"int32 with a custom modifier", {0x20, coded(int32_ref), 0x08}, {0x08}, {"ldloc.s 7", "box System.Int32"},
         false},
        {"string", {0x0E}, {0x0E}, {"ldloc.s 7"}, false},
        {"class", {0x12, coded(cart)}, {0x12, coded(cart)}, {"ldloc.s 7"}, false},
        {"struct", {0x11, coded(point)}, {0x11, coded(point)}, {"ldloc.s 7", "box Shop.Point"}, false},
        {"array", {0x1D, 0x08}, {0x1D, 0x08}, {"ldloc.s 7"}, true},
        {"instantiated value type", {0x15, 0x11, nullable, 0x01, 0x08}, {0x15, 0x11, nullable, 0x01, 0x08},
         {"ldloc.s 7", "box typespec(15 11 " + hex_byte(nullable) + " 01 08)"}, true},
        {"Span<int>", {0x15, 0x11, coded(span_ref), 0x01, 0x08}, {0x15, 0x11, coded(span_ref), 0x01, 0x08},
         {"ldnull"}, true},
        {"pointer", {0x0F, 0x08}, {0x0F, 0x08}, {"ldnull"}, true},
    };
    int n = 0;
    for (const return_row& row : rows) {
        SCOPED_TRACE(row.name);
        blob signature = {0x00, 0x00};
        signature.insert(signature.end(), row.return_type.begin(), row.return_type.end());
        // The body returns whatever its one local holds.
        const mdSignature locals = app.add_standalone_sig(concat({{0x07, 0x01}, row.local_type}));
        const mdMethodDef get = method("Get" + std::to_string(n++), signature, fat({0x06, 0x2A}, 1, locals));
        const size_t specs_before = app.type_specs.size();
        ASSERT_EQ(instrument(get), S_OK);
        const std::string text = listing(get);
        const std::vector<std::string> lines = instructions(text);

        // Local 0 is the method's own; the prologue adds 1..7, the return local is 8.
        std::vector<std::string> epilogue = {"ldloc.s 10"};
        for (std::string line : row.epilogue_value) {
            if (line == "ldloc.s 7") line = "ldloc.s 8";
            epilogue.push_back(line);
        }
        epilogue.insert(epilogue.end(), {"ldloc.s 11", "call span::GenericEpilogue"});
        EXPECT_TRUE(contains_run(lines, epilogue)) << text;
        EXPECT_EQ(lines[lines.size() - 2], "ldloc.s 8");

        // The local signature: the method's own local, the prologue's seven, the
        // return local, the exception, the epilogue's two.
        const mdTypeRef directives = last_type_ref(u"Nimbrel.Instrumentation.InstrumentationDirectives");
        const mdTypeRef exception = last_type_ref(u"System.Exception");
        const blob expected_locals =
            concat({{0x07, 0x0C}, row.local_type, {0x1D, 0x1C, 0x12}, encoded(directives),
                    {0x1D, 0x08, 0x08, 0x02, 0x08, 0x02}, row.local_type, {0x12}, encoded(exception),
                    {0x1D, 0x1C, 0x12}, encoded(directives)});
        EXPECT_EQ(app.standalone_sigs.back(), expected_locals);
        EXPECT_EQ(app.type_specs.size() > specs_before, row.defines_type_spec);
        EXPECT_EQ(check(get), std::vector<std::string>{});
    }
}

TEST_F(MethodWrapperTest, LargeMethodsUseTheLongOperandForms) {
    // static void Wide(int32 x 300) with 300 int32 locals of its own.
    blob signature = {0x00, 0x81, 0x2C, 0x01};
    signature.insert(signature.end(), 300, 0x08);
    blob local_types = {0x07, 0x81, 0x2C};
    local_types.insert(local_types.end(), 300, 0x08);
    const mdMethodDef wide = method("Wide", signature, fat({0x2A}, 1, app.add_standalone_sig(local_types)));
    ASSERT_EQ(instrument(wide), S_OK);
    const std::vector<std::string> lines = instructions(listing(wide));

    EXPECT_TRUE(contains_run(lines, {"ldc.i4 300", "newarr System.Object", "stloc 300"})) << "array size and local";
    EXPECT_TRUE(contains_run(lines, {"ldloc 300", "ldc.i4 299", "ldarg 299", "box System.Int32", "stelem.ref"}));
    // Write-back: index 200 needs the long constant, argument 299 the long starg.
    EXPECT_TRUE(contains_run(lines, {"ldloc 305", "ldc.i4 200", "bne.un.s <target>"}));
    EXPECT_TRUE(contains_run(lines, {"ldc.i4 200", "ldelem.ref", "unbox.any System.Int32", "starg.s 200"}));
    EXPECT_TRUE(contains_run(lines, {"ldc.i4 299", "ldelem.ref", "unbox.any System.Int32", "starg 299"}));
    EXPECT_TRUE(contains_run(lines, {"ldloc 300", "ldc.i4.s 100", "ldelem.ref", "unbox.any System.Int32",
                                     "starg.s 100"}));
    EXPECT_EQ(check(wide), std::vector<std::string>{});
}

TEST_F(MethodWrapperTest, MethodIdsCountUpAndTheSelectionFlagIsPassedOn) {
    const mdMethodDef first = method("First", {0x00, 0x00, 0x01}, tiny({0x2A}));
    const mdMethodDef second = method("Second", {0x00, 0x00, 0x01}, tiny({0x2A}));
    ASSERT_EQ(instrument(first, 0), S_OK);
    ASSERT_EQ(instrument(second, 1), S_OK);

    EXPECT_TRUE(contains_run(instructions(listing(first)),
                             {"ldc.i4 0", "call Invokers::ContainsKey", "brtrue.s <target>", "nop", "nop", "ldc.i4 0",
                              "call MethodBase::GetCurrentMethod", "ldc.i4 0", "call Invokers::RegisterMethod"}));
    const std::vector<std::string> lines = instructions(listing(second));
    EXPECT_TRUE(contains_run(lines, {"ldc.i4 1", "call Invokers::ContainsKey", "brtrue.s <target>", "nop", "nop",
                                     "ldc.i4 1", "call MethodBase::GetCurrentMethod", "ldc.i4 1",
                                     "call Invokers::RegisterMethod"}));
    EXPECT_TRUE(contains_run(lines, {"ldloc.s 4", "brtrue.s <target>", "nop", "nop", "leave.s <target>"}));
    EXPECT_TRUE(contains_run(lines, {"nop", "ldc.i4 1", "newobj InstrumentationDirectives::.ctor", "stloc.s 9"}))
        << "the epilogue's id";
}

}  // namespace
}  // namespace wrap_test
