// The runtime's profiler-info object for unit tests: ICorProfilerInfo through
// ICorProfilerInfo7, answering what the library calls and E_NOTIMPL to the rest.
// QueryInterface answers IUnknown and the info levels up to `answered_level`
// (minus any in `refused_levels`); event masks set through it are recorded;
// runtime detection reads `runtime_type` and the version fields; module,
// assembly, app-domain and function lookups and the IL body calls are answered
// from the fake_modules made with add_module(). Every call except AddRef and
// Release first passes the failure switch, shared with those modules.
//
// Lifetime belongs to the test (stack or member): Release never deletes, and
// references() shows what the code under test still holds. Code that keeps the
// interface beyond the test (profiler_state::profiler_info) must be reset first.
#pragma once

#include <atomic>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "support/failure_switch.h"
#include "support/fake_module.h"
#include "support/runtime_stubs.h"

namespace test_support {

class fake_profiler_info : public profiler_info_stub {
public:
    fake_profiler_info();
    fake_profiler_info(const fake_profiler_info&) = delete;
    fake_profiler_info& operator=(const fake_profiler_info&) = delete;

    // --- What QueryInterface answers: ICorProfilerInfo{1..answered_level} ---
    int answered_level = 7;  // 0 answers IUnknown only
    std::set<int> refused_levels;  // e.g. {2}: refuse ICorProfilerInfo2 alone

    // --- GetRuntimeInformation ---
    COR_PRF_RUNTIME_TYPE runtime_type = COR_PRF_CORE_CLR;
    USHORT clr_instance_id = 0;
    USHORT major_version = 8, minor_version = 0, build_number = 0, qfe_version = 0;
    std::u16string version_string = u"8.0.0";

    // --- GetCurrentThreadID ---
    ThreadID current_thread = 0;  // a fresh id unless the test sets one

    // --- Recorded calls ---
    std::vector<DWORD> event_masks_set;  // each SetEventMask value, in order
    std::vector<std::pair<DWORD, DWORD>> event_masks2_set;  // each SetEventMask2 (low, high)
    DWORD event_mask_low = 0, event_mask_high = 0;  // current masks, as GetEventMask(2) answers
    std::vector<ModuleID> metadata_applied;  // each ApplyMetaData module

    // --- The process: app domains and modules ---
    AppDomainID default_app_domain;
    AppDomainID add_app_domain(std::string_view name);
    // A new module in `app_domain` (the default one unless given), sharing this
    // object's failure switch. The reference stays valid as long as this object.
    fake_module& add_module(std::string_view assembly_name, AppDomainID app_domain = 0);
    fake_module* find_module(ModuleID id);

    // --- Failure injection (one switch for this object and all its modules) ---
    failure_switch& failures() { return failures_; }
    void fail(std::string_view method, HRESULT status) { failures_.fail(method, status); }
    void fail_once(std::string_view method, HRESULT status, unsigned nth = 1) {
        failures_.fail_once(method, status, nth);
    }
    unsigned calls(std::string_view method) const { return failures_.calls(method); }

    ULONG references() const { return references_; }

    // IUnknown
    HRESULT QueryInterface(REFIID riid, void** ppv) override;
    ULONG AddRef() override { return ++references_; }
    ULONG Release() override { return --references_; }

    // ICorProfilerInfo
    HRESULT GetClassFromToken(ModuleID moduleId, mdTypeDef typeDef, ClassID* pClassId) override;
    HRESULT GetEventMask(DWORD* pdwEvents) override;
    HRESULT GetFunctionFromToken(ModuleID moduleId, mdToken token, FunctionID* pFunctionId) override;
    HRESULT GetCurrentThreadID(ThreadID* pThreadId) override;
    HRESULT GetClassIDInfo(ClassID classId, ModuleID* pModuleId, mdTypeDef* pTypeDefToken) override;
    HRESULT GetFunctionInfo(FunctionID functionId, ClassID* pClassId, ModuleID* pModuleId, mdToken* pToken) override;
    HRESULT SetEventMask(DWORD dwEvents) override;
    HRESULT GetTokenAndMetaDataFromFunction(FunctionID functionId, REFIID riid, IUnknown** ppImport,
                                            mdToken* pToken) override;
    HRESULT GetModuleInfo(ModuleID moduleId, LPCBYTE* ppBaseLoadAddress, ULONG cchName, ULONG* pcchName,
                          WCHAR szName[], AssemblyID* pAssemblyId) override;
    HRESULT GetModuleMetaData(ModuleID moduleId, DWORD dwOpenFlags, REFIID riid, IUnknown** ppOut) override;
    HRESULT GetILFunctionBody(ModuleID moduleId, mdMethodDef methodId, LPCBYTE* ppMethodHeader,
                              ULONG* pcbMethodSize) override;
    HRESULT GetILFunctionBodyAllocator(ModuleID moduleId, IMethodMalloc** ppMalloc) override;
    HRESULT SetILFunctionBody(ModuleID moduleId, mdMethodDef methodId, LPCBYTE pbNewILMethodHeader) override;
    HRESULT GetAppDomainInfo(AppDomainID appDomainId, ULONG cchName, ULONG* pcchName, WCHAR szName[],
                             ProcessID* pProcessId) override;
    HRESULT GetAssemblyInfo(AssemblyID assemblyId, ULONG cchName, ULONG* pcchName, WCHAR szName[],
                            AppDomainID* pAppDomainId, ModuleID* pModuleId) override;

    // ICorProfilerInfo3
    HRESULT GetRuntimeInformation(USHORT* pClrInstanceId, COR_PRF_RUNTIME_TYPE* pRuntimeType,
                                  USHORT* pMajorVersion, USHORT* pMinorVersion, USHORT* pBuildNumber,
                                  USHORT* pQFEVersion, ULONG cchVersionString, ULONG* pcchVersionString,
                                  WCHAR szVersionString[]) override;
    HRESULT GetModuleInfo2(ModuleID moduleId, LPCBYTE* ppBaseLoadAddress, ULONG cchName, ULONG* pcchName,
                           WCHAR szName[], AssemblyID* pAssemblyId, DWORD* pdwModuleFlags) override;

    // ICorProfilerInfo5
    HRESULT GetEventMask2(DWORD* pdwEventsLow, DWORD* pdwEventsHigh) override;
    HRESULT SetEventMask2(DWORD dwEventsLow, DWORD dwEventsHigh) override;

    // ICorProfilerInfo7
    HRESULT ApplyMetaData(ModuleID moduleId) override;

private:
    std::optional<HRESULT> enter(const char* method) { return failures_.enter(method); }
    HRESULT module_info(ModuleID moduleId, LPCBYTE* ppBaseLoadAddress, ULONG cchName, ULONG* pcchName,
                        WCHAR szName[], AssemblyID* pAssemblyId, DWORD* pdwModuleFlags);
    // The module holding a function id, with its row; nullptr when unknown.
    std::pair<fake_module*, const function_row*> find_function(FunctionID id);

    failure_switch failures_;
    std::atomic<ULONG> references_{0};
    std::vector<std::pair<AppDomainID, std::u16string>> app_domains_;
    std::vector<std::unique_ptr<fake_module>> modules_;
};

}  // namespace test_support
