// What the profiler does when the runtime reports a managed thread being created,
// placed on an operating-system thread, or destroyed: trace it and keep the thread
// map current. Runs on the runtime's threads, any number at once. Once shutdown has
// begun the map is left alone. Messages go through the caller's scope at Trace and
// print the low 32 bits of the managed identifier.
#pragma once

#include <cstdint>

#include "logging/wtracing_scope.h"
#include "runtime/profiler_types.h"
#include "sampling/managed_thread_map.h"
#include "sampling/snapshot_mark.h"

void on_thread_created(const wtracing_scope& scope, ThreadID managed_thread_id);

void on_thread_assigned_to_os_thread(const wtracing_scope& scope, ThreadID managed_thread_id,
                                     uint32_t native_thread_id,
                                     managed_thread_map& map = managed_thread_map::process());

// Waits while the snapshot mark names the dying thread, then forgets its first entry.
void on_thread_destroyed(const wtracing_scope& scope, ThreadID managed_thread_id,
                         managed_thread_map& map = managed_thread_map::process(),
                         const snapshot_mark& mark = snapshot_mark::process());
