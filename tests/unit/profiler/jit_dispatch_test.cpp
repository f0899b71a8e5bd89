// The JIT dispatch on the runtime double: the matcher and the generic-method check on
// hand-made signatures, then the callbacks (compilation, cached-code search, module
// load, inlining) with their decisions, log lines and failure paths.
#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>
#include <string>
#include <vector>

#include "il/il_rewriter.h"
#include "logging/logging_configuration.h"
#include "logging/logging_test_support.h"
#include "logging/text_conversions.h"
#include "profiler/clr_profiler.h"
#include "profiler/inlining_answers.h"
#include "profiler/instrumentation_target.h"
#include "profiler/skip_instrumentation.h"
#include "support/fake_profiler_info.h"

namespace {

using test_support::blob;
using test_support::fake_module;
using test_support::fake_profiler_info;

// Signature pieces (ECMA-335 II.23.2.1).
constexpr BYTE def = 0x00, has_this = 0x20, generic = 0x10;
constexpr BYTE v = 0x01, boolean = 0x02, i4 = 0x08, str = 0x0E, byref = 0x10, valuetype = 0x11, klass = 0x12,
               var = 0x13, typedbyref = 0x16, object = 0x1C, szarray = 0x1D, mvar = 0x1E, genericinst = 0x15;
constexpr BYTE typeref_1 = 0x05;  // TypeDefOrRefEncoded: TypeRef row 1
constexpr BYTE typedef_2 = 0x08;  // TypeDef row 2

// `ldarg.0; ret` with a tiny header: a body any wrapper can import.
const blob tiny_body{0x0A, 0x02, 0x2A};

// Captures every record at every level; the profiler's own scope has no prefix, so a
// record's text is the message itself.
class dispatch_log {
public:
    dispatch_log() : saved_scope_level_(CClrProfiler::scope.level) {
        LoggingConfiguration::config().level = Trace;
        LoggingConfiguration::config().event_log_level = Fatal;
        LoggingConfiguration::config().echo_to_stdout = false;
        CClrProfiler::scope.level = Trace;
    }
    ~dispatch_log() { CClrProfiler::scope.level = saved_scope_level_; }

    std::vector<std::string> texts(severity level) const {
        std::vector<std::string> out;
        for (const auto& record : capture_.records())
            if (record.level == level) out.push_back(ws2s_replacing(record.text));
        return out;
    }
    size_t count(const std::string& text) const {
        size_t n = 0;
        for (const auto& record : capture_.records()) n += ws2s_replacing(record.text) == text;
        return n;
    }
    size_t count_containing(const std::string& part) const {
        size_t n = 0;
        for (const auto& record : capture_.records()) n += ws2s_replacing(record.text).find(part) != std::string::npos;
        return n;
    }
    size_t size() const { return capture_.records().size(); }

private:
    configuration_guard configuration_;
    record_capture capture_;
    severity saved_scope_level_;
};

std::string hex(UINT_PTR value) {
    char text[32];
    snprintf(text, sizeof text, "0x%x", static_cast<unsigned>(value));
    return text;
}

// A record as initialize_method_info would leave it, for the matcher alone.
method_info record(const std::wstring& type, const std::wstring& method, const blob& signature) {
    method_info m;
    m.type_name = type;
    m.method_name = method;
    m.signature = signature.data();
    m.signature_size = static_cast<ULONG>(signature.size());
    return m;
}

TEST(IsMatched, TableRowsAndArgumentTypes) {
    const instrumentation_target_table saved = target_methods();
    CClrProfiler profiler;
    CClrProfiler::is_coreclr_ = true;
    profiler.ConfigureInstrumentationTargets();

    struct row {
        const char* name;
        std::wstring type, method;
        blob signature;
        int matched;
        std::vector<std::string> debug;  // the matcher's lines, in order
    };
    const row rows[] = {
        {"any overload of a row without argument types", L"System.Data.SqlClient.SqlCommand", L"ExecuteReader",
         {has_this, 1, klass, typeref_1, valuetype, typedef_2}, 1,
         {"CClrProfiler::IsMatched: checking fullname (System.Data.SqlClient.SqlCommand.ExecuteReader).",
          "CClrProfiler::IsMatched: matched fullname (System.Data.SqlClient.SqlCommand.ExecuteReader)."}},
        {"exactly one value-type parameter", L"Microsoft.Data.SqlClient.SqlCommand", L"ExecuteReader",
         {has_this, 1, klass, typeref_1, valuetype, typedef_2}, 1,
         {"CClrProfiler::IsMatched: checking fullname (Microsoft.Data.SqlClient.SqlCommand.ExecuteReader).",
          "CClrProfiler::IsMatched: matched fullname (Microsoft.Data.SqlClient.SqlCommand.ExecuteReader).",
          "CClrProfiler::IsMatched: checking signature (Microsoft.Data.SqlClient.SqlCommand.ExecuteReader)."}},
        {"overload without parameters: count differs, no mismatch line", L"Microsoft.Data.SqlClient.SqlCommand",
         L"ExecuteReader", {has_this, 0, klass, typeref_1}, 0,
         {"CClrProfiler::IsMatched: checking fullname (Microsoft.Data.SqlClient.SqlCommand.ExecuteReader).",
          "CClrProfiler::IsMatched: matched fullname (Microsoft.Data.SqlClient.SqlCommand.ExecuteReader).",
          "CClrProfiler::IsMatched: checking signature (Microsoft.Data.SqlClient.SqlCommand.ExecuteReader)."}},
        {"third argument int instead of value type", L"Microsoft.Data.SqlClient.SqlCommand", L"BeginExecuteReader",
         {has_this, 3, klass, typeref_1, klass, typeref_1, object, i4}, 0,
         {"CClrProfiler::IsMatched: checking fullname (Microsoft.Data.SqlClient.SqlCommand.BeginExecuteReader).",
          "CClrProfiler::IsMatched: matched fullname (Microsoft.Data.SqlClient.SqlCommand.BeginExecuteReader).",
          "CClrProfiler::IsMatched: checking signature (Microsoft.Data.SqlClient.SqlCommand.BeginExecuteReader).",
          "CClrProfiler::IsMatched: checking signature argument (2). return false (8)"}},
        {"not in the table", L"Shop.Cart", L"Total", {has_this, 0, i4}, 0,
         {"CClrProfiler::IsMatched: checking fullname (Shop.Cart.Total)."}},
        // A nested type is known by its own name: an enclosing type never completes it.
        {"nested type's own name", L"Program", L"myfunction", {def, 0, v}, 0,
         {"CClrProfiler::IsMatched: checking fullname (Program.myfunction)."}},
        {"constructor row", L"Serilog.Formatting.Display.MessageTemplateTextFormatter", L".ctor", {has_this, 0, v}, 0,
         {"CClrProfiler::IsMatched: checking fullname (Serilog.Formatting.Display.MessageTemplateTextFormatter..ctor)."}},
    };
    for (const auto& r : rows) {
        dispatch_log log;
        EXPECT_EQ(CClrProfiler::IsMatched(record(r.type, r.method, r.signature)), r.matched) << r.name;
        EXPECT_EQ(log.texts(Debug), r.debug) << r.name;
    }
    target_methods() = saved;
}

TEST(SkipInstrumentation, GenericShapesAreSkipped) {
    struct row {
        const char* name;
        blob signature;
        int skipped;
    };
    const row rows[] = {
        {"static void (int)", {def, 1, v, i4}, 0},
        {"instance string (object, int[], ref int)", {has_this, 3, str, object, szarray, i4, byref, i4}, 0},
        {"bool (List<int>)", {def, 1, boolean, genericinst, klass, typeref_1, 1, i4}, 0},
        {"generic method void M<T>(T)", {generic, 1, 1, v, mvar, 0}, 1},
        {"generic method without generic parameters in use", {generic | has_this, 1, 0, v}, 1},
        {"returns the class's type parameter", {has_this, 0, var, 0}, 1},
        {"returns MVAR", {def, 0, mvar, 0}, 1},
        {"parameter of the class's type parameter", {has_this, 1, v, var, 0}, 1},
        {"typed reference parameter", {def, 1, v, typedbyref}, 1},
        {"by-reference type parameter", {has_this, 2, v, i4, byref, var, 1}, 1},
        {"truncated signature", {def, 2, v, i4}, 1},
        {"empty signature", {}, 1},
    };
    for (const auto& r : rows)
        EXPECT_EQ(SkipInstrumentation(record(L"T", L"M", r.signature)), r.skipped) << r.name;
}

// One profiler object attached to the double, with the default target table.
class JitDispatch : public ::testing::Test {
protected:
    JitDispatch() : saved_table_(target_methods()) {
        CClrProfiler::is_coreclr_ = true;
        profiler_.ConfigureInstrumentationTargets();
        profiler_.profiler_info_ = com_ptr<ICorProfilerInfo>(&info_);
        CClrProfiler::is_attached_ = true;
        CClrProfiler::is_shutting_down_ = false;
        // The domain holds the managed loader already, so every method compiled here
        // goes on to the wrapping decisions (the loader bootstrap is tested on its own).
        CClrProfiler::MarkManagedLoaderInjectedIntoDomain(info_.default_app_domain);
        // ... and the agent it loads is there, so methods may be wrapped.
        CClrProfiler::agent_loaded_ = true;
    }
    ~JitDispatch() override {
        CClrProfiler::agent_loaded_ = false;
        CClrProfiler::UnmarkManagedLoaderInjectedIntoDomain(info_.default_app_domain);
        CClrProfiler::is_attached_ = false;
        CClrProfiler::is_shutting_down_ = false;
        profiler_.profiler_info_.reset();
        target_methods() = saved_table_;
    }

    // A method of a fresh module (module ids are never reused, so the process-wide
    // memo starts empty for it) and the function the runtime would compile.
    FunctionID function(fake_module& module, std::string_view type, std::string_view name, blob signature,
                        mdMethodDef* token = nullptr) {
        mdMethodDef method = module.add_method(type, name, std::move(signature), tiny_body);
        if (token) *token = method;
        return module.add_function(method);
    }

    HRESULT compile(FunctionID f) { return profiler_.JITCompilationStarted(f, TRUE); }

    std::string inserting_line(const fake_module& module, const std::string& name) const {
        return "===================Inserting prologue for: AppDomainID=" + hex(module.app_domain_id) +
               " ModuleID=" + hex(module.module_id) + " " + name;
    }

    instrumentation_target_table saved_table_;
    fake_profiler_info info_;
    CClrProfiler profiler_;
};

TEST_F(JitDispatch, TableTargetIsWrappedWithSelectionZeroBetweenItsTwoLines) {
    fake_module& app = info_.add_module("Console");
    FunctionID f = function(app, "dotnetcore_console_app.Program", "myfunction", {def, 1, i4, i4});
    dispatch_log log;
    EXPECT_EQ(compile(f), S_OK);
    auto debug = log.texts(Debug);
    auto at = [&](const std::string& line) { return std::find(debug.begin(), debug.end(), line) - debug.begin(); };
    const std::string inserting = inserting_line(app, "dotnetcore_console_app.Program.myfunction");
    std::string inserted = inserting;
    inserted.replace(inserted.find("Inserting"), 9, "INSERTED");
    ASSERT_LT(at(inserting), static_cast<long>(debug.size())) << "no line: " << inserting;
    ASSERT_LT(at(inserted), static_cast<long>(debug.size())) << "no line: " << inserted;
    EXPECT_LT(at(inserting), at(inserted));
}

TEST_F(JitDispatch, NothingIsWrappedBeforeTheAgentAssemblyLoads) {
    CClrProfiler::agent_loaded_ = false;
    fake_module& app = info_.add_module("Console");
    mdMethodDef token = 0;
    FunctionID target = function(app, "dotnetcore_console_app.Program", "myfunction", {def, 0, v}, &token);
    dispatch_log log;
    EXPECT_EQ(compile(target), S_OK);
    EXPECT_EQ(info_.calls("SetILFunctionBody"), 0u);
    EXPECT_EQ(log.count_containing("Method dotnetcore_console_app.Program.myfunction not traced because the agent assembly is not loaded"), 1u);

    // Once the agent has loaded, a later compilation of the same method (a higher tier)
    // is the first attempt and wraps it.
    fake_module& agent = info_.add_module("tralo.managed.core");
    EXPECT_EQ(profiler_.ModuleLoadFinished(agent.module_id, S_OK), S_OK);
    EXPECT_TRUE(CClrProfiler::agent_loaded_.load());
    EXPECT_EQ(compile(app.add_function(token)), S_OK);
    EXPECT_EQ(log.count_containing("===================Inserting prologue for:"), 1u);
}

TEST_F(JitDispatch, EveryCompilationOfOneMethodRewritesItOnce) {
    fake_module& app = info_.add_module("Console");
    mdMethodDef token = 0;
    FunctionID tier0 = function(app, "dotnetcore_console_app.Program", "myfunction", {def, 0, v}, &token);
    FunctionID other_instantiation = app.add_function(token);  // same IL, another FunctionID
    dispatch_log log;
    for (FunctionID f : {tier0, tier0, other_instantiation}) EXPECT_EQ(compile(f), S_OK);
    EXPECT_EQ(log.count_containing("===================Inserting prologue for:"), 1u);
    EXPECT_EQ(log.count_containing("was dealt with before; its body is not rewritten again."), 2u);
    EXPECT_LE(info_.calls("SetILFunctionBody"), 1u);
}

TEST_F(JitDispatch, DecisionOrderTransparencyTableAttributeAndGenerics) {
    struct row {
        const char* name;
        const char* type;
        const char* method;
        blob signature;
        bool transparent, traced, option_on;
        std::string expected;  // a Debug line that must appear; "" for none of the markers
    };
    const row rows[] = {
        {"transparent target, option off", "dotnetcore_console_app.Program", "myfunction", {def, 0, v}, true, false, false,
         "Function dotnetcore_console_app.Program.myfunction is transparent (unknown com error)."},
        {"transparent target, option on", "dotnetcore_console_app.Program", "myfunction", {def, 0, v}, true, false, true,
         "===================Inserting prologue for: AppDomainID="},
        {"table wins over the attribute", "dotnetcore_console_app.Program", "myfunction", {def, 0, v}, false, true, false,
         "===================Inserting prologue for: AppDomainID="},
        {"attribute on a plain method", "Shop.Cart", "Total", {has_this, 1, i4, i4}, false, true, false,
         "===================Inserting prologue for: Shop.Cart.Total"},
        {"attribute on a generic method", "Shop.Cart", "Find", {generic | has_this, 1, 1, mvar, 0, i4}, false, true,
         false, "Method Shop.Cart.Find not traced because it has generic types"},
        {"attribute on a method with a typed reference", "Shop.Cart", "Raw", {def, 1, v, typedbyref}, false, true,
         false, "Method Shop.Cart.Raw not traced because it has generic types"},
        {"neither", "Shop.Cart", "Count", {has_this, 0, i4}, false, false, false, ""},
    };
    for (const auto& r : rows) {
        fake_module& app = info_.add_module("Shop");
        mdMethodDef token = 0;
        FunctionID f = function(app, r.type, r.method, r.signature, &token);
        if (r.transparent) app.add_custom_attribute(token, "System.Security.SecurityTransparentAttribute");
        if (r.traced) app.add_custom_attribute(token, "Nimbrel.Instrumentation.TraceAttribute");
        profiler_.security_transparency_instrumentation_ = r.option_on;
        dispatch_log log;
        EXPECT_EQ(compile(f), S_OK) << r.name;
        const size_t wraps = log.count_containing("===================Inserting prologue for:");
        if (r.expected.empty()) {
            EXPECT_EQ(wraps, 0u) << r.name;
            EXPECT_EQ(log.count_containing("not traced"), 0u) << r.name;
        } else {
            EXPECT_EQ(log.count_containing(r.expected), 1u) << r.name;
            const bool wrapped = r.expected.rfind("=====", 0) == 0;
            EXPECT_EQ(wraps, wrapped ? 1u : 0u) << r.name;
        }
    }
}

TEST_F(JitDispatch, FailuresBeforeTheWrapLeaveTheMethodAlone) {
    fake_module& app = info_.add_module("Console");
    FunctionID f = function(app, "dotnetcore_console_app.Program", "myfunction", {def, 0, v});
    {
        info_.fail_once("GetTokenAndMetaDataFromFunction", E_FAIL);
        dispatch_log log;
        EXPECT_EQ(compile(f), S_OK);
        EXPECT_EQ(log.count("Failed to create method info (unspecified error)"), 1u);
        EXPECT_EQ(log.count_containing("Inserting prologue"), 0u);
    }
    {
        // The domain lookup fails: logged, and the wrap goes on in domain 0.
        // The first two name the assembly, the third finds the domain for the loader bootstrap.
        info_.fail_once("GetAssemblyInfo", E_OUTOFMEMORY, 4);
        dispatch_log log;
        EXPECT_EQ(compile(f), S_OK);
        EXPECT_EQ(log.count("CClrProfiler::GetAssemblyAppDomain: unable to get assembly info for assembly AssemblyID=" +
                            hex(app.assembly_id) + ". HRESULT=0x8007000e (run out of memory)."),
                  1u);
        EXPECT_EQ(log.count_containing("===================Inserting prologue for: AppDomainID=0x0 ModuleID=" +
                                       hex(app.module_id) + " dotnetcore_console_app.Program.myfunction"),
                  1u);
    }
}

// A runtime double that throws where the runtime never would, to prove that no
// exception crosses a callback.
class throwing_profiler_info : public fake_profiler_info {
public:
    HRESULT GetTokenAndMetaDataFromFunction(FunctionID, REFIID, IUnknown**, mdToken*) override {
        throw std::runtime_error("metadata exploded");
    }
    HRESULT GetModuleInfo(ModuleID, LPCBYTE*, ULONG, ULONG*, WCHAR[], AssemblyID*) override {
        throw std::runtime_error("module exploded");
    }
    HRESULT GetFunctionInfo(FunctionID, ClassID*, ModuleID*, mdToken*) override { throw std::bad_alloc(); }
};

TEST_F(JitDispatch, NoExceptionReachesTheRuntime) {
    throwing_profiler_info thrower;
    fake_module& app = thrower.add_module("Console");
    FunctionID f = function(app, "dotnetcore_console_app.Program", "myfunction", {def, 0, v});
    profiler_.profiler_info_ = com_ptr<ICorProfilerInfo>(&thrower);
    dispatch_log log;
    BOOL use_cached = TRUE, inline_it = TRUE;
    EXPECT_EQ(compile(f), S_OK);
    EXPECT_EQ(profiler_.JITCachedFunctionSearchStarted(f, &use_cached), S_OK);
    EXPECT_EQ(profiler_.ModuleLoadFinished(app.module_id, S_OK), S_OK);
    EXPECT_EQ(profiler_.JITInlining(f, f, &inline_it), S_OK);
    EXPECT_EQ(use_cached, TRUE);
    EXPECT_EQ(inline_it, TRUE);
    EXPECT_EQ(log.texts(Error),
              (std::vector<std::string>{
                  "CClrProfiler::JITCompilationStarted(): unexpected exception, the method is left as it was. metadata exploded",
                  "CClrProfiler::JITCachedFunctionSearchStarted(): unexpected exception, the method is left as it was. metadata exploded",
                  "CClrProfiler::ModuleLoadFinished(): unexpected exception, the method is left as it was. module exploded",
                  "CClrProfiler::JITInlining(): unexpected exception, the method is left as it was. std::bad_alloc"}));
    profiler_.profiler_info_.reset();
}

TEST_F(JitDispatch, CallbacksDoNothingBeforeActivationAndAfterShutdown) {
    fake_module& app = info_.add_module("Console");
    FunctionID f = function(app, "dotnetcore_console_app.Program", "myfunction", {def, 0, v});
    for (bool attached : {false, true}) {
        CClrProfiler::is_attached_ = attached;
        CClrProfiler::is_shutting_down_ = attached;  // attached but shutting down
        BOOL use_cached = TRUE, inline_it = TRUE;
        EXPECT_EQ(compile(f), S_OK);
        EXPECT_EQ(profiler_.JITCachedFunctionSearchStarted(f, &use_cached), S_OK);
        EXPECT_EQ(profiler_.ModuleLoadFinished(app.module_id, S_OK), S_OK);
        EXPECT_EQ(profiler_.JITInlining(f, f, &inline_it), S_OK);
        EXPECT_EQ(profiler_.JITCompilationFinished(f, E_FAIL, TRUE), S_OK);
        EXPECT_EQ(use_cached, TRUE);
        EXPECT_EQ(inline_it, TRUE);
    }
    for (const char* call : {"GetTokenAndMetaDataFromFunction", "GetFunctionInfo", "GetModuleInfo", "GetAssemblyInfo"})
        EXPECT_EQ(info_.calls(call), 0u) << call;
}

TEST_F(JitDispatch, CachedSearchRefusesPrecompiledCodeOfTargetsOnly) {
    fake_module& app = info_.add_module("System.Net.Http");
    FunctionID send = function(app, "System.Net.Http.HttpClient", "Send", {has_this, 1, klass, typeref_1, klass, typeref_1});
    FunctionID other = function(app, "System.Net.Http.HttpClient", "Dispose", {has_this, 0, v});
    mdMethodDef traced_token = 0;
    FunctionID traced = function(app, "System.Net.Http.Helper", "Traced", {def, 0, v}, &traced_token);
    app.add_custom_attribute(traced_token, "Nimbrel.Instrumentation.TraceAttribute");

    dispatch_log log;
    BOOL use_send = TRUE, use_other = TRUE, use_traced = TRUE;
    EXPECT_EQ(profiler_.JITCachedFunctionSearchStarted(send, &use_send), S_OK);
    EXPECT_EQ(profiler_.JITCachedFunctionSearchStarted(other, &use_other), S_OK);
    EXPECT_EQ(profiler_.JITCachedFunctionSearchStarted(traced, &use_traced), S_OK);
    EXPECT_EQ(use_send, FALSE);
    EXPECT_EQ(use_other, TRUE);
    EXPECT_EQ(use_traced, TRUE);
    EXPECT_EQ(log.count("UseCachedFunction(System.Net.Http, System.Net.Http.HttpClient.Send)=False"), 1u);

    // The attribute-marked method runs its precompiled code uninstrumented; when the
    // runtime later compiles it at a higher tier it must stay so.
    EXPECT_EQ(compile(traced), S_OK);
    EXPECT_EQ(log.count_containing("Inserting prologue for: System.Net.Http.Helper.Traced"), 0u);
    // The target refused its precompiled code and is wrapped when compiled.
    EXPECT_EQ(compile(send), S_OK);
    EXPECT_EQ(log.count_containing("Inserting prologue for: AppDomainID="), 1u);

    info_.fail_once("GetTokenAndMetaDataFromFunction", E_FAIL);
    BOOL untouched = TRUE;
    EXPECT_EQ(profiler_.JITCachedFunctionSearchStarted(send, &untouched), S_OK);
    EXPECT_EQ(untouched, TRUE);
    EXPECT_EQ(log.count("Failed to create method info (unspecified error)"), 1u);
}

TEST_F(JitDispatch, InliningIsRefusedForEveryCalleeThatIsOrWillBeRewritten) {
    fake_module& app = info_.add_module("Shop");
    mdMethodDef target_token = 0, traced_token = 0, generic_token = 0;
    FunctionID caller = function(app, "Shop.Cart", "Checkout", {has_this, 0, v});
    FunctionID target = function(app, "dotnetcore_console_app.Program", "myfunction", {def, 1, i4, i4}, &target_token);
    FunctionID traced = function(app, "Shop.Cart", "Total", {has_this, 0, i4}, &traced_token);
    FunctionID generic_traced = function(app, "Shop.Cart", "Find", {generic, 1, 1, mvar, 0, i4}, &generic_token);
    FunctionID plain = function(app, "Shop.Cart", "Count", {has_this, 0, i4});
    app.add_custom_attribute(traced_token, "Nimbrel.Instrumentation.TraceAttribute");
    app.add_custom_attribute(generic_token, "Nimbrel.Instrumentation.TraceAttribute");

    struct row {
        const char* name;
        FunctionID callee;
        BOOL expected;
    };
    const row rows[] = {
        {"table target", target, FALSE},
        {"attribute-marked method", traced, FALSE},
        {"attribute-marked generic method (never wrapped)", generic_traced, TRUE},
        {"plain method", plain, TRUE},
        {"another instantiation of the table target", app.add_function(target_token), FALSE},
    };
    dispatch_log log;
    for (const auto& r : rows) {
        BOOL should_inline = TRUE;
        EXPECT_EQ(profiler_.JITInlining(caller, r.callee, &should_inline), S_OK) << r.name;
        EXPECT_EQ(should_inline, r.expected) << r.name;
    }
    // Matching the callee is quiet: no matcher lines per inlining candidate.
    EXPECT_EQ(log.count_containing("CClrProfiler::IsMatched"), 0u);
    EXPECT_EQ(log.count("CClrProfiler::JITInlining(): dotnetcore_console_app.Program.myfunction is instrumented; it is never inlined."), 1u);

    // Later questions, from any caller and after the callee's own compilation, get the
    // same answer without reading metadata again.
    const unsigned metadata_reads = info_.calls("GetTokenAndMetaDataFromFunction");
    EXPECT_EQ(compile(target), S_OK);
    const unsigned after_compile = info_.calls("GetTokenAndMetaDataFromFunction");
    for (FunctionID other_caller : {caller, plain, traced}) {
        for (const auto& r : rows) {
            BOOL should_inline = TRUE;
            profiler_.JITInlining(other_caller, r.callee, &should_inline);
            EXPECT_EQ(should_inline, r.expected) << r.name;
        }
    }
    EXPECT_GT(after_compile, metadata_reads);
    EXPECT_EQ(info_.calls("GetTokenAndMetaDataFromFunction"), after_compile);

    // A callee the metadata cannot describe may be inlined, and the answer is kept.
    FunctionID unreadable = function(app, "Shop.Cart", "Hidden", {has_this, 0, v});
    info_.fail_once("GetTokenAndMetaDataFromFunction", E_FAIL);
    BOOL should_inline = TRUE;
    profiler_.JITInlining(caller, unreadable, &should_inline);
    EXPECT_EQ(should_inline, TRUE);
}

TEST_F(JitDispatch, ModuleUnloadForgetsTheModulesDecisions) {
    fake_module& app = info_.add_module("Plugin");
    FunctionID f = function(app, "dotnetcore_console_app.Program", "myfunction", {def, 0, v});
    dispatch_log log;
    BOOL should_inline = TRUE;
    profiler_.JITInlining(f, f, &should_inline);
    EXPECT_EQ(compile(f), S_OK);
    EXPECT_EQ(profiler_.ModuleUnloadFinished(app.module_id, S_OK), S_OK);
    // The runtime reuses the id for a new module: its methods are decided afresh.
    const unsigned reads = info_.calls("GetTokenAndMetaDataFromFunction");
    profiler_.JITInlining(f, f, &should_inline);
    EXPECT_GT(info_.calls("GetTokenAndMetaDataFromFunction"), reads);
    EXPECT_EQ(compile(f), S_OK);
    EXPECT_EQ(log.count_containing("===================Inserting prologue for:"), 2u);
}

class ModuleLoad : public JitDispatch {
protected:
    std::string loaded_line(const fake_module& m, const std::string& module_name) const {
        return "CClrProfiler::ModuleLoadFinished(): ModuleID=" + hex(m.module_id) + " ModuleName=" + module_name +
               " AssemblyID=" + hex(m.assembly_id) + " AssemblyName=" + ws2s_replacing(u16s2ws(m.assembly_name)) +
               " AppDomainID=" + hex(m.app_domain_id);
    }
};

TEST_F(ModuleLoad, FirstCoreLibraryModuleIsRecordedOnce) {
    profiler_.mscorlib_loaded_ = false;
    fake_module& app = info_.add_module("Shop");
    fake_module& corelib = info_.add_module("System.Private.CoreLib");
    fake_module& facade = info_.add_module("mscorlib");
    const ModuleID before = ILRewriter::m_mscorlibModuleId.load();
    dispatch_log log;
    EXPECT_EQ(profiler_.ModuleLoadFinished(app.module_id, S_OK), S_OK);
    EXPECT_FALSE(profiler_.mscorlib_loaded_);
    EXPECT_EQ(ILRewriter::m_mscorlibModuleId.load(), before);
    EXPECT_EQ(profiler_.ModuleLoadFinished(corelib.module_id, S_OK), S_OK);
    EXPECT_EQ(profiler_.ModuleLoadFinished(facade.module_id, S_OK), S_OK);
    EXPECT_TRUE(profiler_.mscorlib_loaded_);
    EXPECT_EQ(ILRewriter::m_mscorlibModuleId.load(), corelib.module_id);
    EXPECT_EQ(log.texts(Debug),
              (std::vector<std::string>{
                  loaded_line(app, "/app/Shop.dll"),
                  loaded_line(corelib, "/app/System.Private.CoreLib.dll"),
                  "CClrProfiler::ModuleLoadFinished(): ModuleID=" + hex(corelib.module_id) +
                      " ModuleName=/app/System.Private.CoreLib.dll Loaded into DOMAIN-NEUTRAL AppDomainID=" +
                      hex(corelib.app_domain_id) + ".",
                  loaded_line(facade, "/app/mscorlib.dll")}));
    ILRewriter::m_mscorlibModuleId.store(before);
}

TEST_F(ModuleLoad, FailuresAndTheirLines) {
    fake_module& m = info_.add_module("Shop");
    const std::string id = hex(m.module_id);
    struct row {
        const char* name;
        const char* call;  // failed call, or nullptr for a failed load status
        unsigned nth;
        HRESULT returned;
        std::vector<std::string> errors;
    };
    const row rows[] = {
        {"load status", nullptr, 0, S_OK, {}},
        {"module name size", "GetModuleInfo", 1, E_FAIL,
         {"CClrProfiler::ModuleLoadFinished(): ModuleID=" + id + " GetModuleInfo failed. RESULT=0x80004005 (unspecified error)."}},
        {"module name", "GetModuleInfo", 2, E_FAIL,
         {"CClrProfiler::ModuleLoadFinished(): ModuleID=" + id + " GetModuleInfo failed. HRESULT=0x80004005 (unspecified error)."}},
        {"application domain", "GetAssemblyInfo", 1, E_FAIL,
         {"CClrProfiler::GetAssemblyAppDomain: unable to get assembly info for assembly AssemblyID=" + hex(m.assembly_id) +
              ". HRESULT=0x80004005 (unspecified error).",
          "CClrProfiler::ModuleLoadFinished(): ModuleID=" + id +
              " ModuleName=/app/Shop.dll GetAssemblyAppDomain failed. HRESULT=0x80004005 (unspecified error)."}},
        {"assembly name size", "GetAssemblyInfo", 2, E_FAIL,
         {"CClrProfiler::ModuleLoadFinished(): ModuleID=" + id +
          " ModuleName=/app/Shop.dll GetAssemblyInfo failed. HRESULT=0x80004005 (unspecified error)."}},
        {"assembly name", "GetAssemblyInfo", 3, S_OK,
         {"CClrProfiler::ModuleLoadFinished(): ModuleID=" + id +
          " ModuleName=/app/Shop.dll GetAssemblyInfo failed. HRESULT=0x80004005 (unspecified error)."}},
    };
    for (const auto& r : rows) {
        info_.failures().clear();
        if (r.call) info_.fail_once(r.call, E_FAIL, r.nth);
        dispatch_log log;
        EXPECT_EQ(profiler_.ModuleLoadFinished(m.module_id, r.call ? S_OK : E_FAIL), r.returned) << r.name;
        EXPECT_EQ(log.texts(Error), r.errors) << r.name;
        if (!r.call) {
            EXPECT_EQ(log.texts(Debug), (std::vector<std::string>{"CClrProfiler::ModuleLoadFinished(): ModuleID=" + id +
                                                                  " hrStatus=0x80004005 (unspecified error)."}));
        }
        EXPECT_EQ(log.count_containing("AssemblyName="), 0u) << r.name;
    }
}

}  // namespace
