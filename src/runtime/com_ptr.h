// com_ptr<T>: owns one reference to a COM interface and releases it when it goes
// out of scope, so no error path leaks a reference. Not thread-safe itself (the
// interface's own reference count is). query_interface() fills a com_ptr from
// QueryInterface.
#pragma once

#include <cstddef>
#include <type_traits>
#include <utility>

#include "runtime/com_types.h"

template <class T>
class com_ptr {
    static_assert(std::is_base_of_v<IUnknown, T>, "com_ptr holds COM interfaces");

public:
    com_ptr() noexcept = default;
    com_ptr(std::nullptr_t) noexcept {}
    // Shares ownership: takes its own reference. Use attach() to adopt one instead.
    explicit com_ptr(T* p) noexcept : p_(p) {
        if (p_ != nullptr) p_->AddRef();
    }
    com_ptr(const com_ptr& other) noexcept : com_ptr(other.p_) {}
    com_ptr(com_ptr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
    ~com_ptr() { reset(); }

    com_ptr& operator=(const com_ptr& other) noexcept {
        com_ptr(other).swap(*this);
        return *this;
    }
    com_ptr& operator=(com_ptr&& other) noexcept {
        com_ptr(std::move(other)).swap(*this);
        return *this;
    }

    T* get() const noexcept { return p_; }
    T* operator->() const noexcept { return p_; }
    explicit operator bool() const noexcept { return p_ != nullptr; }

    // For out parameters: drops the current reference, then lets the callee store
    // a new one (which this com_ptr then owns).
    T** put() noexcept {
        reset();
        return &p_;
    }
    void** put_void() noexcept { return reinterpret_cast<void**>(put()); }
    // For the runtime calls whose out parameter is IUnknown** although the object
    // returned implements T (GetModuleMetaData, GetTokenAndMetaDataFromFunction).
    // Every interface here inherits IUnknown singly, so the pointer value is the same.
    IUnknown** put_unknown() noexcept { return reinterpret_cast<IUnknown**>(put()); }

    void reset() noexcept {
        if (T* p = std::exchange(p_, nullptr)) p->Release();
    }
    // Gives up ownership without releasing.
    [[nodiscard]] T* detach() noexcept { return std::exchange(p_, nullptr); }
    // Adopts a reference the caller already owns; releases the current one.
    void attach(T* p) noexcept {
        reset();
        p_ = p;
    }
    void swap(com_ptr& other) noexcept { std::swap(p_, other.p_); }

private:
    T* p_ = nullptr;
};

// Asks source for the interface iid; on success out owns the result, otherwise
// out is empty and the status says why.
template <class T, class U>
HRESULT query_interface(U* source, REFIID iid, com_ptr<T>& out) {
    out.reset();
    if (source == nullptr) return E_POINTER;
    return source->QueryInterface(iid, out.put_void());
}

template <class T, class U>
HRESULT query_interface(const com_ptr<U>& source, REFIID iid, com_ptr<T>& out) {
    return query_interface(source.get(), iid, out);
}
