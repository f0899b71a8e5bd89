// Taking a snapshot of a native thread's managed stack: the requester's side of the
// hand-off to the SnapshotWorker. Callable from any thread; concurrent callers are
// served one after another. Returns once the worker has served, dropped or refused
// the request, so a caller never waits on a worker that has no thread or has ended.
#pragma once

#include <cstdint>
#include <vector>

#include "sampling/managed_thread_map.h"
#include "sampling/snapshot_worker.h"

// Results of take_snapshot. Any other positive value is the failing status of the
// stack walk; a negative walk status counts as success.
enum snapshot_code : int32_t {
    snapshot_taken = 0,            // the frames (none on this platform) are in the caller's list
    snapshot_shutting_down = 1,    // shutdown has begun
    snapshot_unknown_thread = 2,   // no managed thread is known for the native thread
    // The worker could not serve the request: it has no thread, it stopped before it
    // reached the request, or the walk raised an exception. Negative so that it cannot
    // be mistaken for a walk status, which the caller only ever sees when positive.
    snapshot_not_served = -1,
};

// Finds the managed thread of native_thread_id, queues the request on the worker that
// get_worker returns (only asked for once the thread is known), waits for it, and on
// success replaces function_ids with the frames. The list is untouched otherwise.
int32_t take_snapshot(int32_t native_thread_id, std::vector<uint64_t>& function_ids,
                      SnapshotWorker& (*get_worker)() = &SnapshotWorker::process,
                      const managed_thread_map& map = managed_thread_map::process());
