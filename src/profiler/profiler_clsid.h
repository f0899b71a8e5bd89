// The class identifier under which the runtime finds this profiler
// (CORECLR_PROFILER={5E1A9C37-40B2-4F6D-9A81-2C7D3B6E0F54}).
#pragma once

#include "runtime/com_types.h"

inline constexpr CLSID CLSID_NimbrelProfiler = {
    0x5E1A9C37, 0x40B2, 0x4F6D, {0x9A, 0x81, 0x2C, 0x7D, 0x3B, 0x6E, 0x0F, 0x54}};
