// The one profiler object of the process, created by the class factory when the
// runtime loads the library. It decides in Initialize whether this process is
// profiled, and then receives the runtime's callbacks on the runtime's threads.
//
// Process-wide facts that lower layers read (runtime flavour, attached, shutting
// down, the runtime's info interface) live in runtime/profiler_state.h; the statics
// below are the same objects under the names the profiler uses.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include <boost/property_tree/ptree.hpp>
#include <boost/shared_ptr.hpp>

#include "logging/log_sink.h"
#include "logging/wtracing_scope.h"
#include "metadata/method_info.h"
#include "profiler/callback_impl.h"
#include "runtime/com_ptr.h"
#include "runtime/profiler_info.h"
#include "runtime/profiler_state.h"
#include "sampling/function_name_info.h"
#include "sampling/managed_thread_map.h"
#include "sampling/nimbrel_function_names.h"
#include "sampling/snapshot_completion.h"
#include "sampling/snapshot_mark.h"
#include "sampling/snapshot_worker.h"

class CClrProfiler final : public NimbrelCorProfilerCallbackImpl {
public:
    CClrProfiler();
    ~CClrProfiler();
    CClrProfiler(const CClrProfiler&) = delete;
    CClrProfiler& operator=(const CClrProfiler&) = delete;

    // IUnknown
    HRESULT QueryInterface(REFIID riid, void** ppvObject) override;
    ULONG AddRef() override;
    ULONG Release() override;

    // Lifecycle
    HRESULT Initialize(IUnknown* pICorProfilerInfoUnk) override;
    HRESULT Shutdown() override;
    HRESULT InitializeForAttach(IUnknown* pCorProfilerInfoUnk, void* pvClientData, UINT cbClientData) override;
    HRESULT ProfilerAttachComplete() override;
    HRESULT ProfilerDetachSucceeded() override;

    static bool IsAttached() { return is_attached_.load(std::memory_order_acquire); }
    static bool IsCoreCLR() { return is_coreclr_.load(std::memory_order_acquire); }

    // Queries the runtime's info interface for another profiler-info interface.
    template <typename Interface>
    static HRESULT GetGlobalProfilingInterface(com_ptr<Interface>& result);

    // Asks ICorProfilerInfo3 which runtime this is; sets is_core_clr.
    static HRESULT GetRuntimeInformation(bool& is_core_clr);

    // Configuration file
    int LoadAgentConfig(boost::property_tree::ptree& tree);
    bool ReadKey(const boost::property_tree::ptree& tree, const std::string& key, std::string& value);
    bool CheckKey(const std::string& key, const std::string& expected);
    void ReadLogConfiguration();
    bool EnableInstrumentationLoggingLibraries();
    bool IsDynamicLoaderEnabled();

    // Activation decision
    int ShouldTrace();
    bool DotnetInvokedWithCommandOrOption();
    void LogEnvironmentInfo();

    // Event subscription and target table
    HRESULT MonitorJitCompilation();
    void ConfigureInstrumentationTargets();

    // The runtime's info interface, reachable from static code and free functions.
    static inline com_ptr<ICorProfilerInfo>& g_profiler_info = profiler_state::profiler_info;
    static inline std::atomic<bool>& is_coreclr_ = profiler_state::is_coreclr;
    static inline std::atomic<bool>& is_attached_ = profiler_state::is_attached;
    static inline std::atomic<bool>& is_shutting_down_ = profiler_state::is_shutting_down;
    static wtracing_scope scope;

    com_ptr<ICorProfilerInfo> profiler_info_;
    bool web_module_enabled_ = false;
    bool disable_inlining_ = false;
    bool disable_optimizations_ = false;
    bool disable_transparency_checks_ = false;
    bool security_transparency_instrumentation_ = false;
    bool log_trace_id_enabled_ = false;
    bool insert_log_trace_id_ = false;
    bool add_attribute_log_trace_id_ = false;
    boost::shared_ptr<log_sink> log_sink_;
    bool mscorlib_loaded_ = false;
    bool dynamic_framework_loader_ = false;
    bool mvc_instrumentation_ = true;
    bool mvc_view_instrumentation_ = true;

    // The mask of runtime events asked for, from the option flags.
    DWORD EventMask() const;

    // Threads and sampling: thin forwards to the sampling layer (definitions in
    // clr_profiler_sampling.cpp). Nothing thrown inside reaches the runtime.
    HRESULT ThreadCreated(ThreadID threadId) override;
    HRESULT ThreadDestroyed(ThreadID threadId) override;
    HRESULT ThreadAssignedToOSThread(ThreadID managedThreadId, DWORD osThreadId) override;

    static void SetNativeThreadToManagedThread(int32_t nativeThreadId, ThreadID managedThreadId);
    static ThreadID GetManagedThreadFromNativeThread(int32_t nativeThreadId);
    static bool RemoveManagedThreadFromMap(ThreadID managedThreadId);
    static void SetSnapshotMappedManagedThreadID(ThreadID managedThreadId);
    static ThreadID GetSnapshotMappedManagedThreadID();
    static SnapshotWorker& GetSnapshotWorker();
    // 0 taken, 1 shutting down, 2 unknown native thread, -1 not served by the worker,
    // any other positive value the failing status of the walk (see take_snapshot.h).
    static int32_t TakeSnapshot(int32_t nativeThreadId, std::vector<uint64_t>& functionIds);
    static HRESULT Thread_Do_Stack_Snapshot(uint64_t threadId);
    static HRESULT NimbrelDoSnapshotCallback(FunctionID funcId, UINT_PTR ip, COR_PRF_FRAME_INFO frameInfo,
                                             ULONG32 contextSize, BYTE context[], void* clientData);
    static int32_t GetFunctionNames(std::vector<function_name_info>& functionNameInfos);
    static HRESULT Thread_Function_Names_App(NimbrelFunctionNames* request);

    static inline std::map<uint32_t, ThreadID>& m_nativeIdMappedToManagedThreadId =
        managed_thread_map::process().m_nativeIdMappedToManagedThreadId;
    static inline ThreadID& m_snapShotThread = snapshot_mark::process().m_snapShotThread;
    static inline std::mutex& snapshotJobMutex = snapshot_completion::process().snapshotJobMutex;
    static inline std::condition_variable& snapshot_thread_cv = snapshot_completion::process().snapshot_thread_cv;
    static inline bool& snapShotComplete = snapshot_completion::process().snapShotComplete;
    // End of threads and sampling.

    // Embedded loader: hands managed code the addresses and sizes of the loader
    // assembly and its symbols inside the library (definitions in loader_exports.cpp).
    static void GetAssemblyAndSymbolsBytes(BYTE** pAssemblyArray, int32_t* pAssemblySize, BYTE** pSymbolsArray,
                                           int32_t* pSymbolsSize);
    // End of embedded loader.

    // Loader injection policy: the first eligible method compiled in each application
    // domain receives the managed loader's startup IL (definitions in loader_policy.cpp).
    // S_OK with `injected` set: the method now loads the loader and must not be rewritten
    // again in this compilation. S_FALSE: not eligible. A failure: nothing was done; the
    // next method of the domain is tried.
    HRESULT InjectLoadForManagedLoader(method_info& method, bool& injected);
    static bool IsManagedLoaderInjectedIntoDomain(AppDomainID domain);
    static void MarkManagedLoaderInjectedIntoDomain(AppDomainID domain);
    static void UnmarkManagedLoaderInjectedIntoDomain(AppDomainID domain);
    HRESULT AppDomainShutdownFinished(AppDomainID appDomainId, HRESULT hrStatus) override;
    // End of loader injection policy.

    // JIT dispatch: which methods are rewritten and when, what the JIT may inline, and
    // the core library's module (definitions in jit_dispatch.cpp). Every callback
    // catches everything at its boundary: one Error line, the method left as the
    // runtime had it, S_OK.
    HRESULT JITCompilationStarted(FunctionID functionId, BOOL fIsSafeToBlock) override;
    HRESULT JITCompilationFinished(FunctionID functionId, HRESULT hrStatus, BOOL fIsSafeToBlock) override;
    HRESULT JITCachedFunctionSearchStarted(FunctionID functionId, BOOL* pbUseCachedFunction) override;
    HRESULT JITInlining(FunctionID callerId, FunctionID calleeId, BOOL* pfShouldInline) override;
    HRESULT ModuleLoadFinished(ModuleID moduleId, HRESULT hrStatus) override;
    HRESULT ModuleUnloadFinished(ModuleID moduleId, HRESULT hrStatus) override;

    // 1 when the method's full name is in the target table and, for a row with
    // argument types, its parameters have exactly those element types.
    static int IsMatched(method_info method);
    // The application domain of an assembly; sets *appDomainId to 0 first.
    HRESULT GetAssemblyAppDomain(AssemblyID assemblyId, AppDomainID* appDomainId);
    // Set when the agent's assembly has loaded in the process. Until then no method is
    // wrapped: the wrapper's own handlers call the agent, and without it they would
    // throw out of the application's method.
    static inline std::atomic<bool> agent_loaded_{false};
    // End of JIT dispatch.

private:
    HRESULT InitializeActivation(IUnknown* info_unknown);
    void ReadOptions();

    std::atomic<int64_t> ref_count_{0};
};
