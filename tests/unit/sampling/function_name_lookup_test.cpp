#include <cmath>
#include <limits>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "runtime/profiler_state.h"
#include "sampling/function_name_lookup.h"
#include "sampling_test_support.h"
#include "support/fake_profiler_info.h"

namespace {

using test_support::fake_module;
using test_support::fake_profiler_info;

const test_support::blob void_method = {0x00, 0x00, 0x01};

// A process with one module of a few methods; the double serves as the runtime's
// global info interface for the duration of a test.
class FunctionNameLookup : public sampling_test::traced {
protected:
    FunctionNameLookup() : app(info.add_module("Shop")) {
        const mdTypeDef cart = app.add_type_def("Shop.Cart");
        const mdTypeDef line = app.add_type_def("Line", tdNestedPublic, mdTokenNil, cart);
        total = app.add_function(app.add_method(cart, "Total", void_method));
        run = app.add_function(app.add_method(cart, "Run", void_method));
        nested = app.add_function(app.add_method(line, "Größe𝔸", void_method));  // beyond the BMP too
        global = app.add_function(app.add_method(mdTypeDefNil, "Global", void_method));
        profiler_state::profiler_info = com_ptr<ICorProfilerInfo>(&info);
    }
    ~FunctionNameLookup() override { profiler_state::profiler_info.reset(); }

    static std::vector<function_name_info> request(std::initializer_list<FunctionID> ids) {
        std::vector<function_name_info> infos;
        for (FunctionID id : ids) infos.push_back({static_cast<double>(id), L"", L""});
        return infos;
    }
    using names = std::vector<std::pair<std::wstring, std::wstring>>;
    static names names_of(const std::vector<function_name_info>& infos) {
        names out;
        for (const auto& info : infos) out.emplace_back(info.type_name, info.method_name);
        return out;
    }

    fake_profiler_info info;
    fake_module& app;
    FunctionID total = 0, run = 0, nested = 0, global = 0;
};

TEST_F(FunctionNameLookup, ResolvesTypeAndMethodNamesInOrderAndReleasesWhatItTook) {
    auto infos = request({nested, total, run});
    EXPECT_EQ(get_function_names(infos, scope), 0);
    EXPECT_EQ(names_of(infos), (names{{L"Line", L"Größe𝔸"}, {L"Shop.Cart", L"Total"}, {L"Shop.Cart", L"Run"}}));
    EXPECT_EQ(infos[1].function_id, static_cast<double>(total));
    EXPECT_EQ(app.metadata().references(), 0u);
    EXPECT_EQ(info.references(), 1u);  // the global reference only
    EXPECT_TRUE(texts().empty());
}

TEST_F(FunctionNameLookup, FailingCallLeavesOnlyThatElementEmptyWithOneDebugLine) {
    // The second element fails; the first made one token lookup and two calls of
    // each props method before it.
    const struct {
        const char* method;
        unsigned nth;
        HRESULT status;
        const wchar_t* logged;
    } rows[] = {
        {"GetTokenAndMetaDataFromFunction", 2, E_INVALIDARG,
         L"CClrProfiler::Thread_Function_Names_App().GetTokenAndMetaDataFromFunction() did not return S_OK invalid argument"},
        {"GetMethodProps", 3, E_FAIL,
         L"CClrProfiler::Thread_Function_Names_App().GetMethodProps() did not return S_OK unspecified error"},
        {"GetMethodProps", 4, E_OUTOFMEMORY,
         L"CClrProfiler::Thread_Function_Names_App().GetMethodProps() did not return S_OK run out of memory"},
        {"GetTypeDefProps", 3, E_FAIL,
         L"CClrProfiler::Thread_Function_Names_App().GetTypeDefProps() did not return S_OK unspecified error"},
        {"GetTypeDefProps", 4, E_UNEXPECTED,
         L"CClrProfiler::Thread_Function_Names_App().GetTypeDefProps() did not return S_OK catastrophic failure"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << row.method << " call " << row.nth);
        info.failures().clear();
        info.fail_once(row.method, row.status, row.nth);
        const size_t before = texts().size();
        auto infos = request({total, run, nested});
        get_function_names(infos, scope);
        EXPECT_EQ(names_of(infos), (names{{L"Shop.Cart", L"Total"}, {L"", L""}, {L"Line", L"Größe𝔸"}}));
        const auto all = texts();
        EXPECT_EQ(std::vector<std::wstring>(all.begin() + before, all.end()), std::vector<std::wstring>{row.logged});
        EXPECT_EQ(app.metadata().references(), 0u);
    }
}

TEST_F(FunctionNameLookup, UnknownIdentifierKeepsItsIdAndTheLastStatusIsReturned) {
    NimbrelFunctionNames resolved(request({total, run}));
    EXPECT_EQ(lookup_function_names(&resolved, scope), S_OK);

    NimbrelFunctionNames last_unknown(request({total, 0xBAD0}));
    EXPECT_EQ(lookup_function_names(&last_unknown, scope), E_INVALIDARG);
    const auto& infos = last_unknown.GetFunctionNameInfos();
    EXPECT_EQ(names_of(infos), (names{{L"Shop.Cart", L"Total"}, {L"", L""}}));
    EXPECT_EQ(infos[1].function_id, static_cast<double>(0xBAD0));
    EXPECT_EQ(lookup_function_names(nullptr, scope), E_POINTER);
}

TEST_F(FunctionNameLookup, ModuleLevelMethodWhoseNilTypeHasNoNameStaysEmpty) {
    auto infos = request({global, total});
    get_function_names(infos, scope);
    EXPECT_EQ(names_of(infos), (names{{L"", L""}, {L"Shop.Cart", L"Total"}}));
    EXPECT_EQ(texts_with(L"GetTypeDefProps() did not return S_OK").size(), 1u);
}

TEST_F(FunctionNameLookup, NameThatIsNotValidUtf16LeavesTheElementWhole) {
    app.methods[0].name = u"Tot\xD800" u"al";  // an unpaired surrogate in the metadata
    auto infos = request({total, run});
    get_function_names(infos, scope);
    EXPECT_EQ(names_of(infos), (names{{L"", L""}, {L"Shop.Cart", L"Run"}}));
    EXPECT_EQ(texts_with(L"CClrProfiler::Thread_Function_Names_App(): name not converted.").size(), 1u);
}

TEST_F(FunctionNameLookup, WithoutProfilerInfo2TheRequestIsLeftAsItWas) {
    info.refused_levels = {2};
    NimbrelFunctionNames untouched({{static_cast<double>(total), L"Kept", L"AsItWas"}});
    EXPECT_EQ(lookup_function_names(&untouched, scope), E_NOINTERFACE);
    EXPECT_EQ(names_of(untouched.GetFunctionNameInfos()), (names{{L"Kept", L"AsItWas"}}));
    EXPECT_EQ(texts(), std::vector<std::wstring>{L"CClrProfiler::Thread_Function_Names_App: unable to get "
                                                 L"ICorProfilerInfo2 HRESULT=0x80004002 (no such interface supported)."});
    EXPECT_EQ(info.calls("GetTokenAndMetaDataFromFunction"), 0u);
}

TEST_F(FunctionNameLookup, AfterShutdownBeganNothingIsAsked) {
    sampling_test::shutting_down_guard shutting_down;
    auto infos = request({total});
    EXPECT_EQ(get_function_names(infos, scope), 0);
    EXPECT_EQ(names_of(infos), (names{{L"", L""}}));
    NimbrelFunctionNames direct(request({total}));
    lookup_function_names(&direct, scope);
    EXPECT_EQ(names_of(direct.GetFunctionNameInfos()), (names{{L"", L""}}));
    EXPECT_EQ(info.calls("GetTokenAndMetaDataFromFunction"), 0u);
}

TEST_F(FunctionNameLookup, CallsFromSeveralThreadsResolveIndependently) {
    std::vector<std::thread> callers;
    std::atomic<int> wrong{0};
    for (int t = 0; t < 4; ++t) {
        callers.emplace_back([&, t] {
            for (int round = 0; round < 25; ++round) {
                auto infos = t % 2 == 0 ? request({total, nested}) : request({run});
                get_function_names(infos, scope);
                const names expected = t % 2 == 0 ? names{{L"Shop.Cart", L"Total"}, {L"Line", L"Größe𝔸"}}
                                                  : names{{L"Shop.Cart", L"Run"}};
                if (names_of(infos) != expected) ++wrong;
            }
        });
    }
    for (auto& caller : callers) caller.join();
    EXPECT_EQ(wrong, 0);
    EXPECT_EQ(app.metadata().references(), 0u);
}

TEST(FunctionIdentifier, OnlyWholeValuesInRangeBecomeIdentifiers) {
    const struct {
        double value;
        FunctionID expected;
    } rows[] = {
        {140234567.0, 140234567},
        {12.9, 12},                                       // truncated
        {9007199254740992.0, 9007199254740992ULL},        // 2^53, exact
        {18446744073709549568.0, 18446744073709549568ULL},  // the largest double below 2^64
        {18446744073709551616.0, 0},                      // 2^64
        {-1.0, 0},
        {std::numeric_limits<double>::quiet_NaN(), 0},
        {std::numeric_limits<double>::infinity(), 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << std::hexfloat << row.value);
        EXPECT_EQ(to_function_id(row.value), row.expected);
    }
}

}  // namespace
