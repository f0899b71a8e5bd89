// Hands the end of a snapshot request from the worker thread to the thread waiting
// for it. There is one completion flag and one result (the worker's) for the whole
// process, so requesters take turns: a requester holds requester_turn from queuing
// its request until it has read the result. Lock order: requester_turn, then
// snapshotJobMutex; the worker thread never takes requester_turn.
#pragma once

#include <condition_variable>
#include <mutex>

class snapshot_completion {
public:
    enum class outcome {
        served,      // the worker ran the walk; its result and frames belong to the request
        not_served,  // the worker ended before running the walk, or the walk threw
    };

    // The completion of the process; never destroyed, because the worker may signal
    // it from its destructor while the process exits.
    static snapshot_completion& process();

    // Requester, before queuing its request.
    void reset();
    // Worker thread: marks the current request finished and wakes its requester.
    void signal(outcome how);
    // Requester: sleeps until the current request is finished and tells how.
    outcome wait();

    // Serialises requesters (see above).
    std::mutex requester_turn;

    // Set by the worker thread, cleared and read by the requester; only under
    // snapshotJobMutex.
    bool snapShotComplete = false;
    bool snapShotServed = false;
    std::mutex snapshotJobMutex;
    std::condition_variable snapshot_thread_cv;
};
