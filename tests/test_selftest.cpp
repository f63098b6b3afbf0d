#include "alloc_fault.h"
#include "ntsrch.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

namespace {

TEST(Selftest, PassesAndLeavesNoMessage) {
    ASSERT_EQ(ntsrch_build_search_url(nullptr, nullptr), nullptr); // a stale message
    EXPECT_EQ(ntsrch_selftest(), 0);
    EXPECT_STREQ(ntsrch_last_error(), "");
}

TEST(Selftest, PassesInConcurrentThreads) {
    std::vector<int> failures(4, -1);
    std::vector<std::string> errors(4);
    std::vector<std::thread> threads;
    for (size_t t = 0; t < failures.size(); ++t) {
        threads.emplace_back([&, t] {
            int failed = 0;
            for (int i = 0; i < 200; ++i)
                failed += ntsrch_selftest() != 0;
            failures[t] = failed;
            errors[t] = ntsrch_last_error();
        });
    }
    for (auto &th : threads)
        th.join();
    for (size_t t = 0; t < failures.size(); ++t) {
        EXPECT_EQ(failures[t], 0) << "thread " << t;
        EXPECT_EQ(errors[t], "") << "thread " << t;
    }
}

// Failing each allocation in turn reaches the URL scenario first (1), then the ordering
// scenario (2), and never a pass that skipped a scenario; nothing leaks.
TEST(Selftest, ReportsTheScenarioThatFailed) {
    if (!alloc_fault::available()) GTEST_SKIP() << "the sanitizer runtime owns the heap";
    std::vector<int> results;
    bool completed = false;
    for (size_t n = 1; n < 200 && !completed; ++n) {
        alloc_fault::arm(n);
        const int r = ntsrch_selftest();
        const bool hit = alloc_fault::attempts() >= n;
        const long live = alloc_fault::live_blocks();
        alloc_fault::disarm();
        EXPECT_EQ(live, 0) << "allocation " << n;
        if (!hit) {
            EXPECT_EQ(r, 0);
            completed = true;
        } else {
            results.push_back(r);
        }
    }
    ASSERT_TRUE(completed);
    ASSERT_GE(results.size(), 2u);
    EXPECT_EQ(results[0], 1) << "the URL is built first, with one allocation";
    for (size_t i = 1; i < results.size(); ++i)
        EXPECT_NE(results[i], 1) << "allocation " << i + 1;
    EXPECT_NE(std::find(results.begin(), results.end(), 2), results.end());
}

} // namespace
