// The thread that carries out stack-snapshot requests, one at a time in the order
// they were queued, while each requester waits on the process's snapshot_completion.
//
// Thread-safety: requests and the stop request are handed over under queue_mutex;
// the thread object is guarded by thread_mutex (Stop may run on the shutdown thread
// and again from the destructor). result and function_ids are written by the worker
// thread before it signals completion and are read by the requester after it, so
// they need no lock of their own. A stopped worker does not start again; it refuses
// further requests, and requests still queued when it stops are released as not
// served, so no requester waits on a worker that will never answer.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "logging/wtracing_scope.h"
#include "runtime/com_types.h"
#include "sampling/sampling_scope.h"

class SnapshotWorker {
public:
    // Walks the stack of a native thread, filling the frames; its status becomes the
    // request's result.
    using stack_walk = std::function<HRESULT(int32_t native_thread_id, std::vector<uint64_t>& function_ids)>;

    // The walk of this platform: thread_do_stack_snapshot, which collects nothing.
    static HRESULT platform_stack_walk(int32_t native_thread_id, std::vector<uint64_t>& function_ids);

    // The worker of the process, created (and its thread started) on first use and
    // destroyed at process exit.
    static SnapshotWorker& process();

    // Starts the thread. If it cannot be started the worker refuses every request.
    explicit SnapshotWorker(stack_walk walk = platform_stack_walk, const wtracing_scope& scope = sampling_scope());
    ~SnapshotWorker();
    SnapshotWorker(const SnapshotWorker&) = delete;
    SnapshotWorker& operator=(const SnapshotWorker&) = delete;

    // The thread routine: serves requests until a stop is requested.
    void Start();
    // Queues a request and wakes the thread. False, and nothing queued, when the
    // thread does not run or is stopping.
    bool AddSnapshot(int32_t native_thread_id);
    // Asks the thread to end and joins it. Safe to call more than once.
    void Stop();
    void NotifyWorkerThread();
    void StopWorkerThread();
    bool IsWorkerThreadStopped() const;

    int32_t GetResult() const { return result; }
    void SetResult(int32_t value) { result = value; }
    const std::vector<uint64_t>& GetFunctionIds() const { return function_ids; }
    void SetFunctionIds(const std::vector<uint64_t>& ids) { function_ids = ids; }

private:
    const stack_walk walk_;
    const wtracing_scope& scope_;

    // Frames and status of the last request (see the thread-safety note above).
    std::vector<uint64_t> function_ids;
    int32_t result = 0;

    // Constructor, Stop and IsWorkerThreadStopped, on any thread; under thread_mutex.
    std::unique_ptr<std::thread> thread;
    mutable std::mutex thread_mutex;

    // Requesters, Stop and the worker thread; under queue_mutex.
    std::condition_variable queue_cv;
    std::mutex queue_mutex;
    std::deque<int32_t> requests;
    bool stop_requested = false;
    bool serving = false;  // the thread routine runs and takes requests
};
