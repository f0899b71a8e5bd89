#include "sampling/snapshot_frames.h"

#include <limits>
#include <vector>

#include <boost/date_time/posix_time/posix_time.hpp>

std::atomic<boost::posix_time::ptime> snapshot_start{boost::posix_time::ptime(boost::posix_time::not_a_date_time)};

HRESULT thread_do_stack_snapshot(uint64_t /*thread_id*/) { return E_NOTIMPL; }

HRESULT record_snapshot_frame(FunctionID function_id, void* client_data, const wtracing_scope& scope) {
    auto* frames = static_cast<std::vector<uint64_t>*>(client_data);
    if (frames == nullptr) return snapshot_frame_no_list;

    const boost::posix_time::ptime now = boost::posix_time::second_clock::local_time();
    const boost::posix_time::ptime start = snapshot_start.load();
    // A special value on either side (no walk started) counts as out of time.
    const bool special = now.is_special() || start.is_special();
    const int64_t elapsed_us =
        special ? std::numeric_limits<int64_t>::max() : (now - start).total_microseconds();

    if (elapsed_us < snapshot_walk_limit.count()) {
        if (function_id != 0) frames->push_back(function_id);
        return S_OK;
    }
    scope.trace_f(Debug, L"CClrProfiler::NimbrelDoSnapshotCallback().timeout exceeded: %lld",
                  static_cast<long long>(elapsed_us / 1000));
    return snapshot_frame_timeout;
}
