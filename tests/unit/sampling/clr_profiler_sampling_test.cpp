// The profiler object's thread callbacks, its sampling operations and the name
// exports, as the runtime and managed callers reach them.
#include <cstdlib>
#include <cstring>
#include <vector>

#include <gtest/gtest.h>

#include "profiler/clr_profiler.h"
#include "sampling/function_name_info.h"
#include "sampling_test_support.h"

extern "C" int32_t GetFunctionNames(double** function_ids, int32_t count, function_name_info** result);
extern "C" void ReleaseFunctionNames(function_name_info* names);

namespace {

// The profiler's scope writes Trace lines for the duration of a test.
class ProfilerSampling : public sampling_test::traced {
protected:
    ProfilerSampling() : saved_level_(CClrProfiler::scope.level) {
        CClrProfiler::scope.level = Trace;
        profiler_->AddRef();
    }
    ~ProfilerSampling() override {
        profiler_->Release();
        CClrProfiler::scope.level = saved_level_;
    }

    severity saved_level_;
    CClrProfiler* profiler_ = new CClrProfiler;
};

// Calls the export with the identifiers and returns the array (or null).
struct names_call {
    int32_t code;
    function_name_info* names;
};
names_call get_names(std::vector<double> ids) {
    std::vector<double*> pointers;
    for (double& id : ids) pointers.push_back(&id);
    function_name_info* names = nullptr;
    const int32_t code = GetFunctionNames(pointers.data(), static_cast<int32_t>(pointers.size()), &names);
    return {code, names};
}

uint64_t count_word(const function_name_info* names) {
    uint64_t count;
    std::memcpy(&count, reinterpret_cast<const unsigned char*>(names) - 8, sizeof count);
    return count;
}

TEST_F(ProfilerSampling, ThreadCallbacksFeedTheMapSeenThroughTheStatics) {
    const ThreadID managed = 0x5000000077;
    EXPECT_EQ(profiler_->ThreadCreated(managed), S_OK);
    EXPECT_EQ(profiler_->ThreadAssignedToOSThread(managed, 7701), S_OK);
    EXPECT_EQ(CClrProfiler::GetManagedThreadFromNativeThread(7701), managed);
    {
        std::lock_guard lock(managed_thread_map::process().native_map_set_mutex);
        EXPECT_EQ(CClrProfiler::m_nativeIdMappedToManagedThreadId.at(7701), managed);
    }
    EXPECT_EQ(profiler_->ThreadDestroyed(managed), S_OK);
    EXPECT_EQ(CClrProfiler::GetManagedThreadFromNativeThread(7701), 0u);
    EXPECT_FALSE(CClrProfiler::RemoveManagedThreadFromMap(managed));

    EXPECT_EQ(texts(), (std::vector<std::wstring>{
                           L"CClrProfiler::ThreadCreated(): created managed thread ManagedThreadID=119.",
                           L"CClrProfiler::ThreadAssignedToOSThread(): ManagedThreadID=119 assigned to NativeThreadID=7701.",
                           L"CClrProfiler::ThreadDestroyed(): destroyed managed thread ManagedThreadID=119.",
                           L"CClrProfiler::RemoveManagedThreadFromMap(): removed managed thread ManagedThreadID=119 from map.",
                       }));
}

TEST_F(ProfilerSampling, SnapshotMarkIsSharedWithTheStatic) {
    CClrProfiler::SetSnapshotMappedManagedThreadID(0x88);
    EXPECT_EQ(CClrProfiler::GetSnapshotMappedManagedThreadID(), 0x88u);
    {
        std::lock_guard lock(snapshot_mark::process().snapshot_thread_set_mutex);
        EXPECT_EQ(CClrProfiler::m_snapShotThread, 0x88u);
    }
    CClrProfiler::SetSnapshotMappedManagedThreadID(0);
}

TEST_F(ProfilerSampling, SnapshotOfAKnownThreadIsEmptyOfAnUnknownOneRefusedAndNoWalkRuns) {
    CClrProfiler::SetNativeThreadToManagedThread(-5, 0x501);  // signed ids map to their unsigned form
    std::vector<uint64_t> frames{1, 2, 3};
    EXPECT_EQ(CClrProfiler::TakeSnapshot(-5, frames), 0);
    EXPECT_TRUE(frames.empty());
    EXPECT_EQ(CClrProfiler::GetManagedThreadFromNativeThread(-5), 0x501u);
    EXPECT_EQ(managed_thread_map::process().get(0xFFFFFFFB), 0x501u);

    frames = {4};
    EXPECT_EQ(CClrProfiler::TakeSnapshot(-6, frames), 2);
    EXPECT_EQ(frames, std::vector<uint64_t>{4});
    EXPECT_EQ(CClrProfiler::Thread_Do_Stack_Snapshot(1), E_NOTIMPL);

    // No walk has started, so a frame callback stops at once, logging as the profiler.
    std::vector<uint64_t> walked;
    EXPECT_EQ(CClrProfiler::NimbrelDoSnapshotCallback(0x77, 0, 0, 0, nullptr, &walked), 3);
    EXPECT_EQ(CClrProfiler::NimbrelDoSnapshotCallback(0x77, 0, 0, 0, nullptr, nullptr), S_FALSE);
    EXPECT_TRUE(walked.empty());
    EXPECT_EQ(texts(), std::vector<std::wstring>{
                           L"CClrProfiler::NimbrelDoSnapshotCallback().timeout exceeded: 9223372036854775"});
}

TEST_F(ProfilerSampling, GetFunctionNamesRefusesMissingArguments) {
    double id = 1;
    double* ids[] = {&id};
    function_name_info* const untouched = reinterpret_cast<function_name_info*>(0x1);
    function_name_info* names = untouched;
    EXPECT_EQ(GetFunctionNames(nullptr, 1, &names), 1);
    EXPECT_EQ(names, untouched);  // left as it was
    EXPECT_EQ(GetFunctionNames(ids, 1, nullptr), 1);
}

TEST_F(ProfilerSampling, GetFunctionNamesWithNoIdentifiersGivesAnEmptyArray) {
    for (const int32_t count : {0, -3}) {
        SCOPED_TRACE(count);
        double* ids[1] = {nullptr};
        function_name_info* names = nullptr;
        EXPECT_EQ(GetFunctionNames(ids, count, &names), 0);
        ASSERT_NE(names, nullptr);
        EXPECT_EQ(count_word(names), 0u);
        ReleaseFunctionNames(names);
    }
    ReleaseFunctionNames(nullptr);
}

TEST_F(ProfilerSampling, GetFunctionNamesWithoutProfilerInterfaceKeepsIdentifiersAndEmptyNames) {
    ASSERT_FALSE(profiler_state::profiler_info);
    auto [code, names] = get_names({1234.0, 0.0});
    ASSERT_EQ(code, 0);
    ASSERT_EQ(count_word(names), 2u);
    EXPECT_EQ(names[0].function_id, 1234.0);
    EXPECT_EQ(names[1].function_id, 0.0);
    for (int i = 0; i < 2; ++i) {
        EXPECT_TRUE(names[i].type_name.empty());
        EXPECT_TRUE(names[i].method_name.empty());
    }
    ReleaseFunctionNames(names);
    EXPECT_EQ(texts_with(L"CClrProfiler::Thread_Function_Names_App: unable to get ICorProfilerInfo2 HRESULT=0x80004003").size(), 1u);
}

class ProfilerShutdown : public ProfilerSampling {
protected:
    // Runs in the child; exits with 0 when every expectation held.
    [[noreturn]] void shut_down_and_call_again() {
        CClrProfiler::SetNativeThreadToManagedThread(900, 0x900);
        EXPECT_EQ(profiler_->Shutdown(), S_OK);
        EXPECT_TRUE(CClrProfiler::GetSnapshotWorker().IsWorkerThreadStopped());

        std::vector<uint64_t> frames{1};
        EXPECT_EQ(CClrProfiler::TakeSnapshot(900, frames), 1);
        EXPECT_EQ(frames, std::vector<uint64_t>{1});
        profiler_->ThreadAssignedToOSThread(0x901, 901);
        profiler_->ThreadDestroyed(0x900);
        EXPECT_EQ(CClrProfiler::GetManagedThreadFromNativeThread(901), 0u);
        EXPECT_EQ(CClrProfiler::GetManagedThreadFromNativeThread(900), 0x900u);

        // No lookup thread starts: without the profiler interface it would log.
        auto [code, names] = get_names({42.0});
        EXPECT_EQ(code, 0);
        EXPECT_EQ(count_word(names), 1u);
        EXPECT_EQ(names[0].function_id, 42.0);
        EXPECT_TRUE(names[0].method_name.empty());
        ReleaseFunctionNames(names);
        EXPECT_TRUE(texts_with(L"Thread_Function_Names_App").empty());
        std::_Exit(testing::Test::HasFailure() ? 1 : 0);
    }
};

TEST_F(ProfilerShutdown, StopsTheWorkerAndLaterCallsLeaveEverythingAlone) {
    // Shutdown is once per process: the scenario runs in a freshly started copy of
    // this test program (a plain fork would inherit the worker thread half-alive).
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(shut_down_and_call_again(), testing::ExitedWithCode(0), "");
}

}  // namespace
