// The plain-named functions the runtime and managed code find by name. Each is a
// thin boundary: nothing thrown inside may reach the caller.
#include <new>

#include "profiler/class_factory.h"
#include "profiler/clr_profiler.h"
#include "profiler/profiler_clsid.h"

#define NIMBREL_EXPORT extern "C" __attribute__((visibility("default")))

NIMBREL_EXPORT HRESULT DllGetClassObject(REFCLSID rclsid, REFIID riid, void** ppv) {
    if (ppv == nullptr) return E_FAIL;
    *ppv = nullptr;
    if (rclsid != CLSID_NimbrelProfiler) return E_FAIL;

    auto* factory = new (std::nothrow) CClassFactory();
    if (factory == nullptr) return E_OUTOFMEMORY;
    HRESULT hr = factory->QueryInterface(riid, ppv);
    if (FAILED(hr)) delete factory;  // nobody else holds it
    return hr;
}

NIMBREL_EXPORT HRESULT DllCanUnloadNow() { return S_OK; }

NIMBREL_EXPORT int32_t DllMain(void*, uint32_t, void*) { return 1; }

NIMBREL_EXPORT int32_t IsProfilerAttached() { return CClrProfiler::IsAttached() ? 1 : 0; }
