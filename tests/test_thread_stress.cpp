// SPDX-License-Identifier: MIT
// Eight threads call every function at once, with failing and succeeding inputs; each
// checks its results against the single-threaded answers and reads only its own
// last-error text.
#include "gen_data.h"
#include "ntsrch.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace {

struct Op {
    std::string name;
    std::function<char *()> call;
    bool expect_null = false;
    std::string expected; // result, or last-error text when null is expected
};

void add(std::vector<Op> &ops, std::string name, std::function<char *()> call) {
    ops.push_back(Op{std::move(name), std::move(call), false, {}});
}

std::vector<Op> make_ops() {
    static const std::string tracks = gen::tracks(40);
    static const std::string dl = gen::downloaded(40, 4);
    static const std::string uni = gen::unified(20);
    std::vector<Op> ops;
    add(ops, "url", [] { return ntsrch_build_search_url(nullptr, "night skies"); });
    add(ops, "url_base", [] { return ntsrch_build_search_url("https://h//", " Été/x "); });
    add(ops, "url_null", [] { return ntsrch_build_search_url("x", nullptr); });
    add(ops, "url_blank", [] { return ntsrch_build_search_url(nullptr, " \t\n"); });
    for (int mode = 0; mode <= 5; ++mode) {
        add(ops, "filter" + std::to_string(mode), [mode] {
            return ntsrch_filter_and_sort_tracks_json(tracks.c_str(), mode % 2 ? "sky" : nullptr,
                                                      mode == 3, dl.c_str(), mode);
        });
    }
    add(ops, "filter_null",
        [] { return ntsrch_filter_and_sort_tracks_json(nullptr, "", 0, nullptr, 0); });
    add(ops, "filter_object",
        [] { return ntsrch_filter_and_sort_tracks_json("{}", "", 0, nullptr, 0); });
    add(ops, "normalize", [] { return ntsrch_normalize_unified_results_json(uni.c_str(), 0); });
    add(ops, "normalize_cut",
        [] { return ntsrch_normalize_unified_results_json(uni.c_str(), uni.size() / 2); });
    add(ops, "normalize_null", [] { return ntsrch_normalize_unified_results_json(nullptr, 0); });
    for (Op &op : ops) {
        char *r = op.call();
        op.expect_null = r == nullptr;
        op.expected = r ? r : ntsrch_last_error();
        ntsrch_free(r);
    }
    return ops;
}

TEST(ThreadStress, EightThreadsMixingEveryFunction) {
    const std::vector<Op> ops = make_ops();
    int failing = 0;
    for (const Op &op : ops)
        failing += op.expect_null && !op.expected.empty();
    ASSERT_GE(failing, 2) << "the mix needs failures with different messages";

    constexpr int kThreads = 8;
    const char *env = std::getenv("NTSRCH_STRESS_CALLS");
    const int calls = env ? std::atoi(env) : 3000;
    struct Outcome {
        int bad_results = 0, bad_errors = 0, selftest_failures = 0;
        std::string first_bad;
        const char *err_ptr = nullptr;
    };
    std::vector<Outcome> out(kThreads);
    // All eight read their buffer before any calls on: a thread that ended before the next
    // one started may hand it its freed block (Windows does, on a loaded machine).
    std::atomic<int> started{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            Outcome &o = out[t];
            o.err_ptr = ntsrch_last_error();
            started.fetch_add(1);
            while (started.load() < kThreads)
                std::this_thread::yield();
            for (int i = 0; i < calls; ++i) {
                if (i % 500 == 250) {
                    o.selftest_failures += ntsrch_selftest() != 0;
                    continue;
                }
                const Op &op = ops[(static_cast<size_t>(i) * 7 + t * 3) % ops.size()];
                char *r = op.call();
                const char *err = ntsrch_last_error();
                const bool ok = op.expect_null ? r == nullptr && op.expected == err
                                               : r != nullptr && op.expected == r && *err == 0;
                if (!ok) {
                    ++((r == nullptr) == op.expect_null ? o.bad_errors : o.bad_results);
                    if (o.first_bad.empty()) o.first_bad = op.name + " (\"" + err + "\")";
                }
                ntsrch_free(r);
            }
        });
    }
    for (std::thread &th : threads)
        th.join();

    std::set<const char *> buffers;
    for (int t = 0; t < kThreads; ++t) {
        EXPECT_EQ(out[t].bad_results, 0) << "thread " << t << ": " << out[t].first_bad;
        EXPECT_EQ(out[t].bad_errors, 0) << "thread " << t << ": " << out[t].first_bad;
        EXPECT_EQ(out[t].selftest_failures, 0) << "thread " << t;
        buffers.insert(out[t].err_ptr);
    }
    EXPECT_EQ(buffers.size(), static_cast<size_t>(kThreads)) << "threads share a buffer";
}

} // namespace
