#include "instrumentation/startup_il.h"

#include "instrumentation/corlib_metadata.h"
#include "instrumentation/signature_blob.h"

#include <dlfcn.h>

#include <cstdlib>
#include <iterator>
#include <vector>

#include "il/il_rewriter.h"
#include "il/opcodes.h"
#include "instrumentation/agent_references.h"
#include "instrumentation/method_body_instrumenter.h"
#include "logging/hresult_text.h"
#include "logging/text_conversions.h"
#include "metadata/metadata_helper.h"
#include "runtime/com_ptr.h"
#include "runtime/metadata_emit.h"
#include "runtime/metadata_import.h"

namespace {


// static void __NBVoidMethodCall__()
constexpr uint8_t startup_method_signature[] = {0x00, 0x00, 0x01};
// static void GetAssemblyAndSymbolsBytes(ref native int, ref int32, ref native int, ref int32):
// the export's four pointer arguments.
constexpr uint8_t get_assembly_and_symbols_bytes_signature[] = {0x00, 0x04, 0x01, 0x10, 0x18, 0x10,
                                                                0x08, 0x10, 0x18, 0x10, 0x08};
// static void Marshal.Copy(native int, uint8[], int32, int32)
constexpr uint8_t copy_signature[] = {0x00, 0x04, 0x01, 0x18, 0x1d, 0x05, 0x08, 0x08};
// Heads of the blobs that end in a class token:
// static class System.AppDomain get_CurrentDomain()
constexpr uint8_t get_current_domain_head[] = {0x00, 0x00, 0x12};
// instance class System.Reflection.Assembly Load(uint8[], uint8[])
constexpr uint8_t load_head[] = {0x20, 0x02, 0x12};
constexpr uint8_t load_tail[] = {0x1d, 0x05, 0x1d, 0x05};
// instance object CreateInstance(string)
constexpr uint8_t create_instance_signature[] = {0x20, 0x01, 0x1c, 0x0e};
// Locals: 0 native int (assembly address), 1 int32 (assembly size), 2 native int
// (symbols address), 3 int32 (symbols size), 4 uint8[] (assembly bytes), 5 uint8[]
// (symbols bytes), 6 class System.Reflection.Assembly; the class token follows.
constexpr uint8_t startup_locals_head[] = {0x07, 0x07, 0x18, 0x08, 0x18, 0x08, 0x1d, 0x05, 0x1d, 0x05, 0x12};

constexpr char16_t loader_type_name[] = u"Nimbrel.TraloManaged.DynamicLoader";

// Not public, abstract and sealed: a static holder nobody else can see or extend.
constexpr DWORD startup_type_flags = tdAbstract | tdSealed;
// Static, member access left to the compiler: callable only from inside the module.
constexpr DWORD startup_method_flags = mdStatic;
constexpr DWORD pinvoke_method_flags = mdPinvokeImpl | mdHideBySig | mdStatic;
constexpr uint32_t startup_initial_max_stack = 8;

// Type and method definitions added to a loaded module are unknown to the runtime's
// type loader until applied. Runtimes without ICorProfilerInfo7 read them as they are.
HRESULT apply_metadata(ICorProfilerInfo* info, ModuleID module) {
    com_ptr<ICorProfilerInfo7> info7;
    if (FAILED(query_interface(info, IID_ICorProfilerInfo7, info7))) return S_OK;
    return info7->ApplyMetaData(module);
}

}  // namespace

std::wstring GetEnvironmentValue(const std::wstring& name) {
    const char* value = std::getenv(ws2s(name).c_str());
    return value == nullptr ? std::wstring() : s2ws(value);
}

std::wstring profiler_library_path() {
    std::wstring path = GetEnvironmentValue(L"CORECLR_PROFILER_PATH_64");
    if (path.empty()) path = GetEnvironmentValue(L"CORECLR_PROFILER_PATH");
    if (!path.empty()) return path;
    // Any function of ours will do: its address lies in the library's own mapping.
    Dl_info loaded{};
    if (dladdr(reinterpret_cast<void*>(&profiler_library_path), &loaded) != 0 && loaded.dli_fname != nullptr) {
        return s2ws(loaded.dli_fname);
    }
    return std::wstring();
}

HRESULT method_body_instrumenter::create_startup(ICorProfilerInfo* info, method_info* method) {
    if (info == nullptr || method == nullptr) return E_POINTER;
    try {
        profiler_info_ = info;
        method_ = method;
        trace_.set_scope(method->assembly_name, method->type_name, method->method_name);
        const HRESULT hr = emit_startup_il(info, method);
        if (FAILED(hr)) trace_.trace_f(Error, L"Failed to create startup IL (%s)", hresult_text(hr));
        return hr;
    } catch (...) {
        // A path that is not valid UTF-8, memory exhaustion: the method stays as it was.
        trace_.trace_f(Error, L"Failed to create startup IL (%s)", hresult_text(E_FAIL));
        return E_FAIL;
    }
}

HRESULT method_body_instrumenter::emit_startup_il(ICorProfilerInfo* info, method_info* method) {
    if (info == nullptr || method == nullptr) return E_POINTER;
    const auto failed = [this](const wchar_t* message, HRESULT hr) {
        trace_.trace_f(Error, message, hr, hresult_text(hr));
        return hr;
    };

    com_ptr<IMetaDataImport2> import;
    HRESULT hr = info->GetModuleMetaData(method->module_id, ofWrite, IID_IMetaDataImport2, import.put_unknown());
    if (FAILED(hr)) return failed(L"Failed to get module IMetaDataImport2 interface HRESULT=0x%x (%s).", hr);
    com_ptr<IMetaDataEmit2> emit;
    hr = query_interface(import, IID_IMetaDataEmit2, emit);
    if (FAILED(hr)) return failed(L"Failed to get module IMetaDataEmit2 interface HRESULT=0x%x (%s).", hr);
    com_ptr<IMetaDataAssemblyImport> assembly_import;
    hr = query_interface(import, IID_IMetaDataAssemblyImport, assembly_import);
    if (FAILED(hr)) return failed(L"Failed to get module IMetaDataAssemblyImport interface HRESULT=0x%x (%s).", hr);
    com_ptr<IMetaDataAssemblyEmit> assembly_emit;
    hr = query_interface(import, IID_IMetaDataAssemblyEmit, assembly_emit);
    if (FAILED(hr)) return failed(L"Failed to get module IMetaDataAssemblyEmit interface HRESULT=0x%x (%s).", hr);

    // "mscorlib" 4.0.0.0 binds on every runtime: on CoreCLR it is the facade that
    // forwards to System.Private.CoreLib.
    ASSEMBLYMETADATA corlib_version{};
    corlib_version.usMajorVersion = 4;
    mdAssemblyRef corlib = mdAssemblyRefNil;
    hr = assembly_emit->DefineAssemblyRef(agent_blobs::mscorlib_public_key_token,
                                          sizeof(agent_blobs::mscorlib_public_key_token), u"mscorlib",
                                          &corlib_version, nullptr, 0, 0, &corlib);
    if (FAILED(hr)) return failed(L"Failed to define reference to mscorelib HRESULT=0x%x (%s).", hr);

    mdTypeRef object_type = mdTypeRefNil;
    hr = emit->DefineTypeRefByName(corlib, u"System.Object", &object_type);
    if (FAILED(hr)) return failed(L"Failed to define a reference to System.Object HRESULT=0x%x (%s).", hr);

    mdTypeDef startup_type = mdTypeDefNil;
    hr = emit->DefineTypeDef(u"__NBVoidMethodType__", startup_type_flags, object_type, nullptr, &startup_type);
    if (FAILED(hr)) return failed(L"Failed to define __NBVoidMethodType__. HRESULT=0x%x (%s).", hr);

    mdMethodDef startup_method = mdMethodDefNil;
    hr = emit->DefineMethod(startup_type, u"__NBVoidMethodCall__", startup_method_flags, startup_method_signature,
                            sizeof(startup_method_signature), 0, 0, &startup_method);
    if (FAILED(hr)) return failed(L"Failed to define __NBVoidMethodCall__. HRESULT=0x%x (%s).", hr);

    mdMethodDef pinvoke_method = mdMethodDefNil;
    hr = emit->DefineMethod(startup_type, u"GetAssemblyAndSymbolsBytes", pinvoke_method_flags,
                            get_assembly_and_symbols_bytes_signature, sizeof(get_assembly_and_symbols_bytes_signature),
                            0, 0, &pinvoke_method);
    if (FAILED(hr)) return failed(L"Failed to define GetAssemblyAndSymbolsBytes. HRESULT=0x%x (%s).", hr);
    // Without it the call still works; the marshaller would only look for an HRESULT.
    emit->SetMethodImplFlags(pinvoke_method, miPreserveSig);

    const std::wstring library = profiler_library_path();
    if (library.empty()) {
        trace_.trace_f(Error, L"Failed DefineModuleRef: the path of the profiler library is unknown.");
        return E_FAIL;
    }
    const std::u16string library16 = ws2u16s(library);
    mdModuleRef library_ref = mdModuleRefNil;
    hr = emit->DefineModuleRef(library16.c_str(), &library_ref);
    if (FAILED(hr)) return failed(L"Failed DefineModuleRef. HRESULT=0x%x (%s).", hr);
    hr = emit->DefinePinvokeMap(pinvoke_method, 0, u"GetAssemblyAndSymbolsBytes", library_ref);
    if (FAILED(hr)) return failed(L"Failed DefinePinvokeMap. HRESULT=0x%x (%s).", hr);

    mdTypeRef byte_type = mdTypeRefNil;
    hr = emit->DefineTypeRefByName(corlib, u"System.Byte", &byte_type);
    if (FAILED(hr)) return failed(L"Failed define reference to System.Byte. HRESULT=0x%x (%s).", hr);
    mdTypeRef marshal_type = mdTypeRefNil;
    hr = emit->DefineTypeRefByName(corlib, u"System.Runtime.InteropServices.Marshal", &marshal_type);
    if (FAILED(hr)) {
        return failed(L"Failed define reference to System.Runtime.InteropServices.Marshal. HRESULT=0x%x (%s).", hr);
    }
    mdMemberRef copy = mdMemberRefNil;
    hr = emit->DefineMemberRef(marshal_type, u"Copy", copy_signature, sizeof(copy_signature), &copy);
    if (FAILED(hr)) {
        return failed(L"Failed define reference to System.Runtime.InteropServices.Marshal.Copy HRESULT=0x%x (%s).", hr);
    }
    mdTypeRef assembly_type = mdTypeRefNil;
    hr = emit->DefineTypeRefByName(corlib, u"System.Reflection.Assembly", &assembly_type);
    if (FAILED(hr)) return failed(L"Failed define reference to System.Reflection.Assembly HRESULT=0x%x (%s).", hr);
    mdTypeRef object_again = mdTypeRefNil;
    hr = emit->DefineTypeRefByName(corlib, u"System.Object", &object_again);
    if (FAILED(hr)) return failed(L"Failed define reference to System.Object HRESULT=0x%x (%s).", hr);
    mdTypeRef app_domain_type = mdTypeRefNil;
    hr = emit->DefineTypeRefByName(corlib, u"System.AppDomain", &app_domain_type);
    if (FAILED(hr)) return failed(L"Failed define reference toSystem.AppDomain HRESULT=0x%x (%s).", hr);

    blob app_domain_token;
    hr = metadata_helper::get_compress_signature_token(app_domain_type, app_domain_token);
    if (FAILED(hr)) {
        trace_.trace_f(Error, L"Failed to get compress the token for System.AppDomain type (%s)", hresult_text(hr));
        return hr;
    }
    const blob get_current_domain_signature = with_token(to_blob(get_current_domain_head), app_domain_token);
    mdMemberRef get_current_domain = mdMemberRefNil;
    hr = emit->DefineMemberRef(app_domain_type, u"get_CurrentDomain", get_current_domain_signature.data(),
                               static_cast<ULONG>(get_current_domain_signature.size()), &get_current_domain);
    if (FAILED(hr)) {
        return failed(L"Failed define reference to System.AppDomain.get_CurrentDomain HRESULT=0x%x (%s).", hr);
    }

    blob assembly_token;
    hr = metadata_helper::get_compress_signature_token(assembly_type, assembly_token);
    if (FAILED(hr)) {
        trace_.trace_f(Error, L"Failed to get compress the token for System.Reflection.Assembly type (%s)",
                       hresult_text(hr));
        return hr;
    }
    const blob load_signature = with_token(to_blob(load_head), assembly_token, to_blob(load_tail));
    mdMemberRef load = mdMemberRefNil;
    hr = emit->DefineMemberRef(app_domain_type, u"Load", load_signature.data(),
                               static_cast<ULONG>(load_signature.size()), &load);
    if (FAILED(hr)) return failed(L"Failed define reference to AppDomain.Load HRESULT=0x%x (%s).", hr);
    mdMemberRef create_instance = mdMemberRefNil;
    hr = emit->DefineMemberRef(assembly_type, u"CreateInstance", create_instance_signature,
                               sizeof(create_instance_signature), &create_instance);
    if (FAILED(hr)) return failed(L"Failed define reference to  Assembly.CreateInstance HRESULT=0x%x (%s).", hr);

    // The user string holds the name's own length: no terminator.
    constexpr ULONG loader_type_name_length = std::size(loader_type_name) - 1;
    mdString loader_type = mdTokenNil;
    hr = emit->DefineUserString(loader_type_name, loader_type_name_length, &loader_type);
    if (FAILED(hr)) return failed(L"Failed DefineUserString HRESULT=0x%x (%s).", hr);
    std::vector<WCHAR> read_back(1024);
    ULONG read_back_length = 0;
    hr = import->GetUserString(loader_type, read_back.data(), static_cast<ULONG>(read_back.size()), &read_back_length);
    if (FAILED(hr)) return failed(L"Failed GetUserString HRESULT=0x%x (%s).", hr);

    const blob locals_signature = with_token(to_blob(startup_locals_head), assembly_token);
    mdSignature locals = mdSignatureNil;
    hr = emit->GetTokenFromSig(locals_signature.data(), static_cast<ULONG>(locals_signature.size()), &locals);
    if (FAILED(hr)) return failed(L"Failed GetTokenFromSig HRESULT=0x%x (%s).", hr);

    hr = apply_metadata(info, method->module_id);
    if (FAILED(hr)) return failed(L"Failed ApplyMetaData HRESULT=0x%x (%s).", hr);

    try {
        hr = generate_startup_method(info, method, startup_method, locals, pinvoke_method, byte_type, marshal_type,
                                     get_current_domain, load, loader_type, create_instance, copy);
        if (FAILED(hr)) return failed(L"Failed generate_startup_method HRESULT=0x%x (%s).", hr);
        hr = invoke_before_method(info, method, startup_method);
        if (FAILED(hr)) return failed(L"Failed invoke_before_method HRESULT=0x%x (%s).", hr);
    } catch (...) {
        trace_.trace_f(Error, L"Failed to get inject_startup throw exception.");
        return E_FAIL;
    }
    return S_OK;
}

HRESULT generate_startup_method(ICorProfilerInfo* info, method_info* method, mdMethodDef startup_method,
                                mdSignature locals, mdMethodDef get_assembly_and_symbols_bytes, mdTypeRef byte_type,
                                mdTypeRef /*marshal_type*/, mdMemberRef get_current_domain, mdMemberRef load,
                                mdString loader_type_name, mdMemberRef create_instance, mdMemberRef copy) {
    if (info == nullptr || method == nullptr) return E_POINTER;
    ILRewriter rewriter(info, nullptr, method->module_id, startup_method);
    rewriter.m_localVarSigToken = locals;
    rewriter.m_maxStack = startup_initial_max_stack;
    rewriter.m_flags = 0;  // no InitLocals: every local is written before it is read
    rewriter.m_insertAfter = rewriter.GetILList();
    const auto il = [&rewriter](uint32_t opcode, uint64_t operand = 0) {
        rewriter.Emit(opcode, operand);
        rewriter.m_maxStack += static_cast<uint32_t>(k_rgnStackPushes[opcode]);
    };

    // GetAssemblyAndSymbolsBytes(out assembly, out assembly_size, out symbols, out symbols_size)
    il(op::ldloca_s, 0);
    il(op::ldloca_s, 1);
    il(op::ldloca_s, 2);
    il(op::ldloca_s, 3);
    il(op::call, get_assembly_and_symbols_bytes);
    // assembly_bytes = new byte[assembly_size]; Marshal.Copy(assembly, assembly_bytes, 0, assembly_size)
    il(op::ldloc_1);
    il(op::newarr, byte_type);
    il(op::stloc_s, 4);
    il(op::ldloc_0);
    il(op::ldloc_s, 4);
    il(op::ldc_i4_0);
    il(op::ldloc_1);
    il(op::call, copy);
    // symbols_bytes = new byte[symbols_size]; Marshal.Copy(symbols, symbols_bytes, 0, symbols_size)
    il(op::ldloc_3);
    il(op::newarr, byte_type);
    il(op::stloc_s, 5);
    il(op::ldloc_2);
    il(op::ldloc_s, 5);
    il(op::ldc_i4_0);
    il(op::ldloc_3);
    il(op::call, copy);
    // AppDomain.CurrentDomain.Load(assembly_bytes, symbols_bytes).CreateInstance(loader type name)
    il(op::call, get_current_domain);
    il(op::ldloc_s, 4);
    il(op::ldloc_s, 5);
    il(op::callvirt, load);
    il(op::stloc_s, 6);
    il(op::ldloc_s, 6);
    il(op::ldstr, loader_type_name);
    il(op::callvirt, create_instance);
    il(op::pop);
    il(op::ret);
    return rewriter.Export();
}

HRESULT invoke_before_method(ICorProfilerInfo* info, method_info* method, mdMethodDef startup_method) {
    if (info == nullptr || method == nullptr) return E_POINTER;
    corlib_metadata(info);

    ILRewriter rewriter(info, nullptr, method->module_id, method->method_token);
    HRESULT hr = info->GetModuleMetaData(method->module_id, ofWrite, IID_IMetaDataImport,
                                         rewriter.m_pMetaDataImport.put_unknown());
    if (FAILED(hr)) return hr;
    hr = query_interface(rewriter.m_pMetaDataImport, IID_IMetaDataEmit, rewriter.m_pMetaDataEmit);
    if (FAILED(hr)) return hr;
    hr = rewriter.Import();
    if (FAILED(hr)) return hr;

    // Before the first instruction, not at the list's start by another name: a branch
    // back to the method's first instruction, and a clause starting there, stay on
    // that instruction, so the loader runs once per call and outside every clause.
    ILInstr* call = rewriter.CreateInstr();
    call->opcode = op::call;
    call->imm32 = startup_method;
    rewriter.InsertBefore(rewriter.first_instruction(), call);
    rewriter.m_maxStack += 1;
    return rewriter.Export();
}
