// The runtime's JIT and module callbacks: which method about to be compiled is
// wrapped (a table target with selection 0, an attribute-marked method with
// selection 1), which precompiled code is refused so that a target goes through the
// JIT, which callee the JIT may inline, and which module is the core library.
//
// Every method is rewritten at most once (rewrite_memo), however often the runtime
// compiles it, and a method that is or will be rewritten is never inlined
// (inlining_answers): both keep every call of a wrapped method reported exactly once.
#include <exception>
#include <string>
#include <vector>

#include "instrumentation/method_body_instrumenter.h"
#include "logging/hresult_text.h"
#include "logging/text_conversions.h"
#include "metadata/sig_parser.h"
#include "profiler/clr_profiler.h"
#include "profiler/inlining_answers.h"
#include "profiler/instrumentation_target.h"
#include "profiler/rewrite_memo.h"
#include "profiler/skip_instrumentation.h"

namespace {

constexpr int table_selection = 0;
constexpr int attribute_selection = 1;

bool accepting_callbacks() { return CClrProfiler::IsAttached() && !CClrProfiler::is_shutting_down_.load(); }

// The log prints identifiers with "%x", which takes 32 bits.
unsigned hex32(UINT_PTR value) { return static_cast<unsigned>(value); }

method_key key_of(const method_info& method) { return {method.module_id, method.method_token}; }

// The text of a name buffer up to its terminator. A name with an unpaired surrogate
// keeps each code unit as one character: the name still prints and compares.
std::wstring name_text(const std::vector<WCHAR>& buffer) {
    size_t size = 0;
    while (size < buffer.size() && buffer[size] != u'\0') ++size;
    const std::u16string text(buffer.data(), size);
    try {
        return u16s2ws(text);
    } catch (...) {
        return std::wstring(text.begin(), text.end());
    }
}

// The target-table match; `log` selects the Debug lines of the JIT-time matcher
// (the inlining question asks quietly).
int match_target(const method_info& method, bool log) {
    const std::wstring full_name = method.type_name + L"." + method.method_name;
    if (log) CClrProfiler::scope.trace_f(Debug, L"CClrProfiler::IsMatched: checking fullname (%s).", full_name.c_str());
    const auto& table = target_methods();
    auto found = table.find(full_name);
    if (found == table.end()) return 0;

    if (log) CClrProfiler::scope.trace_f(Debug, L"CClrProfiler::IsMatched: matched fullname (%s).", full_name.c_str());
    const auto& expected = found->second.argument_types;
    if (!expected) return 1;

    if (log) CClrProfiler::scope.trace_f(Debug, L"CClrProfiler::IsMatched: checking signature (%s).", full_name.c_str());
    SigParser parser;
    // A signature that does not parse cannot be compared; its partial records rarely
    // have the expected count, and the comparison below rejects them otherwise.
    parser.Parse(method.signature, method.signature_size);
    const auto& parameters = parser.GetParsedMethodArguments();
    if (parameters.size() != expected->size()) return 0;
    for (size_t i = 0; i < parameters.size(); ++i) {
        if (parameters[i].element_type != (*expected)[i]) {
            if (log) {
                CClrProfiler::scope.trace_f(Debug, L"CClrProfiler::IsMatched: checking signature argument (%d). return false (%d)",
                                            static_cast<int>(i), static_cast<int>(parameters[i].element_type));
            }
            return 0;
        }
    }
    return 1;
}

// What JITCompilationStarted will do with the method, as far as its metadata tells:
// a table target or an attribute-marked method that is not generic gets rewritten.
// The transparency gate is left out on purpose: refusing to inline a method that then
// stays unwrapped costs a little speed, never a report.
bool will_be_rewritten(const method_info& method) {
    return match_target(method, false) != 0 || (method.has_trace_attribute != 0 && SkipInstrumentation(method) == 0);
}

// One Error line for an exception that reached a callback's boundary. Must be called
// from inside a catch handler.
void log_unexpected_exception(const wchar_t* callback) noexcept {
    try {
        try {
            throw;
        } catch (const std::exception& e) {
            CClrProfiler::scope.trace_f(Error, L"CClrProfiler::%s(): unexpected exception, the method is left as it was. %s",
                                        callback, s2ws_replacing(e.what()).c_str());
        } catch (...) {
            CClrProfiler::scope.trace_f(Error, L"CClrProfiler::%s(): unexpected exception, the method is left as it was.",
                                        callback);
        }
    } catch (...) {
        // Logging itself failed; nothing more can be said.
    }
}

void log_dealt_with_before(const method_info& method) {
    CClrProfiler::scope.trace_f(Debug,
                                L"CClrProfiler::JITCompilationStarted(): %s.%s (ModuleID=0x%x token=0x%x) was dealt with before; its body is not rewritten again.",
                                method.type_name.c_str(), method.method_name.c_str(), hex32(method.module_id),
                                method.method_token);
}

// Wrapped code calls the agent even in its exception handlers; without the agent those
// calls throw and the application's method fails. So nothing is wrapped before the
// agent's assembly has loaded (the loader loads it in the first method of the domain).
bool agent_ready(const method_info& method) {
    if (CClrProfiler::agent_loaded_.load(std::memory_order_acquire)) return true;
    CClrProfiler::scope.trace_f(Debug, L"Method %s.%s not traced because the agent assembly is not loaded",
                                method.type_name.c_str(), method.method_name.c_str());
    return false;
}

void dispatch_jit_compilation(CClrProfiler& profiler, FunctionID function) {
    auto& scope = CClrProfiler::scope;
    method_info method;
    HRESULT hr = method.initialize_method_info(profiler.profiler_info_.get(), function);
    if (FAILED(hr)) {
        scope.trace_f(Error, L"Failed to create method info (%s)", hresult_text(hr));
        return;
    }

    if (method.is_security_transparent && !profiler.security_transparency_instrumentation_) {
        scope.trace_f(Debug, L"Function %s.%s is transparent (%s).", method.type_name.c_str(), method.method_name.c_str(),
                      L"unknown com error");
        return;
    }

    // Loader bootstrap: the first eligible method of each application domain loads the
    // managed loader first thing; it is not wrapped, now or when compiled again later.
    if (profiler.IsDynamicLoaderEnabled()) {
        bool injected = false;
        if (profiler.InjectLoadForManagedLoader(method, injected) == S_OK && injected) {
            rewrite_memo::process().mark(key_of(method));
            return;
        }
    }

    if (CClrProfiler::IsMatched(method)) {
        if (!agent_ready(method)) return;
        rewrite_memo::claim claim = rewrite_memo::process().try_claim(key_of(method));
        if (!claim.owned()) {
            log_dealt_with_before(method);
            return;
        }
        AppDomainID domain = 0;
        profiler.GetAssemblyAppDomain(method.assembly_id, &domain);  // a failure is logged there; domain stays 0
        scope.trace_f(Debug, L"===================Inserting prologue for: AppDomainID=0x%x ModuleID=0x%x %s.%s", hex32(domain),
                      hex32(method.module_id), method.type_name.c_str(), method.method_name.c_str());
        method_body_instrumenter instrumenter;
        hr = instrumenter.create(profiler.profiler_info_.get(), &method, table_selection);
        if (FAILED(hr)) scope.trace_f(Error, L"Failed to create method body instrumenter (%s)", hresult_text(hr));
        scope.trace_f(Debug, L"===================INSERTED prologue for: AppDomainID=0x%x ModuleID=0x%x %s.%s", hex32(domain),
                      hex32(method.module_id), method.type_name.c_str(), method.method_name.c_str());
        return;
    }

    if (method.has_trace_attribute) {
        if (SkipInstrumentation(method)) {
            scope.trace_f(Debug, L"Method %s.%s not traced because it has generic types", method.type_name.c_str(),
                          method.method_name.c_str());
            return;
        }
        if (!agent_ready(method)) return;
        rewrite_memo::claim claim = rewrite_memo::process().try_claim(key_of(method));
        if (!claim.owned()) {
            log_dealt_with_before(method);
            return;
        }
        scope.trace_f(Debug, L"===================Inserting prologue for: %s.%s", method.type_name.c_str(),
                      method.method_name.c_str());
        method_body_instrumenter instrumenter;
        hr = instrumenter.create(profiler.profiler_info_.get(), &method, attribute_selection);
        if (FAILED(hr)) scope.trace_f(Error, L"Failed to create method body instrumenter(attribute) (%s)", hresult_text(hr));
        scope.trace_f(Debug, L"===================INSERTED prologue for: %s.%s", method.type_name.c_str(),
                      method.method_name.c_str());
    }
}

// True when the JIT may inline `callee`. Decided once per (module, token).
bool may_inline(ICorProfilerInfo* info, FunctionID callee) {
    ClassID class_id = 0;
    ModuleID module = 0;
    mdToken token = 0;
    // A callee the runtime cannot name in metadata (a dynamic method) is never ours.
    if (FAILED(info->GetFunctionInfo(callee, &class_id, &module, &token)) || IsNilToken(token)) return true;
    const method_key key{module, token};
    auto& answers = inlining_answers::process();
    if (auto known = answers.find(key)) return *known;

    method_info method;
    const bool rewritten = SUCCEEDED(method.get_class_method_info(info, callee)) && will_be_rewritten(method);
    if (rewritten) {
        CClrProfiler::scope.trace_f(Debug, L"CClrProfiler::JITInlining(): %s.%s is instrumented; it is never inlined.",
                                    method.type_name.c_str(), method.method_name.c_str());
    }
    return answers.remember(key, !rewritten);
}

}  // namespace

HRESULT CClrProfiler::JITCompilationStarted(FunctionID functionId, BOOL /*fIsSafeToBlock*/) {
    if (!accepting_callbacks()) return S_OK;
    try {
        dispatch_jit_compilation(*this, functionId);
    } catch (...) {
        log_unexpected_exception(L"JITCompilationStarted");
    }
    return S_OK;
}

HRESULT CClrProfiler::JITCompilationFinished(FunctionID functionId, HRESULT hrStatus, BOOL /*fIsSafeToBlock*/) {
    if (SUCCEEDED(hrStatus) || !accepting_callbacks()) return S_OK;
    try {
        // A rewritten body the runtime rejects is the one failure worth a line here.
        ClassID class_id = 0;
        ModuleID module = 0;
        mdToken token = 0;
        if (SUCCEEDED(profiler_info_->GetFunctionInfo(functionId, &class_id, &module, &token)) &&
            rewrite_memo::process().contains({module, token})) {
            scope.trace_f(Error,
                          L"CClrProfiler::JITCompilationFinished(): compilation of rewritten method ModuleID=0x%x token=0x%x failed. HRESULT=0x%x (%s).",
                          hex32(module), token, hrStatus, hresult_text(hrStatus));
        }
    } catch (...) {
        log_unexpected_exception(L"JITCompilationFinished");
    }
    return S_OK;
}

HRESULT CClrProfiler::JITCachedFunctionSearchStarted(FunctionID functionId, BOOL* pbUseCachedFunction) {
    if (!accepting_callbacks() || pbUseCachedFunction == nullptr) return S_OK;
    try {
        method_info method;
        HRESULT hr = method.initialize_method_info(profiler_info_.get(), functionId);
        if (FAILED(hr)) {
            scope.trace_f(Error, L"Failed to create method info (%s)", hresult_text(hr));
            return S_OK;
        }
        if (IsMatched(method)) {
            *pbUseCachedFunction = FALSE;
            scope.trace_f(Debug, L"UseCachedFunction(%s, %s.%s)=False", method.assembly_name.c_str(), method.type_name.c_str(),
                          method.method_name.c_str());
        } else if (method.has_trace_attribute && rewrite_memo::process().mark(key_of(method))) {
            // The precompiled code runs uninstrumented; a later tier must not start
            // reporting the method halfway through the process's life.
            scope.trace_f(Debug, L"CClrProfiler::JITCachedFunctionSearchStarted(): %s.%s keeps its precompiled code and is not instrumented.",
                          method.type_name.c_str(), method.method_name.c_str());
        }
    } catch (...) {
        log_unexpected_exception(L"JITCachedFunctionSearchStarted");
    }
    return S_OK;
}

HRESULT CClrProfiler::JITInlining(FunctionID /*callerId*/, FunctionID calleeId, BOOL* pfShouldInline) {
    if (!accepting_callbacks() || pfShouldInline == nullptr || !profiler_info_) return S_OK;
    try {
        if (!may_inline(profiler_info_.get(), calleeId)) *pfShouldInline = FALSE;
    } catch (...) {
        log_unexpected_exception(L"JITInlining");
    }
    return S_OK;
}

HRESULT CClrProfiler::ModuleLoadFinished(ModuleID moduleId, HRESULT hrStatus) {
    if (!accepting_callbacks()) return S_OK;
    try {
        if (FAILED(hrStatus)) {
            scope.trace_f(Debug, L"CClrProfiler::ModuleLoadFinished(): ModuleID=0x%x hrStatus=0x%x (%s).", hex32(moduleId), hrStatus,
                          hresult_text(hrStatus));
            return S_OK;
        }

        ULONG module_name_length = 0;
        HRESULT hr = profiler_info_->GetModuleInfo(moduleId, nullptr, 0, &module_name_length, nullptr, nullptr);
        if (FAILED(hr)) {
            scope.trace_f(Error, L"CClrProfiler::ModuleLoadFinished(): ModuleID=0x%x GetModuleInfo failed. RESULT=0x%x (%s).",
                          hex32(moduleId), hr, hresult_text(hr));
            return hr;
        }
        std::vector<WCHAR> module_buffer(module_name_length > 0 ? module_name_length : 1, u'\0');
        AssemblyID assembly = 0;
        hr = profiler_info_->GetModuleInfo(moduleId, nullptr, module_name_length, &module_name_length, module_buffer.data(),
                                           &assembly);
        if (FAILED(hr)) {
            scope.trace_f(Error, L"CClrProfiler::ModuleLoadFinished(): ModuleID=0x%x GetModuleInfo failed. HRESULT=0x%x (%s).",
                          hex32(moduleId), hr, hresult_text(hr));
            return hr;
        }
        const std::wstring module_name = name_text(module_buffer);

        AppDomainID domain = 0;
        hr = GetAssemblyAppDomain(assembly, &domain);
        if (FAILED(hr)) {
            scope.trace_f(Error, L"CClrProfiler::ModuleLoadFinished(): ModuleID=0x%x ModuleName=%s GetAssemblyAppDomain failed. HRESULT=0x%x (%s).",
                          hex32(moduleId), module_name.c_str(), hr, hresult_text(hr));
            return hr;
        }

        ULONG assembly_name_length = 0;
        hr = profiler_info_->GetAssemblyInfo(assembly, 0, &assembly_name_length, nullptr, nullptr, nullptr);
        if (FAILED(hr)) {
            scope.trace_f(Error, L"CClrProfiler::ModuleLoadFinished(): ModuleID=0x%x ModuleName=%s GetAssemblyInfo failed. HRESULT=0x%x (%s).",
                          hex32(moduleId), module_name.c_str(), hr, hresult_text(hr));
            return hr;
        }
        std::vector<WCHAR> assembly_buffer(assembly_name_length > 0 ? assembly_name_length : 1, u'\0');
        hr = profiler_info_->GetAssemblyInfo(assembly, assembly_name_length, &assembly_name_length, assembly_buffer.data(),
                                             nullptr, nullptr);
        if (FAILED(hr)) {
            scope.trace_f(Error, L"CClrProfiler::ModuleLoadFinished(): ModuleID=0x%x ModuleName=%s GetAssemblyInfo failed. HRESULT=0x%x (%s).",
                          hex32(moduleId), module_name.c_str(), hr, hresult_text(hr));
            return S_OK;
        }
        const std::wstring assembly_name = name_text(assembly_buffer);

        scope.trace_f(Debug, L"CClrProfiler::ModuleLoadFinished(): ModuleID=0x%x ModuleName=%s AssemblyID=0x%x AssemblyName=%s AppDomainID=0x%x",
                      hex32(moduleId), module_name.c_str(), hex32(assembly), assembly_name.c_str(), hex32(domain));

        // The runtime loads the core library before any other module, on one thread;
        // the flag needs no lock.
        if (assembly_name == L"tralo.managed.core" || assembly_name == L"tralo.managed") {
            agent_loaded_ = true;
            scope.trace_f(Debug, L"CClrProfiler::ModuleLoadFinished(): the agent assembly %s is loaded; methods are traced from now on.",
                          assembly_name.c_str());
        }
        if (!mscorlib_loaded_ && (assembly_name == L"mscorlib" || assembly_name == L"System.Private.CoreLib")) {
            mscorlib_loaded_ = true;
            method_body_instrumenter::SetMscorlibId(moduleId);
            scope.trace_f(Debug, L"CClrProfiler::ModuleLoadFinished(): ModuleID=0x%x ModuleName=%s Loaded into DOMAIN-NEUTRAL AppDomainID=0x%x.",
                          hex32(moduleId), module_name.c_str(), hex32(domain));
        }
    } catch (...) {
        log_unexpected_exception(L"ModuleLoadFinished");
    }
    return S_OK;
}

HRESULT CClrProfiler::ModuleUnloadFinished(ModuleID moduleId, HRESULT /*hrStatus*/) {
    try {
        rewrite_memo::process().forget_module(moduleId);
        inlining_answers::process().forget_module(moduleId);
    } catch (...) {
        log_unexpected_exception(L"ModuleUnloadFinished");
    }
    return S_OK;
}

int CClrProfiler::IsMatched(method_info method) { return match_target(method, true); }

HRESULT CClrProfiler::GetAssemblyAppDomain(AssemblyID assemblyId, AppDomainID* appDomainId) {
    if (appDomainId == nullptr) return E_POINTER;
    *appDomainId = 0;
    if (!profiler_info_) return E_POINTER;
    HRESULT hr = profiler_info_->GetAssemblyInfo(assemblyId, 0, nullptr, nullptr, appDomainId, nullptr);
    if (FAILED(hr)) {
        scope.trace_f(Error, L"CClrProfiler::GetAssemblyAppDomain: unable to get assembly info for assembly AssemblyID=0x%x. HRESULT=0x%x (%s).",
                      hex32(assemblyId), hr, hresult_text(hr));
    }
    return hr;
}
