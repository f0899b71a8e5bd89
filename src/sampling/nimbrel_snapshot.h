// One snapshot result as offered to callers of the sampling interface: the frames of
// a native thread and the status of taking them. A plain record; not thread-safe.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

class NimbrelSnapshot {
public:
    NimbrelSnapshot(std::vector<uint64_t> function_ids, int32_t thread_id)
        : function_ids(std::move(function_ids)), thread_id(thread_id) {}

    int32_t GetThreadId() const { return thread_id; }
    int32_t GetResult() const { return result; }
    const std::vector<uint64_t>& GetFunctionIds() const { return function_ids; }
    void SetFunctionIds(std::vector<uint64_t> ids) { function_ids = std::move(ids); }
    void SetResult(int32_t value) { result = value; }

private:
    std::vector<uint64_t> function_ids;
    int32_t thread_id;
    int32_t result = 0;
};
