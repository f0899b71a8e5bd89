// ICorProfilerFunctionControl as the runtime hands it to a ReJIT callback: the
// new body is copied at the call (the runtime copies it too, so the caller's
// buffer may die afterwards), and codegen flags are recorded. Owned by the
// test; the reference count is only observed. Every call passes the failure
// switch given at construction.
#pragma once

#include <atomic>
#include <optional>

#include "support/failure_switch.h"
#include "support/fake_module.h"
#include "support/runtime_stubs.h"

namespace test_support {

class fake_function_control : public function_control_stub {
public:
    explicit fake_function_control(failure_switch& failures) : failures_(failures) {}

    std::optional<blob> body_set;  // the last SetILFunctionBody bytes
    DWORD codegen_flags = 0;
    ULONG references() const { return references_; }

    HRESULT QueryInterface(REFIID riid, void** ppv) override {
        if (auto injected = failures_.enter(__func__)) return *injected;
        if (ppv == nullptr) return E_POINTER;
        *ppv = nullptr;
        if (riid != IID_IUnknown) return E_NOINTERFACE;
        *ppv = static_cast<ICorProfilerFunctionControl*>(this);
        AddRef();
        return S_OK;
    }
    ULONG AddRef() override { return ++references_; }
    ULONG Release() override { return --references_; }

    HRESULT SetCodegenFlags(DWORD flags) override {
        if (auto injected = failures_.enter(__func__)) return *injected;
        codegen_flags = flags;
        return S_OK;
    }
    HRESULT SetILFunctionBody(ULONG cbNewILMethodHeader, LPCBYTE pbNewILMethodHeader) override {
        if (auto injected = failures_.enter(__func__)) return *injected;
        if (pbNewILMethodHeader == nullptr || cbNewILMethodHeader == 0) return E_INVALIDARG;
        body_set = blob(pbNewILMethodHeader, pbNewILMethodHeader + cbNewILMethodHeader);
        return S_OK;
    }

private:
    failure_switch& failures_;
    std::atomic<ULONG> references_{0};
};

}  // namespace test_support
