// The COM class factory the runtime asks for through DllGetClassObject. It creates
// the one profiler object of the process; the factory itself holds no other state.
#pragma once

#include <atomic>
#include <cstdint>

#include "runtime/com_types.h"

class CClassFactory : public IClassFactory {
public:
    HRESULT QueryInterface(REFIID riid, void** ppvObject) override;
    ULONG AddRef() override;
    ULONG Release() override;
    HRESULT CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppvObject) override;
    HRESULT LockServer(BOOL fLock) override;
    virtual ~CClassFactory() = default;

private:
    std::atomic<int64_t> ref_count_{0};
};
