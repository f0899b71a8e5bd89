#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "sampling/sampling_scope.h"
#include "sampling/snapshot_completion.h"
#include "sampling/snapshot_worker.h"
#include "sampling/take_snapshot.h"
#include "sampling_test_support.h"

namespace {

using namespace std::chrono_literals;
using Frames = std::vector<uint64_t>;

// A door a walk can wait at until the test opens it, and which tells the test when
// a walk has reached it.
class gate {
public:
    void wait_at() {
        std::unique_lock lock(mutex_);
        ++arrived_;
        changed_.notify_all();
        changed_.wait(lock, [&] { return open_; });
    }
    void wait_for_arrivals(int count) {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return arrived_ >= count; });
    }
    void open() {
        std::lock_guard lock(mutex_);
        open_ = true;
        changed_.notify_all();
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    int arrived_ = 0;
    bool open_ = false;
};

class SnapshotWorkerTest : public sampling_test::traced {
protected:
    SnapshotWorkerTest() {
        for (int32_t native : {11, 12, 13, 14, 15, 16, 17, 18}) map.set(native, 0x1000 + native);
    }
    managed_thread_map map;
};

// take_snapshot asks for its worker through a plain function; these point it at the
// worker of the running test.
SnapshotWorker* current_worker = nullptr;
std::atomic<int> worker_requests{0};
SnapshotWorker& test_worker() {
    ++worker_requests;
    return *current_worker;
}

TEST_F(SnapshotWorkerTest, RequesterGetsTheFramesOrTheFailingStatusOfTheWalk) {
    const struct {
        const char* name;
        HRESULT walk_status;
        Frames walk_frames;
        int32_t expected_code;
        Frames expected_list;
    } rows[] = {
        {"walk succeeded", S_OK, {0x10, 0x20}, snapshot_taken, {0x10, 0x20}},
        {"negative status counts as success", E_NOTIMPL, {}, snapshot_taken, {}},
        {"positive status is handed over", 7, {0x30}, 7, {0xdead}},  // list untouched
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        std::vector<int32_t> walked;
        SnapshotWorker worker([&](int32_t native, Frames& frames) {
            walked.push_back(native);
            frames = row.walk_frames;
            return row.walk_status;
        });
        current_worker = &worker;
        Frames list{0xdead};
        EXPECT_EQ(take_snapshot(12, list, test_worker, map), row.expected_code);
        EXPECT_EQ(list, row.expected_list);
        worker.Stop();
        EXPECT_EQ(walked, std::vector<int32_t>{12});
    }
}

TEST_F(SnapshotWorkerTest, RefusalsBeforeTheWorkerIsAskedFor) {
    SnapshotWorker worker([](int32_t, Frames&) { return S_OK; });
    current_worker = &worker;
    worker_requests = 0;
    Frames list{1};
    EXPECT_EQ(take_snapshot(99, list, test_worker, map), snapshot_unknown_thread);
    {
        sampling_test::shutting_down_guard shutting_down;
        EXPECT_EQ(take_snapshot(12, list, test_worker, map), snapshot_shutting_down);
    }
    EXPECT_EQ(worker_requests, 0);
    EXPECT_EQ(list, Frames{1});
}

TEST_F(SnapshotWorkerTest, ProcessWorkerTakesAnEmptySnapshotOfAKnownThread) {
    managed_thread_map::process().set(4242, 0x4242);
    Frames list{1, 2};
    EXPECT_EQ(take_snapshot(4242, list), snapshot_taken);
    EXPECT_TRUE(list.empty());
    EXPECT_FALSE(SnapshotWorker::process().IsWorkerThreadStopped());
}

TEST_F(SnapshotWorkerTest, ConcurrentRequestersEachGetTheirOwnResult) {
    // Odd native ids fail with their own id as status, even ones succeed with their
    // own id as the only frame; requesters that overlapped would see each other's.
    SnapshotWorker worker([](int32_t native, Frames& frames) -> HRESULT {
        std::this_thread::sleep_for(100us);
        if (native % 2 != 0) return native;
        frames = {static_cast<uint64_t>(native)};
        return S_OK;
    });
    current_worker = &worker;
    std::atomic<int> wrong{0};
    std::vector<std::thread> requesters;
    for (int32_t native = 11; native <= 18; ++native) {
        requesters.emplace_back([&, native] {
            for (int round = 0; round < 50; ++round) {
                Frames list;
                const int32_t code = take_snapshot(native, list, test_worker, map);
                const bool right = native % 2 != 0 ? code == native && list.empty()
                                                   : code == 0 && list == Frames{static_cast<uint64_t>(native)};
                if (!right) ++wrong;
            }
        });
    }
    for (auto& requester : requesters) requester.join();
    EXPECT_EQ(wrong, 0);
}

TEST_F(SnapshotWorkerTest, ExceptionInTheWalkReleasesTheRequesterWithoutStaleFrames) {
    int calls = 0;
    SnapshotWorker worker(
        [&](int32_t, Frames& frames) -> HRESULT {
            if (++calls == 2) throw std::runtime_error("walk broke");
            frames = {0x10};
            return S_OK;
        },
        scope);
    current_worker = &worker;

    Frames first, second{0x99}, third;
    EXPECT_EQ(take_snapshot(12, first, test_worker, map), snapshot_taken);
    EXPECT_EQ(take_snapshot(12, second, test_worker, map), snapshot_not_served);
    EXPECT_EQ(take_snapshot(12, third, test_worker, map), snapshot_taken);  // the loop goes on
    EXPECT_EQ(first, Frames{0x10});
    EXPECT_EQ(second, Frames{0x99});
    EXPECT_EQ(third, Frames{0x10});
    EXPECT_EQ(texts_with(L"Snapshotworker exception happenned in getting snapshot. walk broke").size(), 1u);
}

TEST_F(SnapshotWorkerTest, StoppedWorkerRefusesRequestsAtOnce) {
    SnapshotWorker worker([](int32_t, Frames&) { return S_OK; }, scope);
    current_worker = &worker;
    worker.Stop();
    EXPECT_TRUE(worker.IsWorkerThreadStopped());
    EXPECT_FALSE(worker.AddSnapshot(12));
    Frames list{5};
    EXPECT_EQ(take_snapshot(12, list, test_worker, map), snapshot_not_served);
    EXPECT_EQ(list, Frames{5});
}

TEST_F(SnapshotWorkerTest, RequestStillQueuedWhenTheWorkerStopsIsReleasedAsNotServed) {
    gate door;
    std::vector<int32_t> walked;
    SnapshotWorker worker([&](int32_t native, Frames&) {
        walked.push_back(native);
        door.wait_at();
        return S_OK;
    });
    auto& completion = snapshot_completion::process();
    completion.reset();
    ASSERT_TRUE(worker.AddSnapshot(1));
    door.wait_for_arrivals(1);  // the worker is busy with the first request
    ASSERT_TRUE(worker.AddSnapshot(2));
    worker.NotifyWorkerThread();
    door.open();
    worker.StopWorkerThread();

    EXPECT_EQ(walked, std::vector<int32_t>{1});  // the queued request was never walked
    // The first request was served, and the last word is that the second was not:
    // a requester waiting for it is released.
    EXPECT_EQ(completion.wait(), snapshot_completion::outcome::not_served);
}

TEST_F(SnapshotWorkerTest, SecondStopOnlyLogsAndSecondNotifyIsAlreadyNotified) {
    SnapshotWorker worker([](int32_t, Frames&) { return S_OK; }, scope);
    worker.NotifyWorkerThread();
    const size_t before = texts_with(L"NotifyWorkerThread").size();
    worker.NotifyWorkerThread();
    // The worker thread may log its exit in between; only the notifier's lines count.
    const auto notified = texts_with(L"NotifyWorkerThread");
    EXPECT_EQ(std::vector<std::wstring>(notified.begin() + before, notified.end()),
              (std::vector<std::wstring>{
                  L"SnapshotWorker::NotifyWorkerThread(): notifying thread routine...",
                  L"SnapshotWorker::NotifyWorkerThread(): already notified.",
                  L"SnapshotWorker::NotifyWorkerThread(): thread routine notified.",
              }));

    worker.Stop();
    EXPECT_TRUE(worker.IsWorkerThreadStopped());
    EXPECT_EQ(texts_with(L"Snapshotworker::StopWorkerThread(): thread joined.").size(), 1u);
    EXPECT_EQ(texts_with(L"Snapshotworker exiting thread routine.").size(), 1u);

    const size_t after_first = texts().size();
    worker.Stop();
    const auto all = texts();
    EXPECT_EQ(std::vector<std::wstring>(all.begin() + after_first, all.end()),
              (std::vector<std::wstring>{L"SnapshotWorker::Stop(): stopping...", L"SnapshotWorker::Stop(): stopped."}));
}

TEST_F(SnapshotWorkerTest, StopFromTwoThreadsJoinsOnce) {
    SnapshotWorker worker([](int32_t, Frames&) { return S_OK; }, scope);
    std::thread other([&] { worker.Stop(); });
    worker.Stop();
    other.join();
    EXPECT_TRUE(worker.IsWorkerThreadStopped());
    EXPECT_EQ(texts_with(L"thread joined.").size(), 1u);
    EXPECT_TRUE(texts_with(L"unable to stop").empty());
}

TEST_F(SnapshotWorkerTest, WorkerMessagesAreNotWrittenWhateverTheConfiguredLevel) {
    // The configured level is Trace (see traced); the worker's own scope was built
    // before any configuration was read.
    EXPECT_EQ(sampling_scope().level, Fatal);
    {
        SnapshotWorker worker;
        worker.NotifyWorkerThread();
        worker.NotifyWorkerThread();
        worker.Stop();
    }
    EXPECT_TRUE(texts().empty());
}

}  // namespace
