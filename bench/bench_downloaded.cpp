// SPDX-License-Identifier: MIT
// The downloaded cases: each URL shape, with a list naming half or all of the tracks, with
// the downloaded-only switch or the downloaded-first order, against the copy floor that
// also parses the list. Then the list built against the set's hash against a random list
// of the same size and shape.
#include "bench_common.h"
#include "downloaded_data.h"

namespace {

using bench::url_shape;

const bench::shaped_data &data(size_t n, url_shape shape) {
    static std::map<std::pair<size_t, int>, std::unique_ptr<bench::shaped_data>> cache;
    auto &slot = cache[{n, static_cast<int>(shape)}];
    if (!slot) slot = bench::shaped(n, shape);
    return *slot;
}

struct downloaded_case {
    url_shape shape;
    bool all;
    bool first;
};

void bm_downloaded(benchmark::State &state, downloaded_case c) {
    const bench::shaped_data &d = data(static_cast<size_t>(state.range(0)), c.shape);
    std::vector<bool> kept;
    const std::string list = bench::downloaded_list(d, c.all, kept);
    const std::vector<size_t> order = bench::downloaded_order(kept, c.first);
    std::vector<yyjson_val *> elems;
    const int only = c.first ? 0 : 1, mode = c.first ? NTSRCH_SORT_DOWNLOADED_FIRST : 0;
    run_against_floors(
        state,
        [&] {
            return ntsrch_filter_and_sort_tracks_json(d.tracks_json.c_str(), nullptr, only,
                                                      list.c_str(), mode);
        },
        [&] { return bench::downloaded_copy_floor(d.tracks_json, list, order, elems); },
        [&] { return bench::direct_floor(d.tracks_json); });
    state.counters["kept"] = static_cast<double>(order.size());
}

// Texts that all share one hash fill one slot: the set is sorted and every lookup is a
// binary search whose compares all reach the strings. Timed in alternation with a list of
// random 64-byte texts of the same layout, which stays a table.
void bm_downloaded_crafted(benchmark::State &state) {
    const size_t n = static_cast<size_t>(state.range(0));
    const bench::shaped_data &crafted = data(n, url_shape::colliding_64);
    const bench::shaped_data &random = data(n, url_shape::random_64);
    std::vector<bool> kept;
    const std::string crafted_list = bench::downloaded_list(crafted, false, kept);
    const std::string random_list = bench::downloaded_list(random, false, kept);
    const std::vector<size_t> order = bench::downloaded_order(kept, false);
    std::vector<yyjson_val *> elems;
    run_against_floors(
        state,
        [&] {
            return ntsrch_filter_and_sort_tracks_json(crafted.tracks_json.c_str(), nullptr, 1,
                                                      crafted_list.c_str(), 0);
        },
        [&] {
            return bench::downloaded_copy_floor(crafted.tracks_json, crafted_list, order, elems);
        },
        [&] {
            return ntsrch_filter_and_sort_tracks_json(random.tracks_json.c_str(), nullptr, 1,
                                                      random_list.c_str(), 0);
        });
    // The third column is the random list here: direct_ms is its time and vs_direct the
    // crafted list over the random one.
    state.counters["random_ms"] = state.counters["direct_ms"];
    state.counters["crafted_vs_random"] = state.counters["vs_direct"];
    state.counters.erase("direct_ms");
    state.counters.erase("vs_direct");
}

const bool registered = [] {
    for (url_shape s :
         {url_shape::distinct_tails, url_shape::common_suffix, url_shape::common_prefix})
        for (bool all : {false, true})
            for (bool first : {false, true}) {
                char name[96];
                std::snprintf(name, sizeof name, "bm_downloaded/%s/%s/%s", bench::shape_name(s),
                              all ? "all" : "half", first ? "first" : "only");
                benchmark::RegisterBenchmark(name, bm_downloaded, downloaded_case{s, all, first})
                    ->Arg(10000)
                    ->Arg(100000)
                    ->Unit(benchmark::kMillisecond);
            }
    benchmark::RegisterBenchmark("bm_downloaded_crafted/colliding64_vs_random64",
                                 bm_downloaded_crafted)
        ->Arg(100000)
        ->Iterations(3)
        ->Unit(benchmark::kMillisecond);
    return true;
}();

} // namespace
