// The profiler's thread callbacks and its sampling operations. Each forwards to the
// sampling layer with the profiler's trace scope; none lets an exception reach the
// runtime or the caller.
#include "profiler/clr_profiler.h"
#include "sampling/function_name_lookup.h"
#include "sampling/snapshot_frames.h"
#include "sampling/take_snapshot.h"
#include "sampling/thread_events.h"

HRESULT CClrProfiler::ThreadCreated(ThreadID threadId) {
    try {
        on_thread_created(scope, threadId);
    } catch (...) {
    }
    return S_OK;
}

HRESULT CClrProfiler::ThreadDestroyed(ThreadID threadId) {
    try {
        on_thread_destroyed(scope, threadId);
    } catch (...) {
    }
    return S_OK;
}

HRESULT CClrProfiler::ThreadAssignedToOSThread(ThreadID managedThreadId, DWORD osThreadId) {
    try {
        on_thread_assigned_to_os_thread(scope, managedThreadId, osThreadId);
    } catch (...) {
    }
    return S_OK;
}

void CClrProfiler::SetNativeThreadToManagedThread(int32_t nativeThreadId, ThreadID managedThreadId) {
    managed_thread_map::process().set(static_cast<uint32_t>(nativeThreadId), managedThreadId);
}

ThreadID CClrProfiler::GetManagedThreadFromNativeThread(int32_t nativeThreadId) {
    return managed_thread_map::process().get(static_cast<uint32_t>(nativeThreadId));
}

bool CClrProfiler::RemoveManagedThreadFromMap(ThreadID managedThreadId) {
    return managed_thread_map::process().remove(managedThreadId, scope);
}

void CClrProfiler::SetSnapshotMappedManagedThreadID(ThreadID managedThreadId) { snapshot_mark::process().set(managedThreadId); }

ThreadID CClrProfiler::GetSnapshotMappedManagedThreadID() { return snapshot_mark::process().get(); }

SnapshotWorker& CClrProfiler::GetSnapshotWorker() { return SnapshotWorker::process(); }

int32_t CClrProfiler::TakeSnapshot(int32_t nativeThreadId, std::vector<uint64_t>& functionIds) {
    try {
        return take_snapshot(nativeThreadId, functionIds);
    } catch (...) {
        // Only a failing lock or memory exhaustion get here.
        return snapshot_not_served;
    }
}

HRESULT CClrProfiler::Thread_Do_Stack_Snapshot(uint64_t threadId) { return thread_do_stack_snapshot(threadId); }

HRESULT CClrProfiler::NimbrelDoSnapshotCallback(FunctionID funcId, UINT_PTR /*ip*/, COR_PRF_FRAME_INFO /*frameInfo*/,
                                                ULONG32 /*contextSize*/, BYTE /*context*/[], void* clientData) {
    try {
        return record_snapshot_frame(funcId, clientData, scope);
    } catch (...) {
        // No local time: stop the walk rather than let the exception into the runtime.
        return E_FAIL;
    }
}

int32_t CClrProfiler::GetFunctionNames(std::vector<function_name_info>& functionNameInfos) {
    try {
        return get_function_names(functionNameInfos, scope);
    } catch (...) {
        return 0;
    }
}

HRESULT CClrProfiler::Thread_Function_Names_App(NimbrelFunctionNames* request) {
    try {
        return lookup_function_names(request, scope);
    } catch (...) {
        return E_FAIL;
    }
}
