#include "support/fake_method_malloc.h"

#include <cstring>

namespace test_support {

HRESULT fake_method_malloc::QueryInterface(REFIID riid, void** ppv) {
    if (ppv == nullptr) return E_POINTER;
    if (riid == IID_IUnknown) {
        *ppv = static_cast<IMethodMalloc*>(this);
        AddRef();
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

PVOID fake_method_malloc::Alloc(ULONG cb) {
    if (failures_.enter(__func__)) return nullptr;
    std::lock_guard lock(mutex_);
    // Filled with a pattern rather than zeros, so bytes the caller forgot to write show.
    auto block = std::make_unique<BYTE[]>(cb == 0 ? 1 : cb);
    std::memset(block.get(), 0xCD, cb == 0 ? 1 : cb);
    allocations_.push_back({block.get(), cb});
    blocks_.push_back(std::move(block));
    return blocks_.back().get();
}

std::vector<fake_method_malloc::allocation> fake_method_malloc::allocations() const {
    std::lock_guard lock(mutex_);
    return allocations_;
}

std::optional<fake_method_malloc::allocation> fake_method_malloc::block_holding(const BYTE* p, ULONG size) const {
    std::lock_guard lock(mutex_);
    for (const auto& a : allocations_) {
        if (p >= a.data && p < a.data + a.size && size <= static_cast<ULONG>(a.data + a.size - p)) return a;
    }
    return std::nullopt;
}

}  // namespace test_support
