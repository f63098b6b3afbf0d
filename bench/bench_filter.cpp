// SPDX-License-Identifier: MIT
// Track filter against its floors on generated track lists. The copy floor parses the same
// text, deep-copies the same kept elements in the same order and writes them; anything
// above 1.0 in vs_copy is the filter's own work.
#include "bench_common.h"
#include "bench_data.h"

namespace {

void bm_filter(benchmark::State &state, const bench::filter_case &c) {
    const bench::Dataset &d = bench::dataset(static_cast<size_t>(state.range(0)));
    const std::vector<size_t> order = bench::expected_order(d, c.query, c.downloaded_only, c.mode);
    std::vector<yyjson_val *> elems;
    elems.reserve(d.tracks.size());
    run_against_floors(
        state, [&] { return bench::filter_call(d, c); },
        [&] { return bench::copy_floor_filter(d, c.downloaded_only, order, elems); },
        [&] { return bench::direct_floor(d.tracks_json); });
    state.counters["kept"] = static_cast<double>(order.size());
}

const bool registered = [] {
    for (const bench::filter_case &c : bench::filter_cases)
        benchmark::RegisterBenchmark((std::string("bm_filter/") + c.name).c_str(), bm_filter, c)
            ->Arg(10000)
            ->Arg(100000)
            ->Unit(benchmark::kMillisecond);
    return true;
}();

} // namespace
