// Turning runtime function identifiers into type and method names through the
// runtime's metadata.
//
// Each get_function_names call runs the lookup on a thread of its own and waits for
// it, so calls from several threads run independently; they share only the global
// profiler interface (read-only once the profiler initialised) and the
// shutting-down flag. Messages go through the caller's scope.
#pragma once

#include <cstdint>
#include <vector>

#include "logging/wtracing_scope.h"
#include "runtime/com_types.h"
#include "runtime/profiler_types.h"
#include "sampling/function_name_info.h"
#include "sampling/nimbrel_function_names.h"

// The identifier a double stands for; 0 (never a valid function) when the value is
// not a whole number the identifier type can hold.
FunctionID to_function_id(double value);

// The body of the lookup thread. Resolves every element of the request in order
// (stopping when shutdown begins) and stores the list back. An element whose
// identifier or metadata cannot be read keeps its names, with one Debug line. Returns
// the status of the last runtime call, or the failure to obtain ICorProfilerInfo2
// (logged at Error; the request is then left as it was).
HRESULT lookup_function_names(NimbrelFunctionNames* request, const wtracing_scope& scope);

// Fills the names of infos in place, by a lookup thread started and joined here. Once
// shutdown has begun no thread is started and the names stay as they are. Returns 0.
int32_t get_function_names(std::vector<function_name_info>& infos, const wtracing_scope& scope);
