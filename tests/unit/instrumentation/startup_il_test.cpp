// The loader bootstrap on the runtime double: what create_startup defines in the
// chosen method's module, the startup method's body, the chosen method's new first
// instruction, the library path the platform invoke binds to, and the one message and
// untouched method of every failing step.
#include "instrumentation/startup_il.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "instrumentation/method_body_instrumenter.h"
#include "logging/text_conversions.h"
#include "support/scoped_environment.h"
#include "support/wide_text.h"
#include "wrap_fixture.h"

namespace wrap_test {
namespace {

using test_support::utf16;
using test_support::utf8;

constexpr char library_path[] = "/opt/nimbrel/runtimes/linux-x64/native/NimbrelProfiler.so";

class StartupTest : public WrapFixture {
protected:
    StartupTest() {
        env.set("CORECLR_PROFILER_PATH_64", library_path).unset("CORECLR_PROFILER_PATH");
        // Main: ldstr "hello"; pop; ret.
        hello = app.add_user_string(u"hello");
        main = method("Main", {0x00, 0x00, 0x01}, tiny(concat({{0x72}, token_bytes(hello), {0x26, 0x2A}})));
    }

    // The method's record first (as the JIT dispatch builds it), then `before` (a
    // failure to inject, say), then create_startup.
    template <class Before>
    HRESULT inject(mdMethodDef method_token, Before before) {
        record = record_of(method_token);
        before();
        first_message = capture_.records().size();
        method_body_instrumenter instrumenter;
        return instrumenter.create_startup(&info, record.get());
    }
    HRESULT inject(mdMethodDef method_token) {
        return inject(method_token, [] {});
    }

    // Error lines logged since the last inject, without their scope prefix.
    std::vector<std::string> errors() const {
        std::vector<std::string> out;
        const auto records = capture_.records();
        for (size_t i = first_message; i < records.size(); ++i) {
            if (records[i].level != Error) continue;
            const std::string text = ws2s_replacing(records[i].text);
            const size_t end_of_scope = text.find("() :  ");
            out.push_back(end_of_scope == std::string::npos ? text : text.substr(end_of_scope + 6));
        }
        return out;
    }

    // A definition of the module by name (the last one, when defined more than once).
    mdToken find_method(std::u16string_view name) {
        for (size_t i = app.methods.size(); i > 0; --i) {
            if (app.methods[i - 1].name == name) return TokenFromRid(static_cast<uint32_t>(i), mdtMethodDef);
        }
        return mdMethodDefNil;
    }
    const test_support::member_ref_row* member_ref(std::u16string_view name) {
        for (const auto& row : app.member_refs) {
            if (row.name == name) return &row;
        }
        return nullptr;
    }
    mdTypeRef type_ref(std::u16string_view name) {
        for (size_t i = app.type_refs.size(); i > 0; --i) {
            if (app.type_refs[i - 1].name == name) return TokenFromRid(static_cast<uint32_t>(i), mdtTypeRef);
        }
        return mdTypeRefNil;
    }

    test_support::scoped_environment env;
    mdString hello = 0;
    mdMethodDef main = 0;
    std::unique_ptr<method_info> record;
    size_t first_message = 0;
};

uint16_t u16_at(const blob& bytes, size_t at) { return static_cast<uint16_t>(bytes.at(at) | bytes.at(at + 1) << 8); }
uint32_t u32_at(const blob& bytes, size_t at) { return u16_at(bytes, at) | uint32_t{u16_at(bytes, at + 2)} << 16; }

TEST_F(StartupTest, StartupMethodLoadsTheLoaderInThirtyOneInstructions) {
    ASSERT_EQ(inject(main), S_OK) << testing::PrintToString(errors());
    const mdMethodDef startup = find_method(u"__NBVoidMethodCall__");
    ASSERT_NE(startup, mdMethodDefNil);

    EXPECT_EQ(listing(startup),
              "IL_0000: ldloca.s 0\n"
              "IL_0002: ldloca.s 1\n"
              "IL_0004: ldloca.s 2\n"
              "IL_0006: ldloca.s 3\n"
              "IL_0008: call GetAssemblyAndSymbolsBytes\n"
              "IL_000D: ldloc.1\n"
              "IL_000E: newarr System.Byte\n"
              "IL_0013: stloc.s 4\n"
              "IL_0015: ldloc.0\n"
              "IL_0016: ldloc.s 4\n"
              "IL_0018: ldc.i4.0\n"
              "IL_0019: ldloc.1\n"
              "IL_001A: call Marshal::Copy\n"
              "IL_001F: ldloc.3\n"
              "IL_0020: newarr System.Byte\n"
              "IL_0025: stloc.s 5\n"
              "IL_0027: ldloc.2\n"
              "IL_0028: ldloc.s 5\n"
              "IL_002A: ldc.i4.0\n"
              "IL_002B: ldloc.3\n"
              "IL_002C: call Marshal::Copy\n"
              "IL_0031: call AppDomain::get_CurrentDomain\n"
              "IL_0036: ldloc.s 4\n"
              "IL_0038: ldloc.s 5\n"
              "IL_003A: callvirt AppDomain::Load\n"
              "IL_003F: stloc.s 6\n"
              "IL_0041: ldloc.s 6\n"
              "IL_0043: ldstr \"Nimbrel.TraloManaged.DynamicLoader\"\n"
              "IL_0048: callvirt Assembly::CreateInstance\n"
              "IL_004D: pop\n"
              "IL_004E: ret");
    EXPECT_EQ(clauses(startup), "");
    EXPECT_EQ(check(startup), std::vector<std::string>{});

    // Fat header without InitLocals or more sections, max stack 34, the locals below.
    const blob& body = *app.body_set(startup);
    EXPECT_EQ(u16_at(body, 0), 0x3003);
    EXPECT_EQ(u16_at(body, 2), 34);
    EXPECT_EQ(u32_at(body, 4), 0x4Fu);
    const mdSignature locals = u32_at(body, 8);
    ASSERT_EQ(TypeFromToken(locals), mdtSignature);
    const mdTypeRef assembly = type_ref(u"System.Reflection.Assembly");
    ASSERT_LT(RidFromToken(assembly) << 2 | 1, 0x80u);
    EXPECT_EQ(app.standalone_sigs.at(RidFromToken(locals) - 1),
              (blob{0x07, 0x07, 0x18, 0x08, 0x18, 0x08, 0x1d, 0x05, 0x1d, 0x05, 0x12,
                    static_cast<uint8_t>(RidFromToken(assembly) << 2 | 1)}));
}

TEST_F(StartupTest, DefinesTheLoaderTypeItsMethodsAndTheirReferences) {
    ASSERT_EQ(inject(main), S_OK) << testing::PrintToString(errors());

    // mscorlib 4.0.0.0 by its public key token, no culture, no hash, flags 0.
    const test_support::assembly_ref_row& corlib_ref = app.assembly_refs.back();
    EXPECT_EQ(corlib_ref.name, u"mscorlib");
    EXPECT_EQ(corlib_ref.version.major, 4);
    EXPECT_EQ(corlib_ref.version.minor + corlib_ref.version.build + corlib_ref.version.revision, 0);
    EXPECT_EQ(corlib_ref.public_key_or_token, (blob{0xb7, 0x7a, 0x5c, 0x56, 0x19, 0x34, 0xe0, 0x89}));
    EXPECT_EQ(corlib_ref.flags, 0u);
    const mdAssemblyRef corlib_token = TokenFromRid(static_cast<uint32_t>(app.assembly_refs.size()), mdtAssemblyRef);
    for (const char16_t* name : {u"System.Object", u"System.Byte", u"System.Runtime.InteropServices.Marshal",
                                 u"System.Reflection.Assembly", u"System.AppDomain"}) {
        const mdTypeRef token = type_ref(name);
        ASSERT_NE(token, mdTypeRefNil) << utf8(name);
        EXPECT_EQ(app.type_ref(token)->scope, corlib_token) << utf8(name);
    }

    const test_support::type_def_row& type = app.type_defs.back();
    EXPECT_EQ(type.name, u"__NBVoidMethodType__");
    EXPECT_EQ(type.flags, 0x180u);
    EXPECT_EQ(app.type_ref(type.extends)->name, u"System.Object");
    const mdTypeDef type_token = TokenFromRid(static_cast<uint32_t>(app.type_defs.size()), mdtTypeDef);

    const mdMethodDef startup = find_method(u"__NBVoidMethodCall__");
    const mdMethodDef pinvoke = find_method(u"GetAssemblyAndSymbolsBytes");
    ASSERT_NE(startup, mdMethodDefNil);
    ASSERT_NE(pinvoke, mdMethodDefNil);
    EXPECT_EQ(app.method(startup)->owner, type_token);
    EXPECT_EQ(app.method(startup)->flags, 0x10u);
    EXPECT_EQ(app.method(startup)->signature, (blob{0x00, 0x00, 0x01}));
    EXPECT_EQ(app.method(startup)->impl_flags, 0u);
    EXPECT_EQ(app.method(pinvoke)->owner, type_token);
    EXPECT_EQ(app.method(pinvoke)->flags, 0x2090u);
    EXPECT_EQ(app.method(pinvoke)->signature,
              (blob{0x00, 0x04, 0x01, 0x10, 0x18, 0x10, 0x08, 0x10, 0x18, 0x10, 0x08}));
    EXPECT_EQ(app.method(pinvoke)->impl_flags, 0x80u);  // preserve signature

    ASSERT_EQ(app.module_refs.size(), 1u);
    EXPECT_EQ(app.module_refs[0], utf16(library_path));
    ASSERT_EQ(app.pinvoke_maps.size(), 1u);
    EXPECT_EQ(app.pinvoke_maps[0].member, pinvoke);
    EXPECT_EQ(app.pinvoke_maps[0].flags, 0u);
    EXPECT_EQ(app.pinvoke_maps[0].import_name, u"GetAssemblyAndSymbolsBytes");
    EXPECT_EQ(app.pinvoke_maps[0].module_ref, TokenFromRid(1, mdtModuleRef));

    const auto encoded = [&](std::u16string_view name) { return static_cast<uint8_t>(RidFromToken(type_ref(name)) << 2 | 1); };
    const struct {
        std::u16string name;
        std::u16string parent;
        blob signature;
    } members[] = {
        {u"Copy", u"System.Runtime.InteropServices.Marshal", {0x00, 0x04, 0x01, 0x18, 0x1d, 0x05, 0x08, 0x08}},
        {u"get_CurrentDomain", u"System.AppDomain", {0x00, 0x00, 0x12, encoded(u"System.AppDomain")}},
        {u"Load", u"System.AppDomain", {0x20, 0x02, 0x12, encoded(u"System.Reflection.Assembly"), 0x1d, 0x05, 0x1d, 0x05}},
        {u"CreateInstance", u"System.Reflection.Assembly", {0x20, 0x01, 0x1c, 0x0e}},
    };
    for (const auto& expected : members) {
        SCOPED_TRACE(utf8(expected.name));
        const auto* row = member_ref(expected.name);
        ASSERT_NE(row, nullptr);
        EXPECT_EQ(app.type_ref(row->parent)->name, expected.parent);
        EXPECT_EQ(row->signature, expected.signature);
    }
    EXPECT_EQ(app.user_strings.rbegin()->second, u"Nimbrel.TraloManaged.DynamicLoader");

    // Applied once, to this module, before anything used it.
    EXPECT_EQ(info.metadata_applied, std::vector<ModuleID>{app.module_id});
}

TEST_F(StartupTest, ChosenMethodCallsTheLoaderFirstAndKeepsItsOwnCodeAndClauses) {
    // Loop: IL_0000 try { ldarg.0; brtrue.s IL_0000 ... } — a branch back to the first
    // instruction and a clause starting on it must stay on it, after the new call.
    const blob code = {
        0x02,        // IL_0000: ldarg.0          (try start)
        0x2C, 0xFD,  // IL_0001: brfalse.s IL_0000
        0xDE, 0x02,  // IL_0003: leave.s IL_0007
        0x00,        // IL_0005: nop              (finally)
        0xDC,        // IL_0006: endfinally
        0x2A,        // IL_0007: ret
    };
    const mdMethodDef loop = method("Loop", {0x00, 0x01, 0x01, 0x02}, fat(code, 10, 0, {{2, 0, 5, 5, 2, 0}}));
    ASSERT_EQ(inject(loop), S_OK) << testing::PrintToString(errors());
    const mdMethodDef startup = find_method(u"__NBVoidMethodCall__");

    EXPECT_EQ(listing(loop),
              "IL_0000: call __NBVoidMethodCall__\n"
              "IL_0005: ldarg.0\n"
              "IL_0006: brfalse.s IL_0005\n"
              "IL_0008: leave.s IL_000C\n"
              "IL_000A: nop\n"
              "IL_000B: endfinally\n"
              "IL_000C: ret");
    EXPECT_EQ(clauses(loop), "finally try IL_0005-IL_000A handler IL_000A-IL_000C");
    EXPECT_EQ(check(loop), std::vector<std::string>{});
    EXPECT_EQ(name_of(startup), "__NBVoidMethodCall__");
    // InitLocals kept; the stack bound grows by the call's push.
    const blob& body = *app.body_set(loop);
    EXPECT_EQ(u16_at(body, 0) & 0x10, 0x10);
    EXPECT_EQ(u16_at(body, 2), 12);  // 10 + 1 pushed by ldarg.0 + 1 pushed by the call
}

TEST_F(StartupTest, ModuleReferenceNamesTheLibraryTheRuntimeLoaded) {
    const std::string self = std::filesystem::canonical("/proc/self/exe").string();
    const struct {
        const char* name;
        std::optional<std::string> path64, path;
        std::string expected;  // empty: this very binary, found through the dynamic linker
    } rows[] = {
        {"64-bit variable first", "/a/NimbrelProfiler.so", "/b/NimbrelProfiler.so", "/a/NimbrelProfiler.so"},
        {"empty 64-bit variable", "", "/b/NimbrelProfiler.so", "/b/NimbrelProfiler.so"},
        {"generic variable alone", std::nullopt, "/b/NimbrelProfiler.so", "/b/NimbrelProfiler.so"},
        {"neither variable", std::nullopt, std::nullopt, ""},
        {"both empty", "", "", ""},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name);
        test_support::scoped_environment row_env;
        if (r.path64) row_env.set("CORECLR_PROFILER_PATH_64", *r.path64);
        else row_env.unset("CORECLR_PROFILER_PATH_64");
        if (r.path) row_env.set("CORECLR_PROFILER_PATH", *r.path);
        else row_env.unset("CORECLR_PROFILER_PATH");

        app.module_refs.clear();
        app.pinvoke_maps.clear();
        const mdMethodDef chosen = method(std::string("Run_") + r.name, {0x00, 0x00, 0x01}, tiny({0x2A}));
        ASSERT_EQ(inject(chosen), S_OK) << testing::PrintToString(errors());
        ASSERT_EQ(app.module_refs.size(), 1u);
        const std::string name = utf8(app.module_refs[0]);
        if (r.expected.empty()) {
            ASSERT_TRUE(std::filesystem::exists(name)) << name;
            EXPECT_EQ(std::filesystem::canonical(name).string(), self);
        } else {
            EXPECT_EQ(name, r.expected);
        }
        EXPECT_EQ(utf8(app.pinvoke_maps.at(0).import_name), "GetAssemblyAndSymbolsBytes");
    }
}

TEST_F(StartupTest, EachFailingStepLogsOnceAndLeavesTheChosenMethodAsItWas) {
    const struct {
        const char* call;
        unsigned nth;
        const char* message;  // "" when the failure is ignored
        bool startup_installed;
    } rows[] = {
        {"GetModuleMetaData", 1, "Failed to get module IMetaDataImport2 interface HRESULT=0x80004005 (unspecified error).", false},
        {"QueryInterface", 1, "Failed to get module IMetaDataEmit2 interface HRESULT=0x80004005 (unspecified error).", false},
        {"QueryInterface", 2, "Failed to get module IMetaDataAssemblyImport interface HRESULT=0x80004005 (unspecified error).", false},
        {"QueryInterface", 3, "Failed to get module IMetaDataAssemblyEmit interface HRESULT=0x80004005 (unspecified error).", false},
        {"DefineAssemblyRef", 1, "Failed to define reference to mscorelib HRESULT=0x80004005 (unspecified error).", false},
        {"DefineTypeRefByName", 1, "Failed to define a reference to System.Object HRESULT=0x80004005 (unspecified error).", false},
        {"DefineTypeDef", 1, "Failed to define __NBVoidMethodType__. HRESULT=0x80004005 (unspecified error).", false},
        {"DefineMethod", 1, "Failed to define __NBVoidMethodCall__. HRESULT=0x80004005 (unspecified error).", false},
        {"DefineMethod", 2, "Failed to define GetAssemblyAndSymbolsBytes. HRESULT=0x80004005 (unspecified error).", false},
        {"SetMethodImplFlags", 1, "", true},
        {"DefineModuleRef", 1, "Failed DefineModuleRef. HRESULT=0x80004005 (unspecified error).", false},
        {"DefinePinvokeMap", 1, "Failed DefinePinvokeMap. HRESULT=0x80004005 (unspecified error).", false},
        {"DefineTypeRefByName", 2, "Failed define reference to System.Byte. HRESULT=0x80004005 (unspecified error).", false},
        {"DefineTypeRefByName", 3, "Failed define reference to System.Runtime.InteropServices.Marshal. HRESULT=0x80004005 (unspecified error).", false},
        {"DefineMemberRef", 1, "Failed define reference to System.Runtime.InteropServices.Marshal.Copy HRESULT=0x80004005 (unspecified error).", false},
        {"DefineTypeRefByName", 4, "Failed define reference to System.Reflection.Assembly HRESULT=0x80004005 (unspecified error).", false},
        {"DefineTypeRefByName", 5, "Failed define reference to System.Object HRESULT=0x80004005 (unspecified error).", false},
        {"DefineTypeRefByName", 6, "Failed define reference toSystem.AppDomain HRESULT=0x80004005 (unspecified error).", false},
        {"DefineMemberRef", 2, "Failed define reference to System.AppDomain.get_CurrentDomain HRESULT=0x80004005 (unspecified error).", false},
        {"DefineMemberRef", 3, "Failed define reference to AppDomain.Load HRESULT=0x80004005 (unspecified error).", false},
        {"DefineMemberRef", 4, "Failed define reference to  Assembly.CreateInstance HRESULT=0x80004005 (unspecified error).", false},
        {"DefineUserString", 1, "Failed DefineUserString HRESULT=0x80004005 (unspecified error).", false},
        {"GetUserString", 1, "Failed GetUserString HRESULT=0x80004005 (unspecified error).", false},
        {"GetTokenFromSig", 1, "Failed GetTokenFromSig HRESULT=0x80004005 (unspecified error).", false},
        {"ApplyMetaData", 1, "Failed ApplyMetaData HRESULT=0x80004005 (unspecified error).", false},
        {"SetILFunctionBody", 1, "Failed generate_startup_method HRESULT=0x80004005 (unspecified error).", false},
        {"GetILFunctionBody", 1, "Failed invoke_before_method HRESULT=0x80004005 (unspecified error).", true},
        {"SetILFunctionBody", 2, "Failed invoke_before_method HRESULT=0x80004005 (unspecified error).", true},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(std::string(r.call) + " #" + std::to_string(r.nth));
        const mdMethodDef chosen =
            method(std::string("Run_") + r.call + std::to_string(r.nth), {0x00, 0x00, 0x01}, tiny({0x2A}));
        const HRESULT hr = inject(chosen, [&] { info.fail_once(r.call, E_FAIL, r.nth); });
        info.failures().clear();

        const mdMethodDef startup = find_method(u"__NBVoidMethodCall__");
        const bool startup_has_body = startup != mdMethodDefNil && app.body_set(startup) != nullptr;
        EXPECT_EQ(startup_has_body, r.startup_installed);
        if (*r.message == '\0') {
            EXPECT_EQ(hr, S_OK);
            EXPECT_EQ(errors(), std::vector<std::string>{});
            EXPECT_NE(app.body_set(chosen), nullptr);
        } else {
            EXPECT_EQ(hr, E_FAIL);
            EXPECT_EQ(errors(), (std::vector<std::string>{r.message, "Failed to create startup IL (unspecified error)"}));
            EXPECT_EQ(app.body_set(chosen), nullptr);
        }
        // Each row starts from a module without a startup method body.
        if (startup != mdMethodDefNil) app.method(startup)->name = u"__spent__";
    }
}

TEST_F(StartupTest, NullArgumentsAndRuntimesWithoutApplyMetaData) {
    method_body_instrumenter instrumenter;
    record = record_of(main);
    EXPECT_EQ(instrumenter.create_startup(nullptr, record.get()), E_POINTER);
    EXPECT_EQ(instrumenter.create_startup(&info, nullptr), E_POINTER);
    EXPECT_EQ(generate_startup_method(nullptr, record.get(), 0, 0, 0, 0, 0, 0, 0, 0, 0, 0), E_POINTER);
    EXPECT_EQ(invoke_before_method(&info, nullptr, 0), E_POINTER);
    EXPECT_EQ(app.module_refs.size(), 0u);

    info.answered_level = 6;
    ASSERT_EQ(inject(main), S_OK) << testing::PrintToString(errors());
    EXPECT_TRUE(info.metadata_applied.empty());
    EXPECT_NE(app.body_set(main), nullptr);
}

TEST(GetEnvironmentValue, ReadsUtf8AndAnswersEmptyWhenUnset) {
    test_support::scoped_environment env;
    env.set("NIMBREL_STARTUP_TEST_VALUE", "/opt/n\xC3\xAFmbrel").unset("NIMBREL_STARTUP_TEST_UNSET");
    EXPECT_EQ(GetEnvironmentValue(L"NIMBREL_STARTUP_TEST_VALUE"), L"/opt/n\u00EFmbrel");
    EXPECT_EQ(GetEnvironmentValue(L"NIMBREL_STARTUP_TEST_UNSET"), L"");
}

}  // namespace
}  // namespace wrap_test
