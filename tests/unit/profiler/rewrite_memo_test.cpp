// The once-only rewrite claim and the kept inlining answers under many JIT threads.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "profiler/inlining_answers.h"
#include "profiler/rewrite_memo.h"

namespace {

TEST(RewriteMemo, OneClaimPerMethodAmongManyThreads) {
    rewrite_memo memo;
    constexpr int threads = 8, methods = 200;
    std::atomic<int> owned{0};
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back([&] {
            for (int m = 0; m < methods; ++m) {
                auto claim = memo.try_claim({0x1000, static_cast<mdMethodDef>(0x06000001 + m)});
                if (claim.owned()) ++owned;
            }
        });
    }
    for (auto& w : workers) w.join();
    EXPECT_EQ(owned.load(), methods);
    EXPECT_EQ(memo.size(), static_cast<size_t>(methods));
}

// A second compilation of a method being rewritten must not start before the new
// body is installed, or it would compile the original IL.
TEST(RewriteMemo, SecondClaimWaitsForTheAttemptToEnd) {
    rewrite_memo memo;
    const method_key key{0x2000, 0x06000007};
    std::atomic<bool> body_installed{false};
    std::atomic<bool> second_returned{false};
    bool second_owned = true;
    bool installed_when_second_returned = false;

    auto first = std::make_unique<rewrite_memo::claim>(memo.try_claim(key));
    ASSERT_TRUE(first->owned());
    std::thread second([&] {
        auto claim = memo.try_claim(key);
        second_owned = claim.owned();
        installed_when_second_returned = body_installed.load();
        second_returned = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(second_returned.load());
    body_installed = true;
    first.reset();  // the attempt ends
    second.join();
    EXPECT_FALSE(second_owned);
    EXPECT_TRUE(installed_when_second_returned);
}

TEST(RewriteMemo, AWaitForAnAttemptThatNeverEndsGivesUpWithoutTheRight) {
    rewrite_memo memo(std::chrono::milliseconds(50));
    const method_key key{0x2000, 0x06000009};
    auto stuck = memo.try_claim(key);  // never released while the other thread asks
    ASSERT_TRUE(stuck.owned());
    bool other_owned = true;
    std::thread other([&] { other_owned = memo.try_claim(key).owned(); });
    other.join();  // returns: the wait is bounded
    EXPECT_FALSE(other_owned);
}

TEST(RewriteMemo, SameThreadAndMarkedAndForgottenKeys) {
    rewrite_memo memo;
    const method_key a{0x3000, 0x06000001}, b{0x3000, 0x06000002}, other_module{0x4000, 0x06000001};
    {
        auto claim = memo.try_claim(a);
        ASSERT_TRUE(claim.owned());
        // Re-entry on the claiming thread neither waits for itself nor claims twice.
        EXPECT_FALSE(memo.try_claim(a).owned());
    }
    EXPECT_FALSE(memo.try_claim(a).owned());

    EXPECT_TRUE(memo.mark(b));
    EXPECT_FALSE(memo.mark(b));
    EXPECT_FALSE(memo.try_claim(b).owned());
    EXPECT_TRUE(memo.try_claim(other_module).owned());

    memo.forget_module(0x3000);
    EXPECT_FALSE(memo.contains(a));
    EXPECT_FALSE(memo.contains(b));
    EXPECT_TRUE(memo.contains(other_module));
    EXPECT_TRUE(memo.try_claim(a).owned());
}

TEST(InliningAnswers, FirstAnswerStaysForEveryLaterQuestion) {
    inlining_answers answers;
    const method_key key{0x5000, 0x06000003};
    EXPECT_FALSE(answers.find(key).has_value());
    EXPECT_FALSE(answers.remember(key, false));
    // A racing thread that computed the other answer gets the stored one back.
    EXPECT_FALSE(answers.remember(key, true));
    EXPECT_EQ(answers.find(key), std::optional<bool>(false));

    std::vector<std::thread> readers;
    std::atomic<int> disagreements{0};
    for (int t = 0; t < 4; ++t) {
        readers.emplace_back([&, t] {
            for (int i = 0; i < 1000; ++i) {
                const method_key mine{0x6000 + static_cast<ModuleID>(t), static_cast<mdMethodDef>(0x06000001 + i)};
                if (answers.remember(mine, i % 2 == 0) != (i % 2 == 0)) ++disagreements;
                if (answers.find(key) != std::optional<bool>(false)) ++disagreements;
            }
        });
    }
    for (auto& r : readers) r.join();
    EXPECT_EQ(disagreements.load(), 0);
    answers.forget_module(0x5000);
    EXPECT_FALSE(answers.find(key).has_value());
    EXPECT_EQ(answers.size(), 4000u);
}

}  // namespace
