#include <vector>

#include <boost/date_time/posix_time/posix_time.hpp>
#include <gtest/gtest.h>

#include "sampling/snapshot_frames.h"
#include "sampling_test_support.h"

namespace {

namespace pt = boost::posix_time;

class SnapshotFrames : public sampling_test::traced {
protected:
    ~SnapshotFrames() override { snapshot_start = pt::ptime(pt::not_a_date_time); }
};

TEST_F(SnapshotFrames, StackWalkIsNotImplementedOnThisPlatform) {
    EXPECT_EQ(thread_do_stack_snapshot(1234), E_NOTIMPL);
}

TEST_F(SnapshotFrames, FrameWithoutListStopsTheWalk) {
    snapshot_start = pt::second_clock::local_time();
    EXPECT_EQ(record_snapshot_frame(0x1000, nullptr, scope), S_FALSE);
    EXPECT_TRUE(texts().empty());
}

TEST_F(SnapshotFrames, FramesOfAWalkOlderThanTheLimitAreNotCollected) {
    const struct {
        const char* name;
        pt::ptime start;
        const wchar_t* logged;
    } rows[] = {
        {"no walk started", pt::ptime(pt::not_a_date_time),
         L"CClrProfiler::NimbrelDoSnapshotCallback().timeout exceeded: 9223372036854775"},
        {"started an hour ago", pt::second_clock::local_time() - pt::hours(1),
         L"CClrProfiler::NimbrelDoSnapshotCallback().timeout exceeded: 3600000"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        snapshot_start = row.start;
        std::vector<uint64_t> frames{7};
        const size_t before = texts().size();
        EXPECT_EQ(record_snapshot_frame(0x1000, &frames, scope), 3);
        EXPECT_EQ(frames, std::vector<uint64_t>{7});
        ASSERT_EQ(texts().size(), before + 1);
        // One extra second may pass between setting the start and the callback.
        const std::wstring text = texts().back();
        EXPECT_TRUE(text == row.logged || (row.start.is_not_a_date_time() == false &&
                                           text == L"CClrProfiler::NimbrelDoSnapshotCallback().timeout exceeded: 3601000"))
            << std::string(text.begin(), text.end());
    }
}

TEST_F(SnapshotFrames, FramesOfAFreshWalkAreCollectedExceptZero) {
    std::vector<uint64_t> frames;
    std::vector<HRESULT> results;
    // The clock has one-second resolution: repeat if it ticked during the calls.
    pt::ptime before, after;
    do {
        frames.clear();
        before = pt::second_clock::local_time();
        snapshot_start = before;
        results = {record_snapshot_frame(0x1000, &frames, scope), record_snapshot_frame(0, &frames, scope),
                   record_snapshot_frame(0x2000, &frames, scope)};
        after = pt::second_clock::local_time();
    } while (after != before);
    EXPECT_EQ(results, (std::vector<HRESULT>{S_OK, S_OK, S_OK}));
    EXPECT_EQ(frames, (std::vector<uint64_t>{0x1000, 0x2000}));
}

}  // namespace
