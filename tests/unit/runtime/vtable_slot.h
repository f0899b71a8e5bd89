// Reads a virtual method's vtable slot from a pointer to member function, so the
// layout tests check what the compiler actually built instead of trusting the
// declarations. Itanium C++ ABI (g++ and clang on Linux): the first word of a
// pointer to a virtual member function is 1 + the slot's byte offset in the vtable;
// for a non-virtual one it is the function's address (even).
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

template <class C, class F>
std::ptrdiff_t vtable_slot_of(F C::*method) {
    static_assert(sizeof(method) == 2 * sizeof(std::uintptr_t), "Itanium member function pointer");
    std::uintptr_t word = 0;
    std::memcpy(&word, &method, sizeof(word));
    if ((word & 1) == 0) return -1;
    return static_cast<std::ptrdiff_t>((word - 1) / sizeof(void*));
}

// One row: where the runtime expects a method (counting the three IUnknown slots)
// and where our declaration put it.
struct slot_row {
    const char* interface_name;
    const char* method;
    std::ptrdiff_t expected;
    std::ptrdiff_t actual;
};

#define SLOT_ROW(iface, method, slot) slot_row{#iface, #method, slot, vtable_slot_of(&iface::method)}

inline void expect_slots(std::span<const slot_row> rows) {
    for (const slot_row& row : rows) {
        EXPECT_EQ(row.actual, row.expected) << row.interface_name << "::" << row.method << " is in slot "
                                            << row.actual << ", the runtime calls slot " << row.expected;
    }
}
