// The stack-walking step of a snapshot and its per-frame rule.
//
// On this platform no stack is walked: thread_do_stack_snapshot reports E_NOTIMPL at
// once and collects nothing. record_snapshot_frame is the rule a walk applies to each
// frame: keep collecting while the walk is younger than snapshot_walk_limit
// (measured against snapshot_start on a one-second clock), stop once it is older.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>

#include <boost/date_time/posix_time/posix_time_types.hpp>

#include "logging/wtracing_scope.h"
#include "runtime/profiler_types.h"

// Start of the current walk. Nothing on this platform starts a walk, so it stays
// not-a-date-time; atomic because a walk's callback would read it on the runtime's
// thread while the walking thread sets it.
extern std::atomic<boost::posix_time::ptime> snapshot_start;

// A walk older than this is stopped at its next frame.
inline constexpr std::chrono::microseconds snapshot_walk_limit{201000};

// Frame callback results beyond S_OK (continue): S_FALSE when there is no list to
// fill, 3 when the walk ran out of time. Both stop the walk.
inline constexpr HRESULT snapshot_frame_no_list = S_FALSE;
inline constexpr HRESULT snapshot_frame_timeout = 3;

// Walks the managed stack of a thread: E_NOTIMPL here.
HRESULT thread_do_stack_snapshot(uint64_t thread_id);

// Appends function_id (unless 0) to the std::vector<uint64_t> that client_data
// points to while the walk is within its time limit; otherwise logs the elapsed
// milliseconds at Debug through scope and stops the walk. Throws std::runtime_error
// when the local time cannot be formed.
HRESULT record_snapshot_frame(FunctionID function_id, void* client_data, const wtracing_scope& scope);
