// SPDX-License-Identifier: MIT
// The two searches inside the filter: the filter text search on adversarial titles, and
// the scan of the downloaded list for each track.
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

std::string url_list(const std::vector<std::string> &urls) {
    std::string s = "[";
    for (size_t i = 0; i < urls.size(); ++i)
        s += (i ? ",\"" : "\"") + urls[i] + "\"";
    return s + "]";
}

// n tracks (range 0) against m downloaded URLs (range 1), downloaded only. whole_ms: a
// list of which half are tracks of the list; ns_per_pair: a list of URLs of the same shape
// that all miss, so every track is compared with every URL, less the call without a list.
void BM_DownloadedLookup(benchmark::State &state) {
    const size_t n = static_cast<size_t>(state.range(0)), m = static_cast<size_t>(state.range(1));
    const bench::Dataset &d = bench::dataset(n);
    std::mt19937_64 rng(m);
    std::vector<std::string> half, miss;
    for (size_t i = 0; i < m; ++i) {
        char url[96];
        std::snprintf(url, sizeof url, "https://cdn.example.com/stream/%016llx.mp3",
                      static_cast<unsigned long long>(rng()));
        miss.push_back(url);
        half.push_back(i % 2 ? url : d.tracks[rng() % n].url);
    }
    const std::string half_json = url_list(half), miss_json = url_list(miss);
    auto call = [&](const char *list) {
        return [&d, list] {
            return ntsrch_filter_and_sort_tracks_json(d.tracks_json.c_str(), nullptr, 1, list, 0);
        };
    };
    double whole = 0, all_miss = 0, no_list = 0;
    for (auto _ : state) {
        whole += time_ms(call(half_json.c_str()));
        all_miss += time_ms(call(miss_json.c_str()));
        no_list += time_ms(call(nullptr));
    }
    const double it = static_cast<double>(state.iterations());
    state.counters["whole_ms"] = whole / it;
    state.counters["all_miss_ms"] = all_miss / it;
    state.counters["ns_per_pair"] =
        (all_miss - no_list) / it * 1e6 / (static_cast<double>(n) * static_cast<double>(m));
}
BENCHMARK(BM_DownloadedLookup)
    ->Args({10000, 10000})
    ->Args({100000, 100000})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

} // namespace
