// SPDX-License-Identifier: MIT
#include "ntsrch.h"

#include <gtest/gtest.h>

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

} // namespace
