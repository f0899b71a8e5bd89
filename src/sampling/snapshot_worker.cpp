#include "sampling/snapshot_worker.h"

#include <exception>

#include "logging/text_conversions.h"
#include "sampling/snapshot_completion.h"
#include "sampling/snapshot_frames.h"

HRESULT SnapshotWorker::platform_stack_walk(int32_t native_thread_id, std::vector<uint64_t>& /*function_ids*/) {
    return thread_do_stack_snapshot(static_cast<uint64_t>(static_cast<uint32_t>(native_thread_id)));
}

SnapshotWorker& SnapshotWorker::process() {
    // Make sure the completion outlives the worker, whose destructor may signal it.
    snapshot_completion::process();
    static SnapshotWorker worker;
    return worker;
}

SnapshotWorker::SnapshotWorker(stack_walk walk, const wtracing_scope& scope) : walk_(std::move(walk)), scope_(scope) {
    std::lock_guard lock(thread_mutex);
    serving = true;  // no other thread can see the worker yet
    try {
        thread = std::make_unique<std::thread>([this] { Start(); });
    } catch (...) {
        scope_.trace_f(Error, L"Snapshotworker constructor - issue starting thread.");
        thread.reset();
        std::lock_guard queue_lock(queue_mutex);
        serving = false;
    }
}

SnapshotWorker::~SnapshotWorker() {
    try {
        Stop();
    } catch (...) {
        scope_.trace_f(Error, L"Snapshotworker destructor - unhandled exception.");
    }
}

void SnapshotWorker::Start() {
    auto& completion = snapshot_completion::process();
    for (;;) {
        bool request_pending = false;  // taken from the queue, requester not yet released
        try {
            int32_t native_thread_id = 0;
            {
                std::unique_lock lock(queue_mutex);
                for (;;) {
                    if (stop_requested) {
                        scope_.trace_f(Debug, L"Snapshotworker exiting thread routine.");
                        serving = false;
                        const bool dropped = !requests.empty();
                        requests.clear();
                        lock.unlock();
                        // Requests are served one at a time, so at most one requester
                        // waits; release it rather than leave it waiting for ever.
                        if (dropped) completion.signal(snapshot_completion::outcome::not_served);
                        return;
                    }
                    if (!requests.empty()) {
                        native_thread_id = requests.front();
                        requests.pop_front();
                        break;
                    }
                    queue_cv.wait(lock);
                }
            }
            request_pending = true;

            std::vector<uint64_t> frames;
            result = walk_(native_thread_id, frames);
            function_ids = std::move(frames);
            request_pending = false;
            completion.signal(snapshot_completion::outcome::served);
        } catch (const std::exception& e) {
            scope_.trace_f(Warning, L"Snapshotworker exception happenned in getting snapshot. %s",
                           s2ws_replacing(e.what()).c_str());
            // The requester is released, but is not handed the frames and status of
            // an earlier request as if they were its own.
            if (request_pending) completion.signal(snapshot_completion::outcome::not_served);
        } catch (...) {
            scope_.trace_f(Warning, L"Snapshotworker exception happenned in getting snapshot.");
            if (request_pending) completion.signal(snapshot_completion::outcome::not_served);
        }
    }
}

bool SnapshotWorker::AddSnapshot(int32_t native_thread_id) {
    std::lock_guard lock(queue_mutex);
    if (!serving || stop_requested) return false;
    requests.push_back(native_thread_id);
    queue_cv.notify_one();
    return true;
}

void SnapshotWorker::Stop() {
    scope_.trace_f(Debug, L"SnapshotWorker::Stop(): stopping...");
    if (!IsWorkerThreadStopped()) {
        NotifyWorkerThread();
        StopWorkerThread();
    }
    scope_.trace_f(Debug, L"SnapshotWorker::Stop(): stopped.");
}

void SnapshotWorker::NotifyWorkerThread() {
    scope_.trace_f(Debug, L"SnapshotWorker::NotifyWorkerThread(): notifying thread routine...");
    try {
        std::lock_guard lock(queue_mutex);
        if (stop_requested) {
            scope_.trace_f(Debug, L"SnapshotWorker::NotifyWorkerThread(): already notified.");
        } else {
            scope_.trace_f(Debug, L"SnapshotWorker::NotifyWorkerThread(): notifying thread...");
            stop_requested = true;
            queue_cv.notify_one();
            scope_.trace_f(Debug, L"SnapshotWorker::NotifyWorkerThread(): thread notified.");
        }
    } catch (const std::exception& e) {
        scope_.trace_f(Error, L"SnapshotWorker::NotifyWorkerThread(): unable to notify worker thread. exception: %s.",
                       s2ws_replacing(e.what()).c_str());
    } catch (...) {
        scope_.trace_f(Error, L"SnapshotWorker::NotifyWorkerThread(): unable to notify worker thread. unhandled exception.");
    }
    scope_.trace_f(Debug, L"SnapshotWorker::NotifyWorkerThread(): thread routine notified.");
}

void SnapshotWorker::StopWorkerThread() {
    scope_.trace_f(Debug, L"Snapshotworker::StopWorkerThread(): stopping worker thread...");
    try {
        // Held across the join: a second Stop on another thread waits here and then
        // finds the thread gone. The worker thread never takes this lock.
        std::lock_guard lock(thread_mutex);
        if (thread) {
            if (thread->joinable()) {
                scope_.trace_f(Debug, L"Snapshotworker::StopWorkerThread(): joining thread...");
                thread->join();
                scope_.trace_f(Debug, L"Snapshotworker::StopWorkerThread(): thread joined.");
            }
            scope_.trace_f(Debug, L"Snapshotworker::StopWorkerThread(): destroying thread object...");
            thread.reset();
            scope_.trace_f(Debug, L"Snapshotworker::StopWorkerThread(): thread object destroyed.");
        }
    } catch (const std::exception& e) {
        scope_.trace_f(Error, L"Snapshotworker::StopWorkerThread(): unable to stop worker thread. exception: %s.",
                       s2ws_replacing(e.what()).c_str());
    } catch (...) {
        scope_.trace_f(Error,
                       L"Snapshotworker::StopWorkerThread(): unable to stop worker thread. unhandled exception occurred.");
    }
    scope_.trace_f(Debug, L"Snapshotworker::StopWorkerThread(): worker thread stopped.");
}

bool SnapshotWorker::IsWorkerThreadStopped() const {
    std::lock_guard lock(thread_mutex);
    return thread == nullptr;
}
