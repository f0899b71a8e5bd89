// The plain-named functions through which managed code asks for function names and
// hands the answer back. Each is a thin boundary: nothing thrown inside may reach
// the caller.
#include <cstdint>
#include <cstring>
#include <vector>

#include "profiler/clr_profiler.h"
#include "sampling/function_name_array.h"

#define NIMBREL_EXPORT extern "C" __attribute__((visibility("default")))

// function_ids: count pointers, each to an 8-byte double holding one function
// identifier (a null pointer stands for identifier 0). result: receives the array of
// names, an 8-byte count followed by 72-byte elements (see function_name_array.h),
// to be handed back to ReleaseFunctionNames. Returns 0 with the array, or 1 and no
// array when function_ids or result is missing (result is then left as it was) or
// the array could not be built (result is null).
NIMBREL_EXPORT int32_t GetFunctionNames(double** function_ids, int32_t count, function_name_info** result) {
    if (function_ids == nullptr || result == nullptr) return 1;
    *result = nullptr;
    try {
        std::vector<function_name_info> infos(count > 0 ? static_cast<size_t>(count) : 0);
        for (size_t i = 0; i < infos.size(); ++i) {
            if (function_ids[i] != nullptr) std::memcpy(&infos[i].function_id, function_ids[i], sizeof(double));
        }
        CClrProfiler::GetFunctionNames(infos);
        *result = make_function_name_array(infos);
        return 0;
    } catch (...) {
        return 1;
    }
}

// Frees an array returned by GetFunctionNames; null is ignored.
NIMBREL_EXPORT void ReleaseFunctionNames(function_name_info* names) {
    try {
        release_function_name_array(names);
    } catch (...) {
    }
}
