// SPDX-License-Identifier: MIT
// The filter text search on adversarial titles.
#include "bench_data.h"

#include <benchmark/benchmark.h>

#include <chrono>

namespace {

using clock_type = std::chrono::steady_clock;

// Milliseconds of one filter call; the result is released.
template <class Call> double time_ms(Call &&call) {
    const auto t0 = clock_type::now();
    char *s = call();
    benchmark::DoNotOptimize(s);
    ntsrch_free(s);
    return std::chrono::duration<double, std::milli>(clock_type::now() - t0).count();
}

// Titles of 1 MB of "a" searched for 254 "a" then "b": every position matches all but the
// last byte, the worst case of a search that restarts at each position. Reported as a
// ratio to a one-byte query on the same list (same parse, same write).
void BM_SearchAdversarial(benchmark::State &state) {
    std::string json = "[";
    for (int i = 0; i < 8; ++i) {
        if (i) json += ',';
        json += "{\"title\":\"" + std::string(1 << 20, 'a') + "\",\"artist\":\"x\"}";
    }
    json += "]";
    const std::string worst = std::string(254, 'a') + "b";
    double worst_ms = 0, one_ms = 0;
    for (auto _ : state) {
        worst_ms += time_ms([&] {
            return ntsrch_filter_and_sort_tracks_json(json.c_str(), worst.c_str(), 0, nullptr, 0);
        });
        one_ms += time_ms(
            [&] { return ntsrch_filter_and_sort_tracks_json(json.c_str(), "b", 0, nullptr, 0); });
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["worst_ms"] = worst_ms / n;
    state.counters["one_byte_ms"] = one_ms / n;
    state.counters["ratio"] = worst_ms / one_ms;
}
BENCHMARK(BM_SearchAdversarial)->Unit(benchmark::kMillisecond);

} // namespace
