// Drives the built NimbrelProfiler.so through dlopen exactly as the runtime does:
// class object, instance creation, reference counting and every refusal.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <string>

#include "runtime/profiler_callback.h"

namespace {

using DllGetClassObjectFn = HRESULT (*)(REFCLSID, REFIID, void**);
using IsProfilerAttachedFn = int32_t (*)();

constexpr CLSID profiler_clsid = {0x5E1A9C37, 0x40B2, 0x4F6D, {0x9A, 0x81, 0x2C, 0x7D, 0x3B, 0x6E, 0x0F, 0x54}};
constexpr IID unknown_iid = {0x12345678, 0x1234, 0x1234, {1, 2, 3, 4, 5, 6, 7, 8}};

class LibraryHarness : public ::testing::Test {
protected:
    void SetUp() override {
        library_ = dlopen(NIMBREL_PROFILER_LIBRARY, RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(library_, nullptr) << dlerror();
        get_class_object_ = reinterpret_cast<DllGetClassObjectFn>(dlsym(library_, "DllGetClassObject"));
        ASSERT_NE(get_class_object_, nullptr);
    }
    void TearDown() override {
        if (library_) dlclose(library_);
    }

    IClassFactory* factory() {
        void* out = nullptr;
        EXPECT_EQ(get_class_object_(profiler_clsid, IID_IClassFactory, &out), S_OK);
        return static_cast<IClassFactory*>(out);
    }

    void* library_ = nullptr;
    DllGetClassObjectFn get_class_object_ = nullptr;
};

TEST_F(LibraryHarness, ExportsTheEntryPointsByPlainName) {
    for (const char* name : {"DllGetClassObject", "DllCanUnloadNow", "DllMain", "IsProfilerAttached"})
        EXPECT_NE(dlsym(library_, name), nullptr) << name;
    auto can_unload = reinterpret_cast<HRESULT (*)()>(dlsym(library_, "DllCanUnloadNow"));
    EXPECT_EQ(can_unload(), S_OK);
    auto attached = reinterpret_cast<IsProfilerAttachedFn>(dlsym(library_, "IsProfilerAttached"));
    EXPECT_EQ(attached(), 0);  // no profiler has initialised in this process
}

TEST_F(LibraryHarness, ClassObjectRefusals) {
    EXPECT_EQ(get_class_object_(profiler_clsid, IID_IClassFactory, nullptr), E_FAIL);

    void* out = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(get_class_object_(unknown_iid, IID_IClassFactory, &out), E_FAIL);
    EXPECT_EQ(out, nullptr);

    out = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(get_class_object_(profiler_clsid, IID_ICorProfilerCallback, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);

    out = nullptr;
    ASSERT_EQ(get_class_object_(profiler_clsid, IID_IUnknown, &out), S_OK);
    auto* unknown = static_cast<IUnknown*>(out);
    EXPECT_EQ(unknown->Release(), 0u);
}

TEST_F(LibraryHarness, FactoryCountsReferencesAndLocksTrivially) {
    IClassFactory* f = factory();
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->AddRef(), 2u);
    EXPECT_EQ(f->Release(), 1u);
    EXPECT_EQ(f->LockServer(1), S_OK);
    EXPECT_EQ(f->LockServer(0), S_OK);

    void* again = nullptr;
    EXPECT_EQ(f->QueryInterface(IID_IUnknown, &again), S_OK);
    EXPECT_EQ(again, f);
    EXPECT_EQ(f->Release(), 1u);
    EXPECT_EQ(f->QueryInterface(IID_IUnknown, nullptr), E_INVALIDARG);
    void* none = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(f->QueryInterface(IID_ICorProfilerCallback, &none), E_NOINTERFACE);
    EXPECT_EQ(none, nullptr);
    EXPECT_EQ(f->Release(), 0u);
}

TEST_F(LibraryHarness, CreateInstanceAnswersTheFourInterfacesWithOneObject) {
    IClassFactory* f = factory();
    ASSERT_NE(f, nullptr);
    for (const IID* iid : {&IID_ICorProfilerCallback3, &IID_ICorProfilerCallback2, &IID_ICorProfilerCallback, &IID_IUnknown}) {
        void* out = nullptr;
        ASSERT_EQ(f->CreateInstance(nullptr, *iid, &out), S_OK);
        auto* profiler = static_cast<ICorProfilerCallback3*>(out);
        // The same object pointer serves every interface, with one reference.
        void* as_callback = nullptr;
        ASSERT_EQ(profiler->QueryInterface(IID_ICorProfilerCallback, &as_callback), S_OK);
        EXPECT_EQ(as_callback, out);
        EXPECT_EQ(profiler->Release(), 1u);
        EXPECT_EQ(profiler->Release(), 0u);
    }
    f->Release();
}

TEST_F(LibraryHarness, CreateInstanceRefusals) {
    IClassFactory* f = factory();
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->CreateInstance(nullptr, IID_ICorProfilerCallback, nullptr), E_INVALIDARG);

    void* out = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(f->CreateInstance(reinterpret_cast<IUnknown*>(f), IID_ICorProfilerCallback, &out), CLASS_E_NOAGGREGATION);
    EXPECT_EQ(out, nullptr);

    for (const IID* iid : {&IID_IClassFactory, &unknown_iid}) {
        out = reinterpret_cast<void*>(0x1);
        EXPECT_EQ(f->CreateInstance(nullptr, *iid, &out), E_NOINTERFACE);
        EXPECT_EQ(out, nullptr);
    }
    f->Release();
}

}  // namespace
