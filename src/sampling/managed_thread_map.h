// Which managed thread the runtime last reported on each operating-system thread.
//
// Thread-safe: every operation holds native_map_set_mutex for one map operation (the
// removal for its whole scan). set and get cost O(log n), remove O(n). Nothing here
// looks at the shutting-down flag; the thread callbacks do that before calling in.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>

#include "logging/wtracing_scope.h"
#include "runtime/profiler_types.h"

class managed_thread_map {
public:
    // The map of the process, fed by the runtime's thread callbacks. Never destroyed:
    // a runtime thread may still report a thread while the process exits.
    static managed_thread_map& process();

    // Creates or overwrites the entry of the native thread.
    void set(uint32_t native_thread_id, ThreadID managed_thread_id);
    // The managed thread last reported on the native thread; 0 when none is known.
    ThreadID get(uint32_t native_thread_id) const;
    // Erases the entry with the lowest native id that maps to the managed thread and
    // logs the removal at Trace through scope (the lock is held while logging). A
    // thread that moved between native threads leaves its later entries in place.
    // False when no entry names the managed thread.
    bool remove(ThreadID managed_thread_id, const wtracing_scope& scope);
    // A copy of all entries, for diagnostics.
    std::map<uint32_t, ThreadID> entries() const;

    // Written by the runtime's thread callbacks, read by snapshot requesters; both
    // only under native_map_set_mutex. Public so the profiler can show them under
    // the names its callers know.
    std::map<uint32_t, ThreadID> m_nativeIdMappedToManagedThreadId;
    mutable std::mutex native_map_set_mutex;
};
