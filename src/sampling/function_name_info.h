// One resolved function name. This record is also, byte for byte, the element of the
// array that the GetFunctionNames export hands to managed code, which reads it
// directly: 72 bytes, the identifier at 0 and two libstdc++ wide strings (pointer,
// length, then capacity or up to three characters in place) at 8 and 40. The
// assertions below keep that layout from drifting.
#pragma once

#include <cstddef>
#include <string>
#include <type_traits>

struct function_name_info {
    // The runtime function identifier as the caller passed it: a double, converted
    // (truncating) to a FunctionID when used.
    double function_id = 0;
    // The declaring type definition's name as the metadata stores it (namespace and
    // name); empty when not resolved.
    std::wstring type_name;
    // The method's name as the metadata stores it; empty when not resolved.
    std::wstring method_name;
};

static_assert(sizeof(wchar_t) == 4, "names are handed over as 32-bit characters");
static_assert(std::is_standard_layout_v<function_name_info>);
static_assert(sizeof(std::wstring) == 32);
static_assert(sizeof(function_name_info) == 72);
static_assert(offsetof(function_name_info, function_id) == 0);
static_assert(offsetof(function_name_info, type_name) == 8);
static_assert(offsetof(function_name_info, method_name) == 40);
