#include "sampling/snapshot_completion.h"

snapshot_completion& snapshot_completion::process() {
    static auto* const completion = new snapshot_completion;
    return *completion;
}

void snapshot_completion::reset() {
    std::lock_guard lock(snapshotJobMutex);
    snapShotComplete = false;
    snapShotServed = false;
}

void snapshot_completion::signal(outcome how) {
    {
        std::lock_guard lock(snapshotJobMutex);
        snapShotComplete = true;
        snapShotServed = how == outcome::served;
    }
    snapshot_thread_cv.notify_one();
}

snapshot_completion::outcome snapshot_completion::wait() {
    std::unique_lock lock(snapshotJobMutex);
    snapshot_thread_cv.wait(lock, [&] { return snapShotComplete; });
    snapShotComplete = false;
    return snapShotServed ? outcome::served : outcome::not_served;
}
