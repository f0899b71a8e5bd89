// The array of names that the GetFunctionNames export hands to managed code: an
// unsigned 64-bit element count, immediately followed by the function_name_info
// elements (72 bytes each, see function_name_info.h). The caller receives the
// address of the first element, so the count sits in the 8 bytes before it. The
// array is owned by the caller until it hands it back to release_function_name_array.
#pragma once

#include <cstdint>
#include <vector>

#include "sampling/function_name_info.h"

// Copies the names into a new array; an empty list gives an array of no elements
// (the count alone). Throws std::bad_alloc when memory runs out, leaking nothing.
function_name_info* make_function_name_array(const std::vector<function_name_info>& infos);

// The element count stored before the first element.
uint64_t function_name_array_size(const function_name_info* first);

// Destroys the elements and frees the array; null is ignored.
void release_function_name_array(function_name_info* first);
