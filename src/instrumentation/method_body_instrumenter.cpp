#include "instrumentation/method_body_instrumenter.h"

#include "instrumentation/corlib_metadata.h"

#include "il/il_rewriter.h"
#include "instrumentation/agent_references.h"
#include "instrumentation/method_shape.h"
#include "instrumentation/method_wrapper.h"
#include "logging/hresult_text.h"
#include "runtime/com_ptr.h"
#include "runtime/metadata_emit.h"
#include "runtime/metadata_import.h"

namespace {

// CORPROF_E_FUNCTION_NOT_IL: GetILFunctionBody of an abstract, extern or
// runtime-implemented method.
constexpr HRESULT function_not_il = hr_of(0x80131354);

}  // namespace

void set_mscorlib_Id(ModuleID module) { ILRewriter::m_mscorlibModuleId.store(module); }

method_body_instrumenter::method_body_instrumenter() = default;
method_body_instrumenter::~method_body_instrumenter() = default;

void method_body_instrumenter::SetMscorlibId(ModuleID module) { set_mscorlib_Id(module); }

HRESULT method_body_instrumenter::create(ICorProfilerInfo* info, method_info* method, int selection) {
    if (info == nullptr || method == nullptr) return E_POINTER;
    try {
        profiler_info_ = info;
        method_ = method;
        trace_.set_scope(method->assembly_name, method->type_name, method->method_name);
        const HRESULT hr = emit_prologue_epilogue_il(info, method, selection);
        if (FAILED(hr)) {
            trace_.trace_f(Error, L"Failed to create prologue/epilogue IL (%s)", hresult_text(hr));
        }
        return hr;
    } catch (...) {
        trace_.trace_f(Error, L"Failed to create prologue/epilogue IL (%s)", hresult_text(E_FAIL));
        return E_FAIL;
    }
}

HRESULT method_body_instrumenter::emit_prologue_epilogue_il(ICorProfilerInfo* info, method_info* method,
                                                            int selection) {
    com_ptr<IMetaDataEmit> emit;
    HRESULT hr = info->GetModuleMetaData(method->module_id, ofWrite, IID_IMetaDataEmit, emit.put_unknown());
    if (FAILED(hr)) {
        trace_.trace_f(Error, L"Failed to get module metadata interface (%s)", hresult_text(hr));
        return hr;
    }
    com_ptr<IMetaDataAssemblyEmit> assembly_emit;
    hr = query_interface(emit, IID_IMetaDataAssemblyEmit, assembly_emit);
    if (FAILED(hr)) {
        trace_.trace_f(Error, L"Failed to query IMetaDataAssemblyEmit interface (%s)", hresult_text(hr));
        return hr;
    }
    // Opened for writing too: the lookups and the rewriter must see the references,
    // signatures and type specifications this wrapping defines.
    com_ptr<IMetaDataImport> import;
    hr = info->GetModuleMetaData(method->module_id, ofWrite, IID_IMetaDataImport, import.put_unknown());
    if (FAILED(hr)) {
        trace_.trace_f(Error, L"Failed to get module metadata interface (%s)", hresult_text(hr));
        return hr;
    }

    // Everything that can rule the method out is checked before anything is defined.
    method_shape shape;
    hr = read_method_shape(import.get(), corlib_metadata(info), *method, trace_, &shape);
    if (FAILED(hr)) return hr;
    ILRewriter rewriter(info, nullptr, method->module_id, method->method_token);
    rewriter.m_pMetaDataImport = import;
    rewriter.m_pMetaDataEmit = emit;
    if (shape.skip_reason == nullptr) {
        hr = rewriter.Import();
        if (hr == function_not_il) {
            shape.skip_reason = L"it has no IL body";
        } else if (FAILED(hr)) {
            trace_.trace_f(Error, L"Failed to import the method body (%s)", hresult_text(hr));
            return hr;
        } else {
            shape.skip_reason = body_skip_reason(rewriter);
        }
    }
    if (shape.skip_reason != nullptr) {
        trace_.trace_f(Debug, L"Method %s.%s left unchanged: %s.", method->type_name.c_str(),
                       method->method_name.c_str(), shape.skip_reason);
        return S_FALSE;
    }

    agent_references refs;
    hr = define_agent_references(emit.get(), assembly_emit.get(), import.get(), trace_, &refs);
    if (FAILED(hr)) return hr;

    try {
        return wrap_method_body(info, *method, rewriter, shape, refs, selection, trace_);
    } catch (...) {
        trace_.trace_f(Error, L"Failed to get Nimbrel.Instrumentation.Invokers::wrap_method_body() throw exception.");
        return E_FAIL;
    }
}
