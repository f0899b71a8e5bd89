#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "sampling/managed_thread_map.h"
#include "sampling/snapshot_mark.h"
#include "sampling/thread_events.h"
#include "sampling_test_support.h"

namespace {

using namespace std::chrono_literals;
using sampling_test::shutting_down_guard;
using Entries = std::map<uint32_t, ThreadID>;

class ThreadMap : public sampling_test::traced {
protected:
    managed_thread_map map;
    snapshot_mark mark;
};

TEST_F(ThreadMap, AssignedThreadIsFoundUnderItsNativeIdOnlyAndTheLogShowsLow32Bits) {
    const ThreadID managed = 0x7f0000001234;  // the log prints its low 32 bits: 4660
    on_thread_created(scope, managed);
    on_thread_assigned_to_os_thread(scope, managed, 77, map);

    EXPECT_EQ(map.get(77), managed);
    EXPECT_EQ(map.get(78), 0u);
    EXPECT_EQ(texts(), (std::vector<std::wstring>{
                           L"CClrProfiler::ThreadCreated(): created managed thread ManagedThreadID=4660.",
                           L"CClrProfiler::ThreadAssignedToOSThread(): ManagedThreadID=4660 assigned to NativeThreadID=77.",
                       }));

    // A later report on the same native thread replaces the earlier one.
    on_thread_assigned_to_os_thread(scope, 0x55, 77, map);
    EXPECT_EQ(map.entries(), (Entries{{77, 0x55}}));
}

TEST_F(ThreadMap, DestroyedThreadLosesItsLowestNativeEntryOnly) {
    // Whatever the order of the reports, the entry with the lowest native id goes.
    const struct {
        std::vector<uint32_t> reported_on;
    } rows[] = {{{5, 9}}, {{9, 5}}};
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << "first reported on " << row.reported_on[0]);
        managed_thread_map local;
        const ThreadID managed = 0x100000041;
        for (uint32_t native : row.reported_on) on_thread_assigned_to_os_thread(scope, managed, native, local);
        on_thread_assigned_to_os_thread(scope, 0x42, 7, local);  // another thread stays

        on_thread_destroyed(scope, managed, local, mark);
        EXPECT_EQ(local.entries(), (Entries{{7, 0x42}, {9, managed}}));
        on_thread_destroyed(scope, managed, local, mark);
        EXPECT_EQ(local.entries(), (Entries{{7, 0x42}}));
        EXPECT_FALSE(local.remove(managed, scope));
    }
    const auto removals = texts_with(L"RemoveManagedThreadFromMap");
    ASSERT_EQ(removals.size(), 4u);  // two per row; nothing for the failed removal
    EXPECT_EQ(removals[0], L"CClrProfiler::RemoveManagedThreadFromMap(): removed managed thread ManagedThreadID=65 from map.");
    EXPECT_EQ(texts_with(L"ThreadDestroyed(): destroyed managed thread ManagedThreadID=65.").size(), 4u);
}

TEST_F(ThreadMap, ShutdownLeavesTheMapAloneButStillTraces) {
    on_thread_assigned_to_os_thread(scope, 0x10, 3, map);
    {
        shutting_down_guard shutting_down;
        on_thread_assigned_to_os_thread(scope, 0x20, 4, map);
        on_thread_destroyed(scope, 0x10, map, mark);
    }
    EXPECT_EQ(map.entries(), (Entries{{3, 0x10}}));
    EXPECT_EQ(texts_with(L"ManagedThreadID=32 assigned to NativeThreadID=4.").size(), 1u);
    EXPECT_EQ(texts_with(L"destroyed managed thread ManagedThreadID=16.").size(), 1u);
    EXPECT_TRUE(texts_with(L"RemoveManagedThreadFromMap").empty());
}

TEST_F(ThreadMap, DestroyedThreadWaitsWhileTheSnapshotMarkNamesIt) {
    // Moved through set() (which wakes the waiter), or written directly under the
    // mutex as code holding the plain variable would do.
    for (const bool direct_write : {false, true}) {
        SCOPED_TRACE(direct_write ? "mark written directly" : "mark moved through set()");
        on_thread_assigned_to_os_thread(scope, 0x30, 12, map);
        mark.set(0x30);
        std::atomic<bool> finished{false};
        std::thread dying([&] {
            on_thread_destroyed(scope, 0x30, map, mark);
            finished = true;
        });
        std::this_thread::sleep_for(50ms);
        EXPECT_FALSE(finished);
        EXPECT_EQ(map.get(12), 0x30u);

        if (direct_write) {
            std::lock_guard lock(mark.snapshot_thread_set_mutex);
            mark.m_snapShotThread = 0x31;
        } else {
            mark.set(0x31);
        }
        dying.join();
        EXPECT_EQ(map.get(12), 0u);
        EXPECT_EQ(mark.get(), 0x31u);
    }
}

TEST_F(ThreadMap, CallbacksOnManyThreadsKeepTheMapConsistent) {
    scope.level = Fatal;  // keep the capture small; the map is what is checked
    constexpr uint32_t threads = 8, rounds = 200;
    std::vector<std::thread> workers;
    std::atomic<int> mismatches{0};
    for (uint32_t t = 0; t < threads; ++t) {
        workers.emplace_back([&, t] {
            for (uint32_t r = 0; r < rounds; ++r) {
                const uint32_t native = t * 1000 + r;
                const ThreadID managed = (ThreadID{t + 1} << 32) | (r + 1);
                on_thread_assigned_to_os_thread(scope, managed, native, map);
                if (map.get(native) != managed) ++mismatches;
                if (r % 2 == 0) on_thread_destroyed(scope, managed, map, mark);
            }
        });
    }
    for (auto& worker : workers) worker.join();
    EXPECT_EQ(mismatches, 0);
    EXPECT_EQ(map.entries().size(), threads * rounds / 2);
}

}  // namespace
