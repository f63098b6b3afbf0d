/* SPDX-License-Identifier: MIT */
// Times the module's call and its yyjson-only floor in alternation inside one benchmark,
// so machine noise hits both alike; reports both and their ratio.
#ifndef NTSRCH_BENCH_COMMON_H
#define NTSRCH_BENCH_COMMON_H

#include <benchmark/benchmark.h>

#include "ntsrch.h"

#include <chrono>
#include <cstdlib>
#include <cstring>

template <class Lib, class Floor>
void run_against_floor(benchmark::State &state, Lib &&lib, Floor &&floor) {
    using clock = std::chrono::steady_clock;
    double lib_ns = 0, floor_ns = 0;
    for (auto _ : state) {
        auto t0 = clock::now();
        lib();
        auto t1 = clock::now();
        floor();
        auto t2 = clock::now();
        lib_ns += std::chrono::duration<double, std::nano>(t1 - t0).count();
        floor_ns += std::chrono::duration<double, std::nano>(t2 - t1).count();
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["lib_ms"] = lib_ns / n / 1e6;
    state.counters["floor_ms"] = floor_ns / n / 1e6;
    state.counters["ratio"] = floor_ns > 0 ? lib_ns / floor_ns : 0;
}

// lib and floor each return a malloc'd text; they must agree before their times mean
// anything.
template <class Lib, class Floor>
void run_checked_against_floor(benchmark::State &state, Lib &&lib, Floor &&floor) {
    char *a = lib();
    char *b = floor();
    const bool same = a != nullptr && b != nullptr && std::strcmp(a, b) == 0;
    ntsrch_free(a);
    std::free(b);
    if (!same) {
        state.SkipWithError("module output differs from the floor's");
        return;
    }
    run_against_floor(
        state,
        [&] {
            char *s = lib();
            benchmark::DoNotOptimize(s);
            ntsrch_free(s);
        },
        [&] {
            char *s = floor();
            benchmark::DoNotOptimize(s);
            std::free(s);
        });
}

#endif
