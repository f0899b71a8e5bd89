#include "sampling/thread_events.h"

#include "runtime/profiler_state.h"

namespace {

bool shutting_down() { return profiler_state::is_shutting_down.load(std::memory_order_acquire); }

}  // namespace

void on_thread_created(const wtracing_scope& scope, ThreadID managed_thread_id) {
    scope.trace_f(Trace, L"CClrProfiler::ThreadCreated(): created managed thread ManagedThreadID=%u.",
                  static_cast<uint32_t>(managed_thread_id));
}

void on_thread_assigned_to_os_thread(const wtracing_scope& scope, ThreadID managed_thread_id,
                                     uint32_t native_thread_id, managed_thread_map& map) {
    scope.trace_f(Trace, L"CClrProfiler::ThreadAssignedToOSThread(): ManagedThreadID=%u assigned to NativeThreadID=%u.",
                  static_cast<uint32_t>(managed_thread_id), native_thread_id);
    if (shutting_down()) return;
    map.set(native_thread_id, managed_thread_id);
}

void on_thread_destroyed(const wtracing_scope& scope, ThreadID managed_thread_id, managed_thread_map& map,
                         const snapshot_mark& mark) {
    scope.trace_f(Trace, L"CClrProfiler::ThreadDestroyed(): destroyed managed thread ManagedThreadID=%u.",
                  static_cast<uint32_t>(managed_thread_id));
    if (shutting_down()) return;
    mark.wait_while_marked(managed_thread_id);
    map.remove(managed_thread_id, scope);
}
