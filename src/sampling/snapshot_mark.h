// The managed thread currently marked as being snapshotted. A thread callback that
// reports the end of a managed thread waits while the mark names that thread, so
// whoever sets the mark must move it away again.
//
// Thread-safe: the mark is read and written under snapshot_thread_set_mutex; the
// wait sleeps on a condition variable instead of spinning.
#pragma once

#include <condition_variable>
#include <mutex>

#include "runtime/profiler_types.h"

class snapshot_mark {
public:
    // The mark of the process; never destroyed (see managed_thread_map::process).
    static snapshot_mark& process();

    // Moves the mark and wakes every waiter.
    void set(ThreadID managed_thread_id);
    ThreadID get() const;
    // Returns once the mark names another thread than managed_thread_id.
    void wait_while_marked(ThreadID managed_thread_id) const;

    // Set by external snapshot callers, read by the thread-destroyed callback; only
    // under snapshot_thread_set_mutex.
    ThreadID m_snapShotThread = 0;
    mutable std::mutex snapshot_thread_set_mutex;

private:
    mutable std::condition_variable moved_;
};
