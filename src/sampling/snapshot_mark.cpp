#include "sampling/snapshot_mark.h"

#include <chrono>

snapshot_mark& snapshot_mark::process() {
    static auto* const mark = new snapshot_mark;
    return *mark;
}

void snapshot_mark::set(ThreadID managed_thread_id) {
    {
        std::lock_guard lock(snapshot_thread_set_mutex);
        m_snapShotThread = managed_thread_id;
    }
    moved_.notify_all();
}

ThreadID snapshot_mark::get() const {
    std::lock_guard lock(snapshot_thread_set_mutex);
    return m_snapShotThread;
}

void snapshot_mark::wait_while_marked(ThreadID managed_thread_id) const {
    std::unique_lock lock(snapshot_thread_set_mutex);
    // set() wakes the waiter at once; the periodic check also sees a mark that was
    // written directly under the mutex, without the notification.
    while (m_snapShotThread == managed_thread_id) moved_.wait_for(lock, std::chrono::milliseconds(5));
}
