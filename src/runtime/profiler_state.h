// The few process-wide facts every layer may read: which runtime this is, whether
// the profiler activated, whether shutdown has begun, and the runtime's info
// interface. The profiler writes them while it initialises (before the runtime
// starts other work) and at shutdown; everyone else only reads them, from any
// thread, without locks.
#pragma once

#include <atomic>

#include "runtime/com_ptr.h"
#include "runtime/profiler_info.h"

struct profiler_state {
    // The runtime is CoreCLR (set by runtime detection in Initialize).
    static inline std::atomic<bool> is_coreclr{false};
    // Initialize completed its activation path; cleared when the profiler detaches.
    static inline std::atomic<bool> is_attached{false};
    // Set first thing in Shutdown; callbacks return at once from then on.
    static inline std::atomic<bool> is_shutting_down{false};
    // The runtime's info interface, stored once by Initialize before any other
    // callback can arrive, released at library unload.
    static inline com_ptr<ICorProfilerInfo> profiler_info;
};
