// SPDX-License-Identifier: MIT
// Unified results normalizer against its floors: yyjson reading the same text,
// deep-copying the same elements into the same shape and writing it (copy floor), and
// yyjson reading it and writing it whole (direct floor).
#include "bench_common.h"
#include "bench_data.h"

namespace {

void BM_Normalize(benchmark::State &state) {
    const std::string text = bench::unified(static_cast<int>(state.range(0)));
    run_against_floors(
        state, [&] { return ntsrch_normalize_unified_results_json(text.data(), text.size()); },
        [&] { return bench::copy_floor_normalize(text); },
        [&] { return bench::direct_floor(text); });
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(text.size()));
}

BENCHMARK(BM_Normalize)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

} // namespace
