#include "sampling/take_snapshot.h"

#include "runtime/profiler_state.h"
#include "sampling/snapshot_completion.h"

namespace {

bool shutting_down() { return profiler_state::is_shutting_down.load(std::memory_order_acquire); }

}  // namespace

int32_t take_snapshot(int32_t native_thread_id, std::vector<uint64_t>& function_ids, SnapshotWorker& (*get_worker)(),
                      const managed_thread_map& map) {
    if (shutting_down()) return snapshot_shutting_down;
    if (map.get(static_cast<uint32_t>(native_thread_id)) == 0) return snapshot_unknown_thread;

    auto& completion = snapshot_completion::process();
    std::lock_guard turn(completion.requester_turn);
    // Shutdown may have begun while an earlier request held the turn.
    if (shutting_down()) return snapshot_shutting_down;

    SnapshotWorker& worker = get_worker();
    completion.reset();
    if (!worker.AddSnapshot(native_thread_id)) return snapshot_not_served;
    if (completion.wait() == snapshot_completion::outcome::not_served) return snapshot_not_served;

    if (worker.GetResult() > 0) return worker.GetResult();
    function_ids = worker.GetFunctionIds();
    return snapshot_taken;
}
