// The in-memory runtime double answers the way the runtime does where the
// library depends on it: name buffers, enumerators, interface levels, failure
// injection and the IL body hand-over.
#include <gtest/gtest.h>

#include <functional>
#include <set>
#include <string>
#include <vector>

#include "runtime/com_ptr.h"
#include "support/fake_profiler_info.h"
#include "support/wide_text.h"

namespace {

using namespace test_support;

struct name_call {
    const char* what;
    // Calls the runtime with the given buffer and capacity, returning the status.
    std::function<HRESULT(WCHAR* buffer, ULONG capacity, ULONG* needed)> call;
    std::u16string expected;
    HRESULT too_small;
};

TEST(TestDouble, NameCallsAnswerSizeQueriesAndTruncateSmallBuffers) {
    fake_profiler_info info;
    fake_module& module = info.add_module("Shop.Orders");
    const mdAssemblyRef runtime = module.add_assembly_ref("System.Runtime");
    const mdTypeRef list = module.add_type_ref("System.Collections.Generic.List`1", runtime);
    const mdMethodDef place = module.add_method("Shop.Orders.Cart", "PlaceOrder", {0x20, 0x00, 0x01});
    com_ptr<IMetaDataImport> import;
    ASSERT_EQ(info.GetModuleMetaData(module.module_id, ofRead, IID_IMetaDataImport, import.put_unknown()), S_OK);

    const std::vector<name_call> calls = {
        {"GetTypeRefProps",
         [&](WCHAR* b, ULONG c, ULONG* n) { return import->GetTypeRefProps(list, nullptr, b, c, n); },
         u"System.Collections.Generic.List`1", metadata_truncated},
        {"GetMethodProps",
         [&](WCHAR* b, ULONG c, ULONG* n) {
             return import->GetMethodProps(place, nullptr, b, c, n, nullptr, nullptr, nullptr, nullptr, nullptr);
         },
         u"PlaceOrder", metadata_truncated},
        {"GetModuleInfo",
         [&](WCHAR* b, ULONG c, ULONG* n) { return info.GetModuleInfo(module.module_id, nullptr, c, n, b, nullptr); },
         u"/app/Shop.Orders.dll", insufficient_buffer},
        {"GetAssemblyInfo",
         [&](WCHAR* b, ULONG c, ULONG* n) {
             return info.GetAssemblyInfo(module.assembly_id, c, n, b, nullptr, nullptr);
         },
         u"Shop.Orders", insufficient_buffer},
    };
    for (const auto& row : calls) {
        SCOPED_TRACE(row.what);
        const auto length = static_cast<ULONG>(row.expected.size() + 1);

        ULONG needed = 0;
        EXPECT_EQ(row.call(nullptr, 0, &needed), S_OK) << "size query";
        EXPECT_EQ(needed, length) << "length includes the terminating NUL";

        std::vector<WCHAR> exact(length, u'#');
        EXPECT_EQ(row.call(exact.data(), length, &needed), S_OK);
        EXPECT_EQ(std::u16string(exact.data()), row.expected);

        std::vector<WCHAR> short_by_one(length - 1, u'#');
        EXPECT_EQ(row.call(short_by_one.data(), length - 1, &needed), row.too_small);
        EXPECT_EQ(needed, length);
        EXPECT_EQ(std::u16string(short_by_one.data()), row.expected.substr(0, length - 2)) << "truncated, terminated";
    }
}

TEST(TestDouble, EnumeratorHandsOutEveryTokenOnceInBatchesAndCountsThemAll) {
    fake_module module;
    const mdTypeDef cart = module.add_type_def("Shop.Cart");
    const mdTypeDef order = module.add_type_def("Shop.Order");
    const std::vector<mdMethodDef> cart_methods = {module.add_method(cart, "Add", {0x20, 0x00, 0x01}),
                                                   module.add_method(cart, "Remove", {0x20, 0x00, 0x01}),
                                                   module.add_method(cart, "Clear", {0x20, 0x00, 0x01})};
    module.add_method(order, "Ship", {0x20, 0x00, 0x01});
    IMetaDataImport2* import = module.import();

    HCORENUM cursor = nullptr;
    mdMethodDef batch[2] = {};
    ULONG fetched = 0;
    std::vector<mdMethodDef> seen;
    EXPECT_EQ(import->EnumMethods(&cursor, cart, batch, 2, &fetched), S_OK);
    seen.insert(seen.end(), batch, batch + fetched);
    ULONG count = 0;
    EXPECT_EQ(import->CountEnum(cursor, &count), S_OK);
    EXPECT_EQ(count, 3u) << "CountEnum counts the whole enumeration, not the batch";
    EXPECT_EQ(import->EnumMethods(&cursor, cart, batch, 2, &fetched), S_OK);
    seen.insert(seen.end(), batch, batch + fetched);
    EXPECT_EQ(import->EnumMethods(&cursor, cart, batch, 2, &fetched), S_FALSE) << "exhausted";
    EXPECT_EQ(fetched, 0u);
    EXPECT_EQ(seen, cart_methods);
    EXPECT_EQ(module.metadata().open_enums(), 1);
    import->CloseEnum(cursor);
    EXPECT_EQ(module.metadata().open_enums(), 0);

    // <Module> (typedef row 1) is never enumerated.
    cursor = nullptr;
    mdTypeDef types[4] = {};
    EXPECT_EQ(import->EnumTypeDefs(&cursor, types, 4, &fetched), S_OK);
    EXPECT_EQ(std::vector<mdTypeDef>(types, types + fetched), (std::vector<mdTypeDef>{cart, order}));
    import->CloseEnum(cursor);
}

TEST(TestDouble, QueryInterfaceAnswersInfoLevelsUpToTheConfiguredOne) {
    const IID* levels[] = {&IID_ICorProfilerInfo,  &IID_ICorProfilerInfo2, &IID_ICorProfilerInfo3,
                           &IID_ICorProfilerInfo4, &IID_ICorProfilerInfo5, &IID_ICorProfilerInfo6,
                           &IID_ICorProfilerInfo7};
    struct row {
        int answered_level;
        std::set<int> refused;
        std::string answered;  // one character per level 1..7
    };
    for (const row& r : std::vector<row>{{7, {}, "1111111"}, {3, {}, "1110000"}, {0, {}, "0000000"},
                                         {3, {2}, "1010000"}}) {
        fake_profiler_info info;
        info.answered_level = r.answered_level;
        info.refused_levels = r.refused;
        std::string answered;
        for (const IID* iid : levels) {
            com_ptr<IUnknown> level;
            answered += info.QueryInterface(*iid, level.put_void()) == S_OK ? '1' : '0';
        }
        com_ptr<IUnknown> unknown;
        EXPECT_EQ(info.QueryInterface(IID_IUnknown, unknown.put_void()), S_OK);
        unknown.reset();
        EXPECT_EQ(answered, r.answered) << "answered_level " << r.answered_level;
        EXPECT_EQ(info.references(), 0u) << "every answered interface was released";
    }
}

TEST(TestDouble, FailureSwitchFailsOnlyTheChosenCallAcrossInfoAndMetadata) {
    fake_profiler_info info;
    fake_module& module = info.add_module("Shop");
    const mdTypeRef int32 = module.add_type_ref("System.Int32");
    com_ptr<IMetaDataImport> import;
    ASSERT_EQ(info.GetModuleMetaData(module.module_id, ofRead, IID_IMetaDataImport, import.put_unknown()), S_OK);

    // The second call from now fails; the ones around it work.
    info.fail_once("GetTypeRefProps", CLDB_E_RECORD_NOTFOUND, 2);
    mdToken scope = 0;
    EXPECT_EQ(import->GetTypeRefProps(int32, &scope, nullptr, 0, nullptr), S_OK);
    EXPECT_EQ(import->GetTypeRefProps(int32, &scope, nullptr, 0, nullptr), CLDB_E_RECORD_NOTFOUND);
    EXPECT_EQ(import->GetTypeRefProps(int32, &scope, nullptr, 0, nullptr), S_OK);
    EXPECT_EQ(info.calls("GetTypeRefProps"), 3u);

    // Every call, on the info object, without disturbing its other methods.
    info.fail("SetEventMask", E_FAIL);
    EXPECT_EQ(info.SetEventMask(COR_PRF_MONITOR_JIT_COMPILATION), E_FAIL);
    EXPECT_EQ(info.SetEventMask(COR_PRF_MONITOR_JIT_COMPILATION), E_FAIL);
    EXPECT_TRUE(info.event_masks_set.empty()) << "a failed call records nothing";
    EXPECT_EQ(info.SetEventMask2(COR_PRF_MONITOR_JIT_COMPILATION, COR_PRF_HIGH_DISABLE_TIERED_COMPILATION), S_OK);
    info.failures().succeed("SetEventMask");
    EXPECT_EQ(info.SetEventMask(COR_PRF_MONITOR_MODULE_LOADS), S_OK);
    EXPECT_EQ(info.event_masks_set, std::vector<DWORD>{COR_PRF_MONITOR_MODULE_LOADS});
}

TEST(TestDouble, SetILFunctionBodyCapturesTheWholeMethodFromTheAllocator) {
    fake_profiler_info info;
    fake_module& module = info.add_module("Shop");
    const mdMethodDef method = module.add_method("Shop.Cart", "Total", {0x00, 0x00, 0x08}, {0x0A, 0x16, 0x2A});

    // A fat method (ldc.i4.0; ret) with a small exception section of one clause:
    // 12 header bytes, 2 code bytes, 2 padding bytes, 16 section bytes.
    const blob fat = {0x1B, 0x30, 0x08, 0x00, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  // header
                      0x16, 0x2A, 0x00, 0x00,                                                  // code, padding
                      0x01, 0x10, 0x00, 0x00,                                                  // section header
                      0x02, 0x00, 0x00, 0x00, 0x01, 0x01, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00};  // finally clause
    com_ptr<IMethodMalloc> allocator;
    ASSERT_EQ(info.GetILFunctionBodyAllocator(module.module_id, allocator.put()), S_OK);
    // Room to spare after the method: only the method itself is captured.
    auto* block = static_cast<BYTE*>(allocator->Alloc(static_cast<ULONG>(fat.size() + 8)));
    ASSERT_NE(block, nullptr);
    std::copy(fat.begin(), fat.end(), block);

    EXPECT_EQ(info.SetILFunctionBody(module.module_id, method, block), S_OK);
    ASSERT_NE(module.body_set(method), nullptr);
    EXPECT_EQ(*module.body_set(method), fat);
    LPCBYTE current = nullptr;
    ULONG size = 0;
    EXPECT_EQ(info.GetILFunctionBody(module.module_id, method, &current, &size), S_OK);
    EXPECT_EQ(blob(current, current + size), fat) << "the runtime answers the new body from then on";

    // A body outside the allocator's blocks, or overrunning its block, is refused.
    const blob stack_body = {0x0A, 0x16, 0x2A};
    EXPECT_EQ(info.SetILFunctionBody(module.module_id, method, stack_body.data()), E_INVALIDARG);
    auto* too_small = static_cast<BYTE*>(allocator->Alloc(2));
    too_small[0] = 0x0A;  // tiny header announcing two code bytes, one of which does not fit
    too_small[1] = 0x16;
    EXPECT_EQ(info.SetILFunctionBody(module.module_id, method, too_small), E_INVALIDARG);
    EXPECT_EQ(*module.body_set(method), fat);

    module.fail_once("Alloc", E_OUTOFMEMORY);
    EXPECT_EQ(allocator->Alloc(16), nullptr);
    EXPECT_EQ(module.allocator().allocations().size(), 2u);
    allocator.reset();
    EXPECT_EQ(module.allocator().references(), 0u);
}

}  // namespace
