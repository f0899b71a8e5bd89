#include "support/fake_profiler_info.h"

#include <unistd.h>

#include <optional>

#include "support/wide_text.h"

namespace test_support {
namespace {

const IID* const info_levels[] = {&IID_ICorProfilerInfo,  &IID_ICorProfilerInfo2, &IID_ICorProfilerInfo3,
                                  &IID_ICorProfilerInfo4, &IID_ICorProfilerInfo5, &IID_ICorProfilerInfo6,
                                  &IID_ICorProfilerInfo7};

uint32_t read_u32(const BYTE* p) { return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24; }

// Length of the IL method starting at `body` (header, code and exception
// sections, ECMA-335 II.25.4), or nothing when it does not fit in `available`
// bytes. This is what the runtime reads of a body handed to SetILFunctionBody.
std::optional<ULONG> il_method_length(const BYTE* body, ULONG available) {
    if (available == 0) return std::nullopt;
    if ((body[0] & CorILMethod_TinyFormatMask) == CorILMethod_TinyFormat) {
        const ULONG length = 1 + (body[0] >> CorILMethod_TinyFormat_Shift);
        return length <= available ? std::optional(length) : std::nullopt;
    }
    if ((body[0] & CorILMethod_TinyFormatMask) != CorILMethod_FatFormat || available < 12) return std::nullopt;
    const ULONG header = (body[1] >> 4) * 4u;
    uint64_t end = header + static_cast<uint64_t>(read_u32(body + 4));
    if (header < 12 || end > available) return std::nullopt;
    bool more = (body[0] & CorILMethod_MoreSects) != 0;
    while (more) {
        end = (end + 3) & ~uint64_t{3};
        if (end + 4 > available) return std::nullopt;
        const BYTE kind = body[end];
        const uint32_t size = (kind & CorILMethod_Sect_FatFormat) ? read_u32(body + end) >> 8 : body[end + 1];
        if (size < 4) return std::nullopt;
        end += size;
        if (end > available) return std::nullopt;
        more = (kind & CorILMethod_Sect_MoreSects) != 0;
    }
    return static_cast<ULONG>(end);
}

}  // namespace

fake_profiler_info::fake_profiler_info() : current_thread(next_runtime_id()), default_app_domain(0) {
    default_app_domain = add_app_domain("clrhost");
}

AppDomainID fake_profiler_info::add_app_domain(std::string_view name) {
    const AppDomainID id = next_runtime_id();
    app_domains_.emplace_back(id, utf16(name));
    return id;
}

fake_module& fake_profiler_info::add_module(std::string_view assembly_name, AppDomainID app_domain) {
    modules_.push_back(std::make_unique<fake_module>(assembly_name, failures_));
    modules_.back()->app_domain_id = app_domain != 0 ? app_domain : default_app_domain;
    return *modules_.back();
}

fake_module* fake_profiler_info::find_module(ModuleID id) {
    for (auto& m : modules_) {
        if (m->module_id == id) return m.get();
    }
    return nullptr;
}

std::pair<fake_module*, const function_row*> fake_profiler_info::find_function(FunctionID id) {
    for (auto& m : modules_) {
        if (const function_row* f = m->function(id)) return {m.get(), f};
    }
    return {nullptr, nullptr};
}

HRESULT fake_profiler_info::QueryInterface(REFIID riid, void** ppv) {
    if (auto injected = enter(__func__)) return *injected;
    if (ppv == nullptr) return E_POINTER;
    *ppv = nullptr;
    bool answered = riid == IID_IUnknown;
    for (int level = 1; level <= 7 && !answered; ++level) {
        answered = riid == *info_levels[level - 1] && level <= answered_level && refused_levels.count(level) == 0;
    }
    if (!answered) return E_NOINTERFACE;
    // One inheritance chain: every level shares this object's address.
    *ppv = static_cast<ICorProfilerInfo7*>(this);
    AddRef();
    return S_OK;
}

HRESULT fake_profiler_info::GetClassFromToken(ModuleID moduleId, mdTypeDef typeDef, ClassID* pClassId) {
    if (auto injected = enter(__func__)) return *injected;
    fake_module* m = find_module(moduleId);
    if (m == nullptr || m->type_def(typeDef) == nullptr || pClassId == nullptr) return E_INVALIDARG;
    *pClassId = m->class_id(typeDef);
    return S_OK;
}

HRESULT fake_profiler_info::GetEventMask(DWORD* pdwEvents) {
    if (auto injected = enter(__func__)) return *injected;
    if (pdwEvents == nullptr) return E_INVALIDARG;
    *pdwEvents = event_mask_low;
    return S_OK;
}

HRESULT fake_profiler_info::GetFunctionFromToken(ModuleID moduleId, mdToken token, FunctionID* pFunctionId) {
    if (auto injected = enter(__func__)) return *injected;
    fake_module* m = find_module(moduleId);
    if (m == nullptr || m->method(token) == nullptr || pFunctionId == nullptr) return E_INVALIDARG;
    for (const auto& f : m->functions) {
        if (f.method == token) {
            *pFunctionId = f.id;
            return S_OK;
        }
    }
    *pFunctionId = m->add_function(token);
    return S_OK;
}

HRESULT fake_profiler_info::GetCurrentThreadID(ThreadID* pThreadId) {
    if (auto injected = enter(__func__)) return *injected;
    if (pThreadId == nullptr) return E_INVALIDARG;
    *pThreadId = current_thread;
    return S_OK;
}

HRESULT fake_profiler_info::GetClassIDInfo(ClassID classId, ModuleID* pModuleId, mdTypeDef* pTypeDefToken) {
    if (auto injected = enter(__func__)) return *injected;
    for (auto& m : modules_) {
        if (auto type = m->type_of_class(classId)) {
            if (pModuleId != nullptr) *pModuleId = m->module_id;
            if (pTypeDefToken != nullptr) *pTypeDefToken = *type;
            return S_OK;
        }
    }
    return E_INVALIDARG;
}

HRESULT fake_profiler_info::GetFunctionInfo(FunctionID functionId, ClassID* pClassId, ModuleID* pModuleId,
                                            mdToken* pToken) {
    if (auto injected = enter(__func__)) return *injected;
    auto [m, f] = find_function(functionId);
    if (f == nullptr) return E_INVALIDARG;
    if (pClassId != nullptr) *pClassId = f->class_id;
    if (pModuleId != nullptr) *pModuleId = m->module_id;
    if (pToken != nullptr) *pToken = f->method;
    return S_OK;
}

HRESULT fake_profiler_info::SetEventMask(DWORD dwEvents) {
    if (auto injected = enter(__func__)) return *injected;
    event_masks_set.push_back(dwEvents);
    event_mask_low = dwEvents;
    return S_OK;
}

HRESULT fake_profiler_info::GetTokenAndMetaDataFromFunction(FunctionID functionId, REFIID riid, IUnknown** ppImport,
                                                            mdToken* pToken) {
    if (auto injected = enter(__func__)) return *injected;
    auto [m, f] = find_function(functionId);
    if (f == nullptr || ppImport == nullptr) return E_INVALIDARG;
    const HRESULT hr = m->metadata().interface_for(riid, reinterpret_cast<void**>(ppImport));
    if (FAILED(hr)) return hr;
    if (pToken != nullptr) *pToken = f->method;
    return S_OK;
}

HRESULT fake_profiler_info::module_info(ModuleID moduleId, LPCBYTE* ppBaseLoadAddress, ULONG cchName,
                                        ULONG* pcchName, WCHAR szName[], AssemblyID* pAssemblyId,
                                        DWORD* pdwModuleFlags) {
    fake_module* m = find_module(moduleId);
    if (m == nullptr) return E_INVALIDARG;
    // No image behind a fake module; nothing may read through the base address.
    if (ppBaseLoadAddress != nullptr) *ppBaseLoadAddress = nullptr;
    if (pAssemblyId != nullptr) *pAssemblyId = m->assembly_id;
    if (pdwModuleFlags != nullptr) *pdwModuleFlags = m->module_flags;
    return copy_name(m->path, szName, cchName, pcchName, insufficient_buffer);
}

HRESULT fake_profiler_info::GetModuleInfo(ModuleID moduleId, LPCBYTE* ppBaseLoadAddress, ULONG cchName,
                                          ULONG* pcchName, WCHAR szName[], AssemblyID* pAssemblyId) {
    if (auto injected = enter(__func__)) return *injected;
    return module_info(moduleId, ppBaseLoadAddress, cchName, pcchName, szName, pAssemblyId, nullptr);
}

HRESULT fake_profiler_info::GetModuleInfo2(ModuleID moduleId, LPCBYTE* ppBaseLoadAddress, ULONG cchName,
                                           ULONG* pcchName, WCHAR szName[], AssemblyID* pAssemblyId,
                                           DWORD* pdwModuleFlags) {
    if (auto injected = enter(__func__)) return *injected;
    return module_info(moduleId, ppBaseLoadAddress, cchName, pcchName, szName, pAssemblyId, pdwModuleFlags);
}

HRESULT fake_profiler_info::GetModuleMetaData(ModuleID moduleId, DWORD /*dwOpenFlags*/, REFIID riid,
                                              IUnknown** ppOut) {
    if (auto injected = enter(__func__)) return *injected;
    fake_module* m = find_module(moduleId);
    if (m == nullptr || ppOut == nullptr) return E_INVALIDARG;
    return m->metadata().interface_for(riid, reinterpret_cast<void**>(ppOut));
}

HRESULT fake_profiler_info::GetILFunctionBody(ModuleID moduleId, mdMethodDef methodId, LPCBYTE* ppMethodHeader,
                                              ULONG* pcbMethodSize) {
    if (auto injected = enter(__func__)) return *injected;
    fake_module* m = find_module(moduleId);
    method_row* row = m != nullptr ? m->method(methodId) : nullptr;
    if (row == nullptr) return E_INVALIDARG;
    const blob& body = row->new_body ? *row->new_body : row->body;
    if (body.empty()) return function_not_il;
    if (ppMethodHeader != nullptr) *ppMethodHeader = body.data();
    if (pcbMethodSize != nullptr) *pcbMethodSize = static_cast<ULONG>(body.size());
    return S_OK;
}

HRESULT fake_profiler_info::GetILFunctionBodyAllocator(ModuleID moduleId, IMethodMalloc** ppMalloc) {
    if (auto injected = enter(__func__)) return *injected;
    fake_module* m = find_module(moduleId);
    if (m == nullptr || ppMalloc == nullptr) return E_INVALIDARG;
    *ppMalloc = &m->allocator();
    m->allocator().AddRef();
    return S_OK;
}

HRESULT fake_profiler_info::SetILFunctionBody(ModuleID moduleId, mdMethodDef methodId, LPCBYTE pbNewILMethodHeader) {
    if (auto injected = enter(__func__)) return *injected;
    fake_module* m = find_module(moduleId);
    method_row* row = m != nullptr ? m->method(methodId) : nullptr;
    if (row == nullptr || pbNewILMethodHeader == nullptr) return E_INVALIDARG;
    // The runtime keeps the pointer and reads the body later, so it must live in
    // a block of this module's allocator, and the whole method must fit in it.
    auto block = m->allocator().block_holding(pbNewILMethodHeader);
    if (!block) return E_INVALIDARG;
    const auto available = static_cast<ULONG>(block->data + block->size - pbNewILMethodHeader);
    auto length = il_method_length(pbNewILMethodHeader, available);
    if (!length) return E_INVALIDARG;
    row->new_body = blob(pbNewILMethodHeader, pbNewILMethodHeader + *length);
    return S_OK;
}

HRESULT fake_profiler_info::GetAppDomainInfo(AppDomainID appDomainId, ULONG cchName, ULONG* pcchName,
                                             WCHAR szName[], ProcessID* pProcessId) {
    if (auto injected = enter(__func__)) return *injected;
    for (const auto& [id, name] : app_domains_) {
        if (id != appDomainId) continue;
        if (pProcessId != nullptr) *pProcessId = static_cast<ProcessID>(getpid());
        return copy_name(name, szName, cchName, pcchName, insufficient_buffer);
    }
    return E_INVALIDARG;
}

HRESULT fake_profiler_info::GetAssemblyInfo(AssemblyID assemblyId, ULONG cchName, ULONG* pcchName, WCHAR szName[],
                                            AppDomainID* pAppDomainId, ModuleID* pModuleId) {
    if (auto injected = enter(__func__)) return *injected;
    for (auto& m : modules_) {
        if (m->assembly_id != assemblyId) continue;
        if (pAppDomainId != nullptr) *pAppDomainId = m->app_domain_id;
        if (pModuleId != nullptr) *pModuleId = m->module_id;
        return copy_name(m->assembly_name, szName, cchName, pcchName, insufficient_buffer);
    }
    return E_INVALIDARG;
}

HRESULT fake_profiler_info::GetRuntimeInformation(USHORT* pClrInstanceId, COR_PRF_RUNTIME_TYPE* pRuntimeType,
                                                  USHORT* pMajorVersion, USHORT* pMinorVersion,
                                                  USHORT* pBuildNumber, USHORT* pQFEVersion, ULONG cchVersionString,
                                                  ULONG* pcchVersionString, WCHAR szVersionString[]) {
    if (auto injected = enter(__func__)) return *injected;
    if (pClrInstanceId != nullptr) *pClrInstanceId = clr_instance_id;
    if (pRuntimeType != nullptr) *pRuntimeType = runtime_type;
    if (pMajorVersion != nullptr) *pMajorVersion = major_version;
    if (pMinorVersion != nullptr) *pMinorVersion = minor_version;
    if (pBuildNumber != nullptr) *pBuildNumber = build_number;
    if (pQFEVersion != nullptr) *pQFEVersion = qfe_version;
    return copy_name(version_string, szVersionString, cchVersionString, pcchVersionString, insufficient_buffer);
}

HRESULT fake_profiler_info::GetEventMask2(DWORD* pdwEventsLow, DWORD* pdwEventsHigh) {
    if (auto injected = enter(__func__)) return *injected;
    if (pdwEventsLow == nullptr || pdwEventsHigh == nullptr) return E_INVALIDARG;
    *pdwEventsLow = event_mask_low;
    *pdwEventsHigh = event_mask_high;
    return S_OK;
}

HRESULT fake_profiler_info::SetEventMask2(DWORD dwEventsLow, DWORD dwEventsHigh) {
    if (auto injected = enter(__func__)) return *injected;
    event_masks2_set.emplace_back(dwEventsLow, dwEventsHigh);
    event_mask_low = dwEventsLow;
    event_mask_high = dwEventsHigh;
    return S_OK;
}

HRESULT fake_profiler_info::ApplyMetaData(ModuleID moduleId) {
    if (auto injected = enter(__func__)) return *injected;
    if (find_module(moduleId) == nullptr) return E_INVALIDARG;
    metadata_applied.push_back(moduleId);
    return S_OK;
}

}  // namespace test_support
