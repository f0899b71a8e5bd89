// Identity, start-up and shutdown of the profiler object.
#include "profiler/clr_profiler.h"

#include <exception>

#include "logging/event_log.h"
#include "logging/hresult_text.h"
#include "logging/is_azure.h"
#include "logging/log_files.h"
#include "logging/logging_configuration.h"
#include "logging/text_conversions.h"

wtracing_scope CClrProfiler::scope;

CClrProfiler::CClrProfiler() = default;

CClrProfiler::~CClrProfiler() {
    if (log_sink_) {
        try {
            stop_logging(log_sink_);
        } catch (...) {
        }
    }
    log_sink_.reset();
}

HRESULT CClrProfiler::QueryInterface(REFIID riid, void** ppvObject) {
    if (ppvObject == nullptr) return E_INVALIDARG;
    *ppvObject = nullptr;
    if (riid == IID_ICorProfilerCallback3 || riid == IID_ICorProfilerCallback2 || riid == IID_ICorProfilerCallback ||
        riid == IID_IUnknown) {
        *ppvObject = static_cast<ICorProfilerCallback3*>(this);
        AddRef();
        return S_OK;
    }
    return E_NOINTERFACE;
}

ULONG CClrProfiler::AddRef() { return static_cast<ULONG>(++ref_count_); }

ULONG CClrProfiler::Release() {
    int64_t remaining = --ref_count_;
    if (remaining == 0) delete this;
    return static_cast<ULONG>(remaining);
}

namespace {

template <typename Interface>
const IID& profiling_interface_id();
template <>
const IID& profiling_interface_id<ICorProfilerInfo2>() { return IID_ICorProfilerInfo2; }
template <>
const IID& profiling_interface_id<ICorProfilerInfo3>() { return IID_ICorProfilerInfo3; }

}  // namespace

template <typename Interface>
HRESULT CClrProfiler::GetGlobalProfilingInterface(com_ptr<Interface>& result) {
    result.reset();
    if (!g_profiler_info) return E_POINTER;
    return query_interface(g_profiler_info, profiling_interface_id<Interface>(), result);
}

template HRESULT CClrProfiler::GetGlobalProfilingInterface<ICorProfilerInfo2>(com_ptr<ICorProfilerInfo2>&);
template HRESULT CClrProfiler::GetGlobalProfilingInterface<ICorProfilerInfo3>(com_ptr<ICorProfilerInfo3>&);

HRESULT CClrProfiler::GetRuntimeInformation(bool& is_core_clr) {
    is_core_clr = false;
    com_ptr<ICorProfilerInfo3> info3;
    if (FAILED(GetGlobalProfilingInterface(info3))) {
        com_ptr<ICorProfilerInfo2> info2;
        HRESULT hr = GetGlobalProfilingInterface(info2);
        if (SUCCEEDED(hr)) return S_OK;  // an older desktop runtime
        scope.trace_f(Error, L"CClrProfiler::IsCoreCLR: Unable to get ICorProfilerInfo3 and ICorProfilerInfo2.  HRESULT=0x%x (%s).",
                      hr, hresult_text(hr));
        return hr;
    }

    USHORT instance = 0, major = 0, minor = 0, build = 0, qfe = 0;
    COR_PRF_RUNTIME_TYPE runtime_type{};
    HRESULT hr = info3->GetRuntimeInformation(&instance, &runtime_type, &major, &minor, &build, &qfe, 0, nullptr, nullptr);
    if (FAILED(hr)) {
        scope.trace_f(Error,
                      L"CClrProfiler::IsCoreCLR: Failed to get runtime information. GetRuntimeInformation failed with HRESULT=0x%x (%s).",
                      hr, hresult_text(hr));
        return hr;
    }
    if (runtime_type == COR_PRF_CORE_CLR) {
        scope.trace_f(Debug, L"CClrProfiler::IsCoreCLR: Runtime is CoreCRL. Version:%d.%d Build:%d QFEVersion:%d.", major,
                      minor, build, qfe);
        is_core_clr = true;
    } else {
        scope.trace_f(Debug, L"CClrProfiler::IsCoreCLR: Runtime is Desktop CLR. Version:%d.%d Build:%d QFEVersion:%d.",
                      major, minor, build, qfe);
    }
    return S_OK;
}

HRESULT CClrProfiler::Initialize(IUnknown* pICorProfilerInfoUnk) {
    // Nothing may escape towards the runtime: an unexpected exception (memory, a
    // malformed environment value) cancels activation like every handled refusal.
    try {
        return InitializeActivation(pICorProfilerInfoUnk);
    } catch (const std::exception& e) {
        scope.trace_f(Error, L"CClrProfiler::Initialize(): Unexpected exception, cancel activation for profiler. %s",
                      s2ws_replacing(e.what()).c_str());
    } catch (...) {
        scope.trace_f(Error, L"CClrProfiler::Initialize(): Unexpected exception, cancel activation for profiler.");
    }
    is_attached_ = false;
    return CORPROF_E_PROFILER_CANCEL_ACTIVATION;
}

HRESULT CClrProfiler::InitializeActivation(IUnknown* info_unknown) {
    ReportEventLogAlways(
        L".NET Runtime checking if Nimbrel Profiler should be loaded. Profiler CLSID: '{5E1A9C37-40B2-4F6D-9A81-2C7D3B6E0F54}'.");

    ReadLogConfiguration();
    auto& config = LoggingConfiguration::config();
    scope.level = config.level;
    if (config.level != None && !can_create_log_file()) return CORPROF_E_PROFILER_CANCEL_ACTIVATION;
    log_sink_ = init_logging(config.level, config.event_log_level);

    scope.trace_f(Debug, L"CClrProfiler::Initialize(): Invoked.");

    if (info_unknown == nullptr) return E_POINTER;
    HRESULT hr = query_interface(info_unknown, IID_ICorProfilerInfo, profiler_info_);
    if (FAILED(hr)) {
        scope.trace_f(Error, L"CClrProfiler::Initialize: QueryInterface failed. HRESULT=0x%x (%s).", hr, hresult_text(hr));
        return hr;
    }
    g_profiler_info = profiler_info_;

    {
        com_ptr<ICorProfilerInfo2> info2;
        if (FAILED(GetGlobalProfilingInterface(info2))) {
            ReportEventLog(Fatal, L"Unable to get ICorProfilerInfo2 profiler interface. Cancel activation for profiler.");
            scope.trace_f(Fatal, L"CClrProfiler::Initialize(): Unable to get ICorProfilerInfo2 profiler interface. Load error.");
            return CORPROF_E_PROFILER_CANCEL_ACTIVATION;
        }
    }

    bool core_clr = false;
    if (FAILED(GetRuntimeInformation(core_clr))) {
        ReportEventLog(Fatal, L"Unable to get runtime information. Cancel activation for profiler.");
        scope.trace_f(Fatal,
                      L"CClrProfiler::Initialize(): Unable to get runtime information. Failed to detect if running CoreCLR or Desktop CLR runtime.");
        return CORPROF_E_PROFILER_CANCEL_ACTIVATION;
    }
    is_coreclr_ = core_clr;
    scope.trace_f(Debug, core_clr ? L"CClrProfiler::Initialize: Runtime is CoreCLR." : L"CClrProfiler::Initialize: Runtime is Desktop CLR.");

    LogEnvironmentInfo();

    if (!ShouldTrace()) {
        ReportEventLog(Debug, L"Instrumentation is not enabled for the current process. Cancel activation for Nimbrel Profiler.");
        scope.trace_f(Debug, L"CClrProfiler::Initialize(): ShouldTrace returned false. Cancel activation for profiler.");
        return CORPROF_E_PROFILER_CANCEL_ACTIVATION;
    }

    if (is_azure() && !IsDynamicLoaderEnabled()) {
        scope.trace_f(Debug,
                      L"CClrProfiler::Initialize(): Detected .NET Framework application running on Azure and COMPLUS_LoaderOptimization was not set to 1.");
        return CORPROF_E_PROFILER_CANCEL_ACTIVATION;
    }

    scope.trace_f(Debug, L"CClrProfiler::Initialize(): ShouldTrace returned true. Continue with instrumenting %s process.", L"64-bit");
    ReportEventLog(Debug, L"Instrumentation is enabled for the current process. Intializing Nimbrel Profiler...");
    scope.trace_f(Debug, L"CClrProfiler::Initialize(): Instrumentation is enabled for the current process. Intializing Nimbrel Profiler...");
    scope.trace_f(Debug, L"CClrProfiler::Initialize(): Logging level is set to %s.", LoggingConfiguration::to_string(config.level).c_str());
    scope.trace_f(Debug, L"CClrProfiler::Initialize(): System Event Log logging level is set to %s.",
                  LoggingConfiguration::to_string(config.event_log_level).c_str());

    ReadOptions();

    if (profiler_info_) MonitorJitCompilation();
    ConfigureInstrumentationTargets();

    ReportEventLog(Debug, L"Nimbrel Profiler initialized succesfully.");
    scope.trace_f(Debug, L"CClrProfiler::Initialize(): Nimbrel Profiler initialized succesfully.");
    is_attached_ = true;
    return S_OK;
}

void CClrProfiler::ReadOptions() {
    // The applications list may already have disabled inlining; then the key is not read.
    if (!disable_inlining_) {
        disable_inlining_ = CheckKey("Inlining", "Disabled");
        if (disable_inlining_) scope.trace_f(Debug, L"CClrProfiler::Initialize(): Disable inlining in runtime.");
    }
    if (!disable_optimizations_) {
        disable_optimizations_ = CheckKey("Optimizations", "Disabled");
        if (disable_optimizations_) scope.trace_f(Debug, L"CClrProfiler::Initialize(): Disable optimizations in runtime.");
    }
    disable_transparency_checks_ = CheckKey("SecurityTransparencyInstrumentation", "2");
    security_transparency_instrumentation_ =
        disable_transparency_checks_ || CheckKey("SecurityTransparencyInstrumentation", "1");
    if (CheckKey("MvcInstrumentation", "Disabled")) {
        mvc_instrumentation_ = false;
        mvc_view_instrumentation_ = false;
    } else if (CheckKey("MvcInstrumentation", "MvcViewEnabled")) {
        mvc_instrumentation_ = false;
    }
    web_module_enabled_ = CheckKey("NimbrelHttpModule", "Enabled");
    EnableInstrumentationLoggingLibraries();
}

DWORD CClrProfiler::EventMask() const {
    DWORD mask = COR_PRF_MONITOR_MODULE_LOADS | COR_PRF_MONITOR_APPDOMAIN_LOADS | COR_PRF_MONITOR_JIT_COMPILATION |
                 COR_PRF_MONITOR_THREADS | COR_PRF_MONITOR_CACHE_SEARCHES | COR_PRF_ENABLE_STACK_SNAPSHOT;
    if (disable_inlining_) mask |= COR_PRF_DISABLE_INLINING;
    if (disable_optimizations_) mask |= COR_PRF_DISABLE_OPTIMIZATIONS | COR_PRF_DISABLE_ALL_NGEN_IMAGES;
    if (disable_transparency_checks_) mask |= COR_PRF_DISABLE_TRANSPARENCY_CHECKS_UNDER_FULL_TRUST;
    return mask;
}

HRESULT CClrProfiler::MonitorJitCompilation() {
    if (!profiler_info_) return E_POINTER;
    HRESULT hr = profiler_info_->SetEventMask(EventMask());
    if (FAILED(hr)) {
        scope.trace_f(Error, L" CClrProfiler::MonitorJitCompilation: Failed to set event mask. HRESULT=0x%x (%s).", hr,
                      hresult_text(hr));
    }
    return hr;
}

HRESULT CClrProfiler::Shutdown() {
    try {
        ReportEventLog(Debug, L"Shudown Nimbrel Profiler. Stop logging system.");
        scope.trace_f(Debug, L"CClrProfiler::Shutdown(): Shudown Nimbrel Profiler. Stop logging system.");
        is_shutting_down_ = true;
        GetSnapshotWorker().Stop();
        if (log_sink_) stop_logging(log_sink_);
        return S_OK;
    } catch (...) {
        ReportEventLog(Fatal, L"Shudown Nimbrel Profiler. Unexpected exception during shutdown.");
        return E_FAIL;
    }
}

HRESULT CClrProfiler::InitializeForAttach(IUnknown* pCorProfilerInfoUnk, void*, UINT) {
    Initialize(pCorProfilerInfoUnk);
    return S_OK;
}

HRESULT CClrProfiler::ProfilerAttachComplete() {
    scope.trace_f(Debug, L"CClrProfiler::ProfilerAttachComplete: invoked.");
    return S_OK;
}

HRESULT CClrProfiler::ProfilerDetachSucceeded() {
    is_attached_ = false;
    scope.trace_f(Debug, L"CClrProfiler::ProfilerDetachSucceeded: invoked.");
    return S_OK;
}
