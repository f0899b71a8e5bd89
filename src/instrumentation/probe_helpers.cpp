#include "instrumentation/probe_helpers.h"

#include "instrumentation/corlib_metadata.h"

#include "instrumentation/il_emitter.h"
#include "metadata/metadata_helper.h"
#include "runtime/com_ptr.h"
#include "runtime/metadata_emit.h"
#include "runtime/metadata_import.h"

namespace {

// Stack slots one probe needs on top of what the method uses.
constexpr uint32_t probe_stack = 5;

void emit_probe(il_emitter& il, ModuleID module, mdMethodDef method, int32_t n, uint32_t local, mdToken probe_method) {
    il(op::ldc_i4, static_cast<uint32_t>(module));
    il(op::ldc_i4, method);
    il(op::ldc_i4, static_cast<uint32_t>(n));
    il(op::stloc, local);
    il(op::ldloc, local);
    il(op::call, probe_method);
}

// The module's metadata, read-write, as the rewriter needs it.
HRESULT open_module_metadata(ICorProfilerInfo* info, ModuleID module, ILRewriter& rewriter) {
    HRESULT hr =
        info->GetModuleMetaData(module, ofWrite, IID_IMetaDataImport, rewriter.m_pMetaDataImport.put_unknown());
    if (FAILED(hr)) return hr;
    return query_interface(rewriter.m_pMetaDataImport, IID_IMetaDataEmit, rewriter.m_pMetaDataEmit);
}

// Whether a method signature (ECMA-335 II.23.2.1) returns void.
bool returns_void(PCCOR_SIGNATURE signature, ULONG size) {
    const uint8_t* p = signature;
    const uint8_t* end = signature + size;
    if (size < 3) return false;
    const uint8_t calling_convention = *p++;
    uint32_t value = 0;
    uint32_t width = 0;
    if ((calling_convention & IMAGE_CEE_CS_CALLCONV_GENERIC) != 0) {
        if (!metadata_helper::uncompress_unsigned(p, end, &value, &width)) return false;
        p += width;
    }
    if (!metadata_helper::uncompress_unsigned(p, end, &value, &width)) return false;  // parameter count
    p += width;
    while (p < end && (*p == ELEMENT_TYPE_CMOD_OPT || *p == ELEMENT_TYPE_CMOD_REQD)) {
        if (!metadata_helper::uncompress_unsigned(p + 1, end, &value, &width)) return false;
        p += 1 + width;
    }
    return p < end && *p == ELEMENT_TYPE_VOID;
}

}  // namespace

void UnmanagedInspectObject(void* /*object*/) {}

HRESULT AddProbe(ILRewriter* rewriter, ModuleID module, mdMethodDef method, int32_t n, uint32_t local,
                 mdToken probe_method, ILInstr* before) {
    il_emitter il(*rewriter, before->prev);
    emit_probe(il, module, method, n, local, probe_method);
    rewriter->m_maxStack += probe_stack;
    return S_OK;
}

HRESULT AddEnterProbe(ILRewriter* rewriter, ModuleID module, mdMethodDef method, int32_t n, uint32_t local,
                      mdToken probe_method) {
    return AddProbe(rewriter, module, method, n, local, probe_method, rewriter->first_instruction());
}

HRESULT AddExitProbe(ILRewriter* rewriter, ModuleID module, mdMethodDef method, int32_t n, uint32_t local,
                     mdToken probe_method) {
    ILInstr* head = rewriter->GetILList();
    bool found = false;
    for (ILInstr* node = head->next; node != head; node = node->next) {
        if (node->opcode != op::ret) continue;
        found = true;
        // Branches to the ret now reach the probe.
        node->opcode = op::nop;
        il_emitter il(*rewriter, node);
        emit_probe(il, module, method, n, local, probe_method);
        rewriter->m_maxStack += probe_stack;
        node = il(op::ret);
    }
    return found ? S_OK : E_FAIL;
}

HRESULT RewriteIL(ICorProfilerInfo* info, ICorProfilerFunctionControl* function_control, ModuleID module,
                  mdMethodDef method, int32_t n, mdToken enter_method, mdToken exit_method) {
    ILRewriter rewriter(info, function_control, module, method);
    corlib_metadata(info);
    HRESULT hr = open_module_metadata(info, module, rewriter);
    if (FAILED(hr)) return hr;
    hr = rewriter.Import();
    if (FAILED(hr)) return hr;
    if (n != 0) {
        const uint32_t local = rewriter.AddNewValueTypeLocal(ELEMENT_TYPE_I4);
        if (local == ILRewriter::no_local) return E_FAIL;
        AddEnterProbe(&rewriter, module, method, n, local, enter_method);
        hr = AddExitProbe(&rewriter, module, method, n, local, exit_method);
        if (FAILED(hr)) return hr;
    }
    return rewriter.Export();
}

HRESULT SetILForManagedHelper(ICorProfilerInfo* info, ModuleID module, mdMethodDef method, mdToken m1, mdToken m2) {
    ILRewriter rewriter(info, nullptr, module, method);
    rewriter.m_tinyHeader = true;
    il_emitter il(rewriter, rewriter.GetILList());
    il(op::nop);
    il(op::ldarg_0);
    il(op::conv_u8);
    il(op::call, m1);
    il(op::ldarg_1);
    il(op::ldarg_2);
    il(op::call, m2);
    il(op::nop);
    il(op::ret);
    return rewriter.Export();
}

HRESULT wrap_in_try_catch(ICorProfilerInfo* info, ModuleID module, mdMethodDef method, mdToken handler_method) {
    ILRewriter rewriter(info, nullptr, module, method);
    HRESULT hr = open_module_metadata(info, module, rewriter);
    if (FAILED(hr)) return hr;
    hr = rewriter.Import();
    if (FAILED(hr)) return hr;

    PCCOR_SIGNATURE signature = nullptr;
    ULONG signature_size = 0;
    hr = rewriter.m_pMetaDataImport->GetMethodProps(method, nullptr, nullptr, 0, nullptr, nullptr, &signature,
                                                    &signature_size, nullptr, nullptr);
    if (FAILED(hr)) return hr;
    ILInstr* head = rewriter.GetILList();
    ILInstr* last = head->prev;
    unsigned rets = 0;
    for (ILInstr* node = head->next; node != head; node = node->next) {
        if (node->opcode == op::ret) ++rets;
    }
    if (rets != 1 || last->opcode != op::ret || !returns_void(signature, signature_size)) {
        return S_FALSE;
    }

    mdTypeRef exception_type = mdTypeRefNil;
    hr = metadata_helper::lookup_type(rewriter.m_pMetaDataImport.get(), L"System.Exception", &exception_type);
    if (FAILED(hr)) return hr;
    const uint32_t exception = rewriter.AddNewLocal(exception_type, ELEMENT_TYPE_CLASS);
    if (exception == ILRewriter::no_local) return E_FAIL;

    il_emitter start(rewriter, head);
    ILInstr* try_begin = start(op::nop);

    il_emitter il(rewriter, last->prev);
    ILInstr* after = il.label();
    il(op::nop);
    il.branch(op::leave_s, after);
    ILInstr* handler_begin = il(op::nop);
    il.stloc(exception);
    il.ldloc(exception);
    il(op::call, handler_method);
    ILInstr* handler_end = il.branch(op::leave_s, after);
    il.place(after);

    EHClause clause;
    clause.flags = COR_ILEXCEPTION_CLAUSE_NONE;
    clause.try_begin = try_begin;
    clause.try_end = handler_begin;
    clause.handler_begin = handler_begin;
    clause.handler_end = handler_end;
    clause.class_token = exception_type;
    rewriter.AddEHClause(clause);
    return rewriter.Export();
}
