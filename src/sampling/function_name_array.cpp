#include "sampling/function_name_array.h"

#include <cstring>
#include <new>

namespace {

// The count occupies one 8-byte slot; the elements need no stricter alignment.
constexpr size_t header_size = sizeof(uint64_t);
static_assert(alignof(function_name_info) <= header_size);

unsigned char* block_of(const function_name_info* first) {
    return reinterpret_cast<unsigned char*>(const_cast<function_name_info*>(first)) - header_size;
}

}  // namespace

function_name_info* make_function_name_array(const std::vector<function_name_info>& infos) {
    const uint64_t count = infos.size();
    auto* block = static_cast<unsigned char*>(::operator new(header_size + count * sizeof(function_name_info)));
    std::memcpy(block, &count, sizeof count);
    auto* first = reinterpret_cast<function_name_info*>(block + header_size);
    size_t built = 0;
    try {
        for (; built < count; ++built) new (first + built) function_name_info(infos[built]);
    } catch (...) {
        while (built > 0) first[--built].~function_name_info();
        ::operator delete(block);
        throw;
    }
    return first;
}

uint64_t function_name_array_size(const function_name_info* first) {
    uint64_t count = 0;
    std::memcpy(&count, block_of(first), sizeof count);
    return count;
}

void release_function_name_array(function_name_info* first) {
    if (first == nullptr) return;
    const uint64_t count = function_name_array_size(first);
    for (uint64_t i = 0; i < count; ++i) first[i].~function_name_info();
    ::operator delete(block_of(first));
}
