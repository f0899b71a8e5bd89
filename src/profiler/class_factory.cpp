#include "profiler/class_factory.h"

#include <new>

#include "profiler/clr_profiler.h"

HRESULT CClassFactory::QueryInterface(REFIID riid, void** ppvObject) {
    if (ppvObject == nullptr) return E_INVALIDARG;
    *ppvObject = nullptr;
    if (riid == IID_IUnknown || riid == IID_IClassFactory) {
        *ppvObject = this;
        AddRef();
        return S_OK;
    }
    return E_NOINTERFACE;
}

ULONG CClassFactory::AddRef() { return static_cast<ULONG>(++ref_count_); }

ULONG CClassFactory::Release() {
    // The decision to destroy rests on the value this very decrement produced, so
    // two threads releasing together cannot both delete.
    int64_t remaining = --ref_count_;
    if (remaining == 0) delete this;
    return static_cast<ULONG>(remaining);
}

HRESULT CClassFactory::CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppvObject) {
    if (ppvObject == nullptr) return E_INVALIDARG;
    *ppvObject = nullptr;
    if (pUnkOuter != nullptr) return CLASS_E_NOAGGREGATION;

    auto* profiler = new (std::nothrow) CClrProfiler();
    if (profiler == nullptr) return E_OUTOFMEMORY;
    HRESULT hr = profiler->QueryInterface(riid, ppvObject);
    if (hr != S_OK) {
        delete profiler;
        *ppvObject = nullptr;
        return hr;
    }
    return S_OK;
}

HRESULT CClassFactory::LockServer(BOOL) { return S_OK; }
