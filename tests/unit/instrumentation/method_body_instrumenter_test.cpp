// The instrumenter's contract with the JIT dispatch: the references it defines, the
// one message per failing step, nothing installed on failure, and the metadata
// applied when the runtime offers it.
#include "instrumentation/method_body_instrumenter.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "il/il_rewriter.h"
#include "logging/hresult_text.h"
#include "logging/text_conversions.h"
#include "runtime/profiler_state.h"
#include "support/wide_text.h"
#include "wrap_fixture.h"

namespace wrap_test {
namespace {

using test_support::utf8;

blob encoded(mdToken token) {
    const uint32_t tag = TypeFromToken(token) == mdtTypeDef ? 0 : TypeFromToken(token) == mdtTypeRef ? 1 : 2;
    const uint32_t value = RidFromToken(token) << 2 | tag;
    if (value < 0x80) return {static_cast<uint8_t>(value)};
    return {static_cast<uint8_t>(0x80 | value >> 8), static_cast<uint8_t>(value)};
}

class MethodBodyInstrumenterTest : public WrapFixture {
protected:
    // The last row of a table whose name matches.
    const test_support::assembly_ref_row* assembly_ref(std::u16string_view name) {
        for (const auto& row : app.assembly_refs) {
            if (row.name == name) return &row;
        }
        return nullptr;
    }
    const test_support::member_ref_row* member_ref(std::u16string_view name) {
        for (size_t i = app.member_refs.size(); i > 0; --i) {
            if (app.member_refs[i - 1].name == name) return &app.member_refs[i - 1];
        }
        return nullptr;
    }
};

TEST_F(MethodBodyInstrumenterTest, DefinesTheAgentAndCoreLibraryReferences) {
    // The module's own MethodBase reference comes first: the signatures use it.
    const mdTypeRef own_method_base = app.add_type_ref("System.Reflection.MethodBase", runtime);
    const mdMethodDef ping = method("Ping", {0x00, 0x00, 0x01}, tiny({0x2A}));
    ASSERT_EQ(instrument(ping), S_OK);

    const struct {
        std::u16string name;
        test_support::assembly_version version;
        blob token;
    } assemblies[] = {
        {u"tralo.managed.core", {4, 3, 1, 0}, {0x3c, 0x9e, 0x51, 0xd0, 0x7a, 0xb4, 0xf8, 0x62}},
        {u"mscorlib", {2, 0, 0, 0}, {0xb7, 0x7a, 0x5c, 0x56, 0x19, 0x34, 0xe0, 0x89}},
        {u"system", {2, 0, 0, 0}, {0xb7, 0x7a, 0x5c, 0x56, 0x19, 0x34, 0xe0, 0x89}},
    };
    for (const auto& expected : assemblies) {
        SCOPED_TRACE(utf8(expected.name));
        const auto* row = assembly_ref(expected.name);
        ASSERT_NE(row, nullptr);
        EXPECT_EQ(row->version.major, expected.version.major);
        EXPECT_EQ(row->version.minor, expected.version.minor);
        EXPECT_EQ(row->version.build, expected.version.build);
        EXPECT_EQ(row->version.revision, expected.version.revision);
        EXPECT_EQ(row->public_key_or_token, expected.token);
        EXPECT_EQ(row->flags, 0u);
    }

    const auto scope_name = [&](std::u16string_view type) {
        const auto* row = app.type_ref(last_type_ref(type));
        return row == nullptr ? std::string("(none)") : utf8(app.assembly_ref(row->scope)->name);
    };
    for (const char16_t* type : {u"System.Boolean", u"System.Exception", u"System.Object",
                                 u"System.Reflection.MethodBase"}) {
        EXPECT_EQ(scope_name(type), "mscorlib") << utf8(type);
    }
    for (const char16_t* type : {u"Nimbrel.Instrumentation.InstrumentationDirectives",
                                 u"Nimbrel.Instrumentation.MethodArgumentCallback", u"tralo.managed.span",
                                 u"Nimbrel.Instrumentation.Invokers", u"Nimbrel.Instrumentation.MethodData"}) {
        EXPECT_EQ(scope_name(type), "tralo.managed.core") << utf8(type);
    }

    const blob directives = encoded(last_type_ref(u"Nimbrel.Instrumentation.InstrumentationDirectives"));
    const blob exception = encoded(last_type_ref(u"System.Exception"));
    const blob method_base = encoded(own_method_base);
    const struct {
        std::u16string name;
        std::u16string parent;
        blob signature;
    } members[] = {
        {u".ctor", u"Nimbrel.Instrumentation.InstrumentationDirectives", {0x20, 0x00, 0x01}},
        {u"GetIndexes", u"Nimbrel.Instrumentation.InstrumentationDirectives", {0x20, 0x00, 0x1d, 0x08}},
        {u"Log", u"tralo.managed.span", {0x00, 0x02, 0x01, 0x08, 0x0e}},
        {u"Error", u"tralo.managed.span", concat({{0x00, 0x02, 0x02, 0x0e, 0x12}, exception})},
        {u"GenericPrologue", u"tralo.managed.span",
         concat({{0x00, 0x04, 0x01, 0x09, 0x1c, 0x1d, 0x1c, 0x12}, directives})},
        {u"GenericEpilogue", u"tralo.managed.span",
         concat({{0x00, 0x05, 0x01, 0x09, 0x1c, 0x1d, 0x1c, 0x1c, 0x12}, directives})},
        {u"ContainsKey", u"Nimbrel.Instrumentation.Invokers", {0x00, 0x01, 0x02, 0x09}},
        {u"GetCurrentMethod", u"System.Reflection.MethodBase", concat({{0x00, 0x00, 0x12}, method_base})},
        {u"RegisterMethod", u"Nimbrel.Instrumentation.Invokers",
         concat({{0x00, 0x03, 0x01, 0x09, 0x12}, method_base, {0x02}})},
    };
    for (const auto& expected : members) {
        SCOPED_TRACE(utf8(expected.name));
        const auto* row = member_ref(expected.name);
        ASSERT_NE(row, nullptr);
        EXPECT_EQ(row->parent, last_type_ref(expected.parent)) << "the reference defined for this method";
        EXPECT_EQ(row->signature, expected.signature);
    }
}

TEST_F(MethodBodyInstrumenterTest, TheDesktopRuntimeReferencesTheDesktopAgent) {
    profiler_state::is_coreclr = false;
    const mdMethodDef ping = method("Ping", {0x00, 0x00, 0x01}, tiny({0x2A}));
    ASSERT_EQ(instrument(ping), S_OK);
    EXPECT_NE(assembly_ref(u"tralo.managed"), nullptr);
    EXPECT_EQ(assembly_ref(u"tralo.managed.core"), nullptr);
    EXPECT_NE(assembly_ref(u"mscorlib"), nullptr) << "the core library is \"mscorlib\" on both runtimes";
}

struct failure_row {
    const char* call;
    unsigned nth;  // counted from the start of create
    std::string message;  // "%s" stands for the status text
    HRESULT result = hr_of(0x8007000E);  // the injected E_OUTOFMEMORY, unless the step reports its own
};

TEST_F(MethodBodyInstrumenterTest, EachFailingStepLogsOneMessageAndInstallsNothing) {
    const std::string prologue_text =
        "Failed while attempting to invoke the emitted IL within the instruemented method's body. "
        "Shop.Cart.Put::Prologue();";
    const std::vector<failure_row> rows = {
        {"GetModuleMetaData", 1, "Failed to get module metadata interface (%s)"},
        {"QueryInterface", 1, "Failed to query IMetaDataAssemblyEmit interface (%s)"},
        {"GetModuleMetaData", 2, "Failed to get module metadata interface (%s)"},
        {"GetMethodProps", 1, "Failed to get the method's declaring type (%s)"},
        {"GetILFunctionBody", 1, "Failed to import the method body (%s)"},
        {"DefineAssemblyRef", 1,
         "Failed to define assembly reference for assembly (tralo.managed.core).  HRESULT=0x8007000e (%s)."},
        {"DefineAssemblyRef", 2, "Failed to query module token (%s)"},
        {"DefineTypeRefByName", 1, "Failed to define System.Boolean type reference (%s)."},
        {"DefineTypeRefByName", 2, "Failed to define System.Exception type reference (%s)."},
        {"DefineTypeRefByName", 3, "Failed to get System.Object class reference (%s)"},
        {"DefineTypeRefByName", 4,
         "Failed to get Nimbrel.Instrumentation.InstrumentationDirectives class reference (%s)"},
        {"DefineTypeRefByName", 5, "Failed to get Nimbrel.Instrumentation.MethodArgumentCallback class reference (%s)"},
        {"DefineTypeRefByName", 6, "Failed to get tralo.managed.span class reference (%s)"},
        {"DefineTypeRefByName", 7, "Failed to get Nimbrel.Instrumentation.Invokers class reference (%s)"},
        {"DefineTypeRefByName", 8, "Failed to get System.Reflection.MethodBase class reference (%s)"},
        {"DefineMemberRef", 1,
         "Failed to get Nimbrel.Instrumentation.InstrumentationDirectives::ctor() construction method reference (%s)"},
        {"DefineMemberRef", 2,
         "Failed to get Nimbrel.Instrumentation.InstrumentationDirectives::GetIndexes() method reference (%s)"},
        {"DefineTypeRefByName", 9, "Failed to get Nimbrel.Instrumentation.MethodData class reference (%s)"},
        {"DefineAssemblyRef", 3,
         "Failed to query module token of System.dll  Version=4.0.0.0, Culture=neutral, "
         "PublicKeyToken=b77a5c561934e089) (%s)"},
        {"DefineMemberRef", 3, "Failed to get span::Log() method reference (%s)"},
        {"DefineMemberRef", 4, "Failed to get span::Error() method reference (%s)"},
        {"EnumTypeRefs", 1, "Failed to get token for System.Reflection.MethodBase type (%s)"},
        {"DefineMemberRef", 5, "Failed to get span::GenericPrologue() method reference (%s)"},
        {"DefineMemberRef", 6, "Failed to get span::GenericEpilogue() method reference (%s)"},
        {"DefineMemberRef", 7, "Failed to get Nimbrel.Instrumentation.Invokers::ContainsKey() method reference (%s)"},
        {"DefineMemberRef", 8,
         "Failed to get System.Reflection.MethodBase::GetCurrentMethod() method reference (%s)"},
        {"DefineMemberRef", 9,
         "Failed to get Nimbrel.Instrumentation.Invokers::Register_Method() method reference (%s)"},
        {"GetTokenFromTypeSpec", 1, "Failed to get a type specification token (%s)"},
        {"GetTokenFromSig", 1, "Failed to add a local to the method (%s)", E_FAIL},
        {"DefineUserString", 1, "Failed to define the user string \"" + prologue_text + "\" (%s)"},
        {"ApplyMetaData", 1, "Failed to apply the new metadata to the module (%s)"},
        {"SetILFunctionBody", 1, "Failed to install the instrumented method body (%s)"},
    };
    const HRESULT injected = hr_of(0x8007000E);
    int n = 0;
    for (const failure_row& row : rows) {
        SCOPED_TRACE(std::string(row.call) + " #" + std::to_string(row.nth));
        // static void Put(valuetype Nullable<int32>): its box token is a type specification.
        const mdMethodDef put = method("Put", {0x00, 0x01, 0x01, 0x15, 0x11, encoded(nullable_ref)[0], 0x01, 0x08},
                                       tiny({0x2A}));
        auto record = record_of(put);
        ++n;
        info.failures().clear();
        info.fail_once(row.call, injected, row.nth);

        EXPECT_EQ(create(*record), row.result);

        const std::string status = ws2s(hresult_text(row.result));
        std::string message = row.message;
        message.replace(message.find("%s"), 2, status);
        EXPECT_EQ(messages(Error),
                  (std::vector<std::string>{message, "Failed to create prologue/epilogue IL (" + status + ")"}));
        EXPECT_EQ(app.body_set(put), nullptr);
        info.failures().clear();
        EXPECT_EQ(check_current(put), std::vector<std::string>{}) << "the original body is intact";
    }
    EXPECT_EQ(n, static_cast<int>(rows.size()));
}

TEST_F(MethodBodyInstrumenterTest, MetadataIsAppliedOnlyWhereTheRuntimeOffersIt) {
    const mdMethodDef ping = method("Ping", {0x00, 0x00, 0x01}, tiny({0x2A}));
    ASSERT_EQ(instrument(ping), S_OK);
    EXPECT_EQ(info.metadata_applied, std::vector<ModuleID>{app.module_id});

    info.answered_level = 6;  // no ICorProfilerInfo7
    const mdMethodDef pong = method("Pong", {0x00, 0x00, 0x01}, tiny({0x2A}));
    ASSERT_EQ(instrument(pong), S_OK);
    EXPECT_EQ(info.metadata_applied.size(), 1u);
    EXPECT_NE(app.body_set(pong), nullptr);
    EXPECT_EQ(messages(Error), std::vector<std::string>{});
}

TEST_F(MethodBodyInstrumenterTest, InterfacesAreReleasedOnEveryPath) {
    const mdMethodDef ping = method("Ping", {0x00, 0x00, 0x01}, tiny({0x2A}));
    const mdMethodDef fail = method("Fail", {0x00, 0x00, 0x01}, tiny({0x14, 0x7A}));
    const ULONG corlib_held = 1;  // the process-wide core library reference, kept on purpose
    ASSERT_EQ(instrument(ping), S_OK);
    EXPECT_EQ(app.metadata().references(), 0u);
    EXPECT_EQ(corlib.metadata().references(), corlib_held);
    EXPECT_EQ(instrument(fail), S_FALSE);
    EXPECT_EQ(app.metadata().references(), 0u);
    const mdMethodDef pong = method("Pong", {0x00, 0x00, 0x01}, tiny({0x2A}));
    info.fail_once("DefineMemberRef", E_OUTOFMEMORY, 2);
    EXPECT_EQ(instrument(pong), E_OUTOFMEMORY);
    EXPECT_EQ(app.metadata().references(), 0u);
    EXPECT_EQ(corlib.metadata().references(), corlib_held);
    EXPECT_EQ(app.metadata().open_enums(), 0u);
}

// Core library value types can only be boxed once the core library is known: until
// then their definitions cannot be read and they are passed as null.
TEST_F(MethodBodyInstrumenterTest, CoreLibraryTypesAreBoxedOnceItsModuleIsKnown) {
    const blob signature = {0x00, 0x01, 0x01, 0x11, encoded(date_time_ref)[0]};
    method_body_instrumenter::SetMscorlibId(0);
    const mdMethodDef before = method("Before", signature, tiny({0x2A}));
    ASSERT_EQ(instrument(before), S_OK);
    EXPECT_TRUE(contains_run(instructions(listing(before)), {"ldc.i4 0", "ldnull", "stelem.ref"}));

    method_body_instrumenter::SetMscorlibId(corlib.module_id);
    const mdMethodDef after = method("After", signature, tiny({0x2A}));
    ASSERT_EQ(instrument(after), S_OK);
    EXPECT_TRUE(contains_run(instructions(listing(after)), {"ldc.i4 0", "ldarg.s 0", "box System.DateTime"}));
}

}  // namespace
}  // namespace wrap_test
